// The expression analyser (see Expressionanalyser.h). A recursive-descent
// reader over the normal syntax computes, for each part of the expression, a
// small summary (Info) and combines the summaries bottom-up.
#include "Expressionanalyser.h"

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstring>
#include <exception>
#include <locale>
#include <new>

namespace RegexEngine {

namespace {

constexpr std::size_t maxTexts = 16;       // texts in one set
constexpr std::size_t maxTextLength = 64;  // bytes in one text
constexpr std::size_t smallSet = 10;       // sets read as texts: at most this many bytes
constexpr unsigned infinite = ~0u;

using Texts = std::vector<std::string>;

// What the analyser knows of one part of the expression.
struct Info {
    // The texts this part can consume, in the engine's order of preference;
    // valid when `exactKnown`. Zero-width parts consume the empty text.
    bool exactKnown = false;
    Texts exact;
    bool pure = true;  // nothing but literal texts: `exact` is all there is to it
    // Every text this part consumes begins with / contains one of these
    // (non-empty) texts; empty when unknown.
    Texts prefixes;
    Texts required;
    bool lineFeed = false;
    bool lineFeedBesidesDot = false;
    std::bitset<256> bytes;  // every byte of every text it consumes is one of these
};

bool HasEmpty(const Texts& texts)
{
    return std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return t.empty(); });
}

void AppendUnique(Texts& to, const std::string& text)
{
    if (std::find(to.begin(), to.end(), text) == to.end())
        to.push_back(text);
}

// All texts a + b, in order of a then of b; false when too many or too long.
bool Cross(const Texts& a, const Texts& b, Texts& out)
{
    Texts result;
    for (const auto& x : a) {
        for (const auto& y : b) {
            if (x.size() + y.size() > maxTextLength)
                return false;
            AppendUnique(result, x + y);
            if (result.size() > maxTexts)
                return false;
        }
    }
    out = std::move(result);
    return true;
}

// Which of two literal sets is the better filter: longer shortest text first,
// then fewer texts.
bool Better(const Texts& a, const Texts& b)
{
    if (a.empty() || HasEmpty(a))
        return false;
    if (b.empty() || HasEmpty(b))
        return true;
    auto shortest = [](const Texts& t) {
        std::size_t n = maxTextLength;
        for (const auto& s : t)
            n = std::min(n, s.size());
        return std::min<std::size_t>(n, 4);
    };
    if (shortest(a) != shortest(b))
        return shortest(a) > shortest(b);
    return a.size() < b.size();
}

void Offer(Texts& best, const Texts& candidate)
{
    if (Better(candidate, best))
        best = candidate;
}

// Completes an Info: its exact texts and prefixes are also filters.
Info Finish(Info info)
{
    if (info.exactKnown && !HasEmpty(info.exact)) {
        if (info.prefixes.empty())
            info.prefixes = info.exact;
        Offer(info.required, info.exact);
    }
    Offer(info.required, info.prefixes);
    return info;
}

class GiveUp : public std::exception {};

class Analyser {
public:
    Analyser(const std::string& text, bool icase, const boost::regex& compiled)
        : text_(text), compiled_(compiled)
    {
        const auto& ctype = std::use_facet<std::ctype<char>>(compiled.getloc());
        for (int b = 0; b < 256; ++b)
            key_[b] = static_cast<unsigned char>(icase ? ctype.tolower(static_cast<char>(b)) : b);
    }

    ExpressionFacts Run()
    {
        ExpressionFacts facts;
        // The normal syntax only, with or without case and collation.
        const auto syntax = compiled_.flags() & ~(boost::regex::icase | boost::regex::collate |
                                                  boost::regex::no_except | boost::regex::failbit);
        if (syntax != boost::regex::normal || compiled_.status() != 0)
            return facts;
        try {
            const Info info = Alternation();
            if (at_ != text_.size())
                return facts;
            facts.understood = true;
            facts.lineFeed = info.lineFeed;
            facts.lineFeedBesidesDot = info.lineFeedBesidesDot;
            facts.bytes = info.bytes;
            facts.prefixes = info.prefixes;
            facts.required = info.required;
            if (info.exactKnown && !HasEmpty(info.exact)) {
                if (info.pure && groups_.empty()) {
                    facts.plain = info.exact;
                } else if (topGroupPure_ && groups_.size() == 1) {
                    facts.plain = info.exact;
                    facts.wholeGroup = true;
                }
            }
        } catch (const GiveUp&) {
            facts = ExpressionFacts();
        }
        return facts;
    }

private:
    struct Group {
        bool closed = false;
        bool lineFeed = true;
        bool lineFeedBesidesDot = true;
        std::bitset<256> bytes = std::bitset<256>().set();
    };

    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }

    Info Alternation()
    {
        Info result = Concatenation();
        if (Peek() != '|')
            return result;
        bool exactOk = result.exactKnown, prefixOk = !result.prefixes.empty(), requiredOk = !result.required.empty();
        Texts exact = result.exact, prefixes = result.prefixes, required = result.required;
        while (Peek() == '|') {
            ++at_;
            const Info branch = Concatenation();
            result.pure = result.pure && branch.pure;
            result.lineFeed = result.lineFeed || branch.lineFeed;
            result.lineFeedBesidesDot = result.lineFeedBesidesDot || branch.lineFeedBesidesDot;
            result.bytes |= branch.bytes;
            exactOk = exactOk && branch.exactKnown;
            prefixOk = prefixOk && !branch.prefixes.empty();
            requiredOk = requiredOk && !branch.required.empty();
            if (exactOk)
                for (const auto& t : branch.exact)
                    AppendUnique(exact, t);
            if (prefixOk)
                for (const auto& t : branch.prefixes)
                    AppendUnique(prefixes, t);
            if (requiredOk)
                for (const auto& t : branch.required)
                    AppendUnique(required, t);
            exactOk = exactOk && exact.size() <= maxTexts;
            prefixOk = prefixOk && prefixes.size() <= maxTexts;
            requiredOk = requiredOk && required.size() <= maxTexts;
        }
        result.exactKnown = exactOk;
        result.exact = exactOk ? exact : Texts();
        result.prefixes = prefixOk ? prefixes : Texts();
        result.required = requiredOk ? required : Texts();
        return Finish(result);
    }

    Info Concatenation()
    {
        std::vector<Info> items;
        while (!AtEnd() && Peek() != '|' && Peek() != ')')
            items.push_back(Quantified());

        Info result;
        result.exactKnown = true;
        result.exact = {std::string()};
        Texts prefixes = {std::string()};
        bool prefixOpen = true;  // still extending the prefixes
        Texts run = {std::string()};
        Texts required;
        for (const Info& item : items) {
            result.pure = result.pure && item.pure;
            result.lineFeed = result.lineFeed || item.lineFeed;
            result.lineFeedBesidesDot = result.lineFeedBesidesDot || item.lineFeedBesidesDot;
            result.bytes |= item.bytes;
            Offer(required, item.required);
            if (result.exactKnown && !(item.exactKnown && Cross(result.exact, item.exact, result.exact))) {
                result.exactKnown = false;
                result.exact.clear();
            }
            if (prefixOpen) {
                if (!(item.exactKnown && Cross(prefixes, item.exact, prefixes))) {
                    prefixOpen = false;
                    Texts extended;
                    if (!item.prefixes.empty() && Cross(prefixes, item.prefixes, extended))
                        prefixes = extended;
                }
            }
            if (!(item.exactKnown && Cross(run, item.exact, run))) {
                // What the item consumes begins with one of its prefixes, right
                // after the run: the run followed by a prefix is in every match.
                Texts joined;
                if (!item.prefixes.empty() && Cross(run, item.prefixes, joined))
                    Offer(required, joined);
                Offer(required, run);
                run = item.exactKnown ? item.exact : Texts{std::string()};
            }
        }
        Offer(required, run);
        if (!HasEmpty(prefixes))
            result.prefixes = prefixes;
        result.required = required;
        return Finish(result);
    }

    // Reads a number of an interval; false when there is none.
    bool Number(unsigned& value)
    {
        const std::size_t start = at_;
        value = 0;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            value = value * 10 + static_cast<unsigned>(Peek() - '0');
            if (value > 100000)
                throw GiveUp();
            ++at_;
        }
        return at_ != start;
    }

    Info Quantified()
    {
        const bool zeroWidth = IsAssertionAhead();
        Info item = Atom();
        for (;;) {
            unsigned low = 0, high = 0;
            const char c = Peek();
            if (c == '*') {
                low = 0, high = infinite;
                ++at_;
            } else if (c == '+') {
                low = 1, high = infinite;
                ++at_;
            } else if (c == '?') {
                low = 0, high = 1;
                ++at_;
            } else if (c == '{') {
                ++at_;
                if (!Number(low))
                    throw GiveUp();
                high = low;
                if (Peek() == ',') {
                    ++at_;
                    if (!Number(high))
                        high = infinite;
                }
                if (Peek() != '}' || high < low)
                    throw GiveUp();
                ++at_;
            } else {
                return item;
            }
            if (zeroWidth)
                throw GiveUp();
            bool lazy = false, possessive = false;
            if (Peek() == '?') {
                lazy = true;
                ++at_;
            } else if (Peek() == '+') {
                possessive = true;
                ++at_;
            }
            item = Repeat(item, low, high, lazy, possessive);
            // A second quantifier in a row is not something to guess about.
            if (Peek() == '*' || Peek() == '+' || Peek() == '?' || Peek() == '{')
                throw GiveUp();
        }
    }

    static Info Repeat(const Info& x, unsigned low, unsigned high, bool lazy, bool possessive)
    {
        Info r;
        r.lineFeed = x.lineFeed;
        r.lineFeedBesidesDot = x.lineFeedBesidesDot;
        r.bytes = x.bytes;
        r.pure = x.pure && !possessive;
        if (low >= 1) {
            r.prefixes = x.prefixes;
            r.required = x.required;
        }
        if (x.exactKnown && low == 0 && high == 1) {
            Texts texts;
            if (lazy)
                texts.push_back(std::string());
            for (const auto& t : x.exact)
                AppendUnique(texts, t);
            AppendUnique(texts, std::string());
            r.exactKnown = texts.size() <= maxTexts;
            if (r.exactKnown)
                r.exact = texts;
        } else if (x.exactKnown && low == high && low <= 8) {
            Texts texts = {std::string()};
            r.exactKnown = true;
            for (unsigned i = 0; i < low && r.exactKnown; ++i)
                r.exactKnown = Cross(texts, x.exact, texts);
            if (r.exactKnown)
                r.exact = texts;
        }
        if (!r.exactKnown)
            r.pure = false;
        return Finish(r);
    }

    bool IsAssertionAhead() const
    {
        const char c = Peek();
        if (c == '^' || c == '$')
            return true;
        if (c == '\\' && at_ + 1 < text_.size())
            return std::strchr("bB<>Az`'", text_[at_ + 1]) != nullptr && text_[at_ + 1] != '\0';
        return false;
    }

    Info Literal(unsigned char c)
    {
        Info info;
        info.exactKnown = true;
        info.exact = {std::string(1, static_cast<char>(c))};
        info.lineFeed = info.lineFeedBesidesDot = key_[c] == key_[static_cast<unsigned char>('\n')];
        for (int b = 0; b < 256; ++b)
            info.bytes[static_cast<std::size_t>(b)] = key_[b] == key_[c];
        return Finish(info);
    }

    static Info Assertion()
    {
        Info info;
        info.exactKnown = true;
        info.exact = {std::string()};
        info.pure = false;
        return info;
    }

    // A set or class escape: which bytes it matches is asked of the engine
    // itself, compiled the same way under the same locale.
    Info CharacterClass(const std::string& source)
    {
        boost::regex single;
        single.imbue(compiled_.getloc());
        single.assign(source, (compiled_.flags() & ~boost::regex::failbit) | boost::regex::no_except);
        if (single.status() != 0 || single.mark_count() != 0)
            throw GiveUp();
        std::bitset<256> members;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            members[static_cast<std::size_t>(b)] = boost::regex_match(&c, &c + 1, single);
        }
        Info info;
        info.lineFeed = info.lineFeedBesidesDot = members['\n'];
        info.bytes = members;
        // A few texts when the set is small (up to the ten digits): one byte
        // per fold key, and with icase only when the set holds every byte of
        // that key.
        Texts texts;
        for (int b = 0; b < 256 && texts.size() <= smallSet; ++b) {
            if (!members[static_cast<std::size_t>(b)])
                continue;
            bool first = true;
            for (int o = 0; o < 256; ++o) {
                if (key_[o] != key_[b])
                    continue;
                if (!members[static_cast<std::size_t>(o)]) {
                    texts.assign(smallSet + 1, std::string());  // not a whole key: no texts
                    break;
                }
                if (o < b)
                    first = false;
            }
            if (texts.size() > smallSet)
                break;
            if (first)
                texts.push_back(std::string(1, static_cast<char>(b)));
        }
        if (!texts.empty() && texts.size() <= smallSet) {
            info.exactKnown = true;
            info.exact = texts;
        } else {
            info.pure = false;
        }
        return Finish(info);
    }

    Info Set()
    {
        const std::size_t start = at_;
        ++at_;  // [
        if (Peek() == '^')
            ++at_;
        if (Peek() == ']')
            ++at_;
        for (;;) {
            if (AtEnd())
                throw GiveUp();
            const char c = text_[at_];
            if (c == ']') {
                ++at_;
                break;
            }
            if (c == '[') {
                const char kind = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
                if (kind == ':') {
                    const std::size_t close = text_.find(":]", at_ + 2);
                    if (close == std::string::npos)
                        throw GiveUp();
                    at_ = close + 2;
                    continue;
                }
                if (kind == '=' || kind == '.')
                    throw GiveUp();  // collating elements and equivalence classes
                ++at_;
                continue;
            }
            if (c == '\\') {
                if (at_ + 1 >= text_.size())
                    throw GiveUp();
                const char e = text_[at_ + 1];
                const bool known = std::strchr("dswDSWntrfae", e) != nullptr ||
                                   (!std::isalnum(static_cast<unsigned char>(e)) &&
                                    static_cast<unsigned char>(e) < 0x80);
                if (!known || e == '\0')
                    throw GiveUp();
                at_ += 2;
                continue;
            }
            ++at_;
        }
        return CharacterClass(text_.substr(start, at_ - start));
    }

    Info Escape()
    {
        if (at_ + 1 >= text_.size())
            throw GiveUp();
        const char e = text_[at_ + 1];
        at_ += 2;
        switch (e) {
        case 'd': case 'D': case 's': case 'S': case 'w': case 'W':
            return CharacterClass(std::string("\\") + e);
        case 'b': case 'B': case '<': case '>': case 'A': case 'z': case '`': case '\'':
            return Assertion();
        case 'n': return Literal('\n');
        case 't': return Literal('\t');
        case 'r': return Literal('\r');
        case 'f': return Literal('\f');
        case 'a': return Literal('\a');
        case 'e': return Literal(0x1B);
        case 'Q': {
            const std::size_t end = text_.find("\\E", at_);
            const std::string quoted = text_.substr(at_, end == std::string::npos ? std::string::npos : end - at_);
            at_ = end == std::string::npos ? text_.size() : end + 2;
            Info info;
            info.exactKnown = true;
            info.exact = {std::string()};
            for (const char c : quoted) {
                const Info one = Literal(static_cast<unsigned char>(c));
                if (!Cross(info.exact, one.exact, info.exact))
                    throw GiveUp();
                info.lineFeed = info.lineFeed || one.lineFeed;
                info.bytes |= one.bytes;
            }
            info.lineFeedBesidesDot = info.lineFeed;
            return Finish(info);
        }
        default:
            break;
        }
        if (e >= '1' && e <= '9') {
            if (Peek() >= '0' && Peek() <= '9')
                throw GiveUp();
            const std::size_t index = static_cast<std::size_t>(e - '1');
            Info info;
            info.pure = false;
            if (index < groups_.size() && groups_[index].closed) {
                info.lineFeed = groups_[index].lineFeed;
                info.lineFeedBesidesDot = groups_[index].lineFeedBesidesDot;
                info.bytes = groups_[index].bytes;
            } else {
                info.lineFeed = info.lineFeedBesidesDot = true;
                info.bytes.set();
            }
            return info;
        }
        const unsigned char u = static_cast<unsigned char>(e);
        if (u >= 0x80 || std::isalnum(u) || e == '\0')
            throw GiveUp();
        return Literal(u);
    }

    Info Atom()
    {
        const char c = Peek();
        switch (c) {
        case '(': {
            ++at_;
            const std::size_t outerStart = at_ - 1;
            bool capturing = true;
            if (Peek() == '?') {
                if (at_ + 1 < text_.size() && text_[at_ + 1] == ':') {
                    capturing = false;
                    at_ += 2;
                } else {
                    throw GiveUp();  // look-around, options, names, conditionals, ...
                }
            }
            std::size_t index = 0;
            if (capturing) {
                index = groups_.size();
                groups_.emplace_back();
            }
            Info inner = Alternation();
            if (Peek() != ')')
                throw GiveUp();
            ++at_;
            if (capturing) {
                groups_[index].closed = true;
                groups_[index].lineFeed = inner.lineFeed;
                groups_[index].lineFeedBesidesDot = inner.lineFeedBesidesDot;
                groups_[index].bytes = inner.bytes;
                if (outerStart == 0 && at_ == text_.size())
                    topGroupPure_ = inner.pure && groups_.size() == 1;
                inner.pure = false;
            }
            return inner;
        }
        case '[':
            return Set();
        case '\\':
            return Escape();
        case '.': {
            ++at_;
            Info info;
            info.pure = false;
            info.lineFeed = true;
            info.lineFeedBesidesDot = false;
            info.bytes.set();
            return info;
        }
        case '^':
        case '$':
            ++at_;
            return Assertion();
        case '*': case '+': case '?': case '{': case '}': case ']': case ')': case '|':
            throw GiveUp();
        default:
            ++at_;
            return Literal(static_cast<unsigned char>(c));
        }
    }

    const std::string& text_;
    const boost::regex& compiled_;
    unsigned char key_[256];
    std::size_t at_ = 0;
    std::vector<Group> groups_;
    bool topGroupPure_ = false;
};

}  // namespace

ExpressionFacts AnalyseExpression(const std::string& text, bool icase, const boost::regex& compiled)
{
    try {
        return Analyser(text, icase, compiled).Run();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return ExpressionFacts();  // anything unexpected: give up
    }
}

}  // namespace RegexEngine
