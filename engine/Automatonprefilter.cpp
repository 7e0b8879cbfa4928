// The automaton prefilter (see Automatonprefilter.h).
#include "Automatonprefilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <locale>

#ifdef QUORVEX_HAVE_VECTORSCAN
#include <hs/hs.h>
#endif

namespace RegexEngine {

namespace {

bool IsQuantifier(char c)
{
    return c == '*' || c == '+' || c == '?' || c == '{';
}

// Where the bracket expression opening at text[at] ends (the index after its
// `]`); 0 when it holds something not understood.
std::size_t BracketEnd(const std::string& text, std::size_t at)
{
    std::size_t i = at + 1;
    if (i < text.size() && text[i] == '^')
        ++i;
    if (i < text.size() && text[i] == ']')
        ++i;  // a leading `]` is an ordinary member
    while (i < text.size()) {
        const char c = text[i];
        if (c == ']')
            return i + 1;
        if (c == '\\') {
            if (i + 1 >= text.size() || text[i + 1] == 'Q' || text[i + 1] == 'E')
                return 0;
            i += 2;
            continue;
        }
        if (c == '[' && i + 1 < text.size() && (text[i + 1] == ':' || text[i + 1] == '.' || text[i + 1] == '=')) {
            // Named classes are read alike; collating elements and
            // equivalence classes are left alone.
            if (text[i + 1] != ':')
                return 0;
            const std::size_t close = text.find(":]", i + 2);
            if (close == std::string::npos)
                return 0;
            // Under case folding the engine's lower and upper classes take
            // every letter; the automaton's may not.
            const std::string name = text.substr(i + 2, close - i - 2);
            if (name == "lower" || name == "upper")
                return 0;
            i = close + 2;
            continue;
        }
        ++i;
    }
    return 0;
}

}  // namespace

bool AutomatonPrefilter::Rewrite(const std::string& text, std::string& out)
{
    out.clear();
    out.reserve(text.size());
    std::size_t i = 0;
    // Taking out an assertion is sound only when nothing quantifies it.
    const auto dropped = [&](std::size_t next) { return next >= text.size() || !IsQuantifier(text[next]); };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size())
                return false;
            const char e = text[i + 1];
            if (std::strchr("AzZbBG`'<>", e) != nullptr) {
                if (!dropped(i + 2))
                    return false;
                i += 2;
                continue;
            }
            if (e == 'Q') {
                // Quoted text, copied as it stands.
                const std::size_t close = text.find("\\E", i + 2);
                const std::size_t stop = close == std::string::npos ? text.size() : close + 2;
                out.append(text, i, stop - i);
                i = stop;
                continue;
            }
            if (e >= '1' && e <= '9') {
                // A back-reference; with more digits the two syntaxes may
                // read it differently (octal or a later group). The engine
                // lets a reference to a group that took no part match an
                // empty text, the automaton would not: any text instead.
                if (i + 2 < text.size() && text[i + 2] >= '0' && text[i + 2] <= '9')
                    return false;
                out += "(?:[\\s\\S]*)";
                i += 2;
                continue;
            }
            if (std::strchr("0gkpPXNRKCLUlucEHV", e) != nullptr || e == '\0') {
                // Classes, escapes and controls whose meanings differ or are
                // not worth comparing (the automaton's \H and \V leave out
                // bytes above 127 that the engine's take in).
                return false;
            }
            out.append(text, i, 2);
            i += 2;
            continue;
        }
        if (c == '[') {
            const std::size_t end = BracketEnd(text, i);
            if (end == 0)
                return false;
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        if (c == '^' || c == '$') {
            if (!dropped(i + 1))
                return false;
            ++i;
            continue;
        }
        if (c == '(' && i + 1 < text.size() && text[i + 1] == '*')
            return false;  // control verbs
        if (c == '(' && i + 1 < text.size() && text[i + 1] == '?') {
            const char k = i + 2 < text.size() ? text[i + 2] : '\0';
            if (k == '#') {
                const std::size_t close = text.find(')', i);
                if (close == std::string::npos)
                    return false;
                i = close + 1;  // a comment
                continue;
            }
            if (k == ':' || k == '=' || k == '!' || k == '>' || k == '<') {
                out.append(text, i, 3);
                i += 3;
                continue;
            }
            // Inline options: only those that keep the syntax as read here.
            std::size_t j = i + 2;
            while (j < text.size() && std::strchr("imsx-", text[j]) != nullptr && text[j] != '\0') {
                if (text[j] == 'x')
                    return false;
                ++j;
            }
            if (j == i + 2 || j >= text.size() || (text[j] != ')' && text[j] != ':'))
                return false;  // conditionals, recursion, branch reset, ...
            out.append(text, i, j + 1 - i);
            i = j + 1;
            continue;
        }
        if (c == '{' && i + 1 < text.size() && text[i + 1] == ',')
            return false;
        out += c;
        ++i;
    }
    return true;
}

#ifdef QUORVEX_HAVE_VECTORSCAN

struct AutomatonPrefilter::Database {
    hs_database_t* database = nullptr;
    ~Database() { hs_free_database(database); }
};

namespace {

// Whether `locale` classes every byte as the classic locale does and gives
// each the same other case: then the engine reads an expression under it as
// the automaton reads it. UTF-8 locales (C.UTF-8, en_US.UTF-8) are such, as
// they class no single byte above 0x7F.
bool ReadsBytesAsClassic(const std::locale& locale)
{
    if (locale.name() == "C")
        return true;
    using Ctype = std::ctype<char>;
    const Ctype& mine = std::use_facet<Ctype>(locale);
    const Ctype& classic = std::use_facet<Ctype>(std::locale::classic());
    static const Ctype::mask masks[] = {Ctype::space, Ctype::print, Ctype::cntrl, Ctype::upper,
                                        Ctype::lower, Ctype::alpha, Ctype::digit, Ctype::punct,
                                        Ctype::xdigit, Ctype::blank, Ctype::alnum, Ctype::graph};
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (mine.tolower(c) != classic.tolower(c) || mine.toupper(c) != classic.toupper(c))
            return false;
        for (const Ctype::mask m : masks)
            if (mine.is(m, c) != classic.is(m, c))
                return false;
    }
    return true;
}

// One scratch space per thread, grown to fit every database it has served.
struct Scratch {
    hs_scratch_t* scratch = nullptr;
    ~Scratch() { hs_free_scratch(scratch); }
};

struct Candidates {
    const char* data;
    std::size_t size;
    std::vector<std::pair<std::size_t, std::size_t>>* lines;
    bool unordered;
    std::size_t shift;  // bytes scanned before data[0] (see headGuard)
};

int OnMatch(unsigned int, unsigned long long, unsigned long long to, unsigned int, void* context)
{
    auto& c = *static_cast<Candidates*>(context);
    auto& lines = *c.lines;
    if (to <= c.shift)
        return 0;  // in the bytes before the data
    // The last byte of the match (matches are never empty here).
    const std::size_t last = static_cast<std::size_t>(to - c.shift) - 1;
    if (!lines.empty() && last >= lines.back().first && last <= lines.back().second)
        return 0;  // in the last range (its line feed included)
    std::size_t start = last;
    while (start > 0 && c.data[start - 1] != '\n')
        --start;
    const void* feed = std::memchr(c.data + last, '\n', c.size - last);
    const std::size_t end = feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - c.data) : c.size;
    if (!lines.empty() && start < lines.back().first)
        c.unordered = true;
    if (!lines.empty() && start == lines.back().second + 1)
        lines.back().second = end;  // the next line: one range
    else
        lines.emplace_back(start, end);
    return 0;
}

}  // namespace

bool AutomatonPrefilter::Available()
{
    return true;
}

std::unique_ptr<AutomatonPrefilter> AutomatonPrefilter::Compile(const std::string& expression, unsigned flags)
{
    hs_expr_info_t* info = nullptr;
    hs_compile_error_t* failure = nullptr;
    if (hs_expression_info(expression.c_str(), flags | HS_FLAG_ALLOWEMPTY, &info, &failure) != HS_SUCCESS) {
        hs_free_compile_error(failure);
        return nullptr;
    }
    const bool empty = info->min_width == 0;
    std::free(info);
    if (empty)
        return nullptr;  // every line a candidate: nothing to skip
    std::unique_ptr<Database> database(new Database());
    if (hs_compile(expression.c_str(), flags, HS_MODE_BLOCK, nullptr, &database->database, &failure) != HS_SUCCESS) {
        hs_free_compile_error(failure);
        return nullptr;
    }
    std::unique_ptr<AutomatonPrefilter> prefilter(new AutomatonPrefilter());
    prefilter->database_ = std::move(database);
    return prefilter;
}

std::unique_ptr<AutomatonPrefilter> AutomatonPrefilter::Build(const std::string& text, bool icase,
                                                              const boost::regex& compiled)
{
    // One byte, one character: only the classic locale's classes and case
    // folding are the automaton's, and the classic order of its ranges.
    const bool collating = (compiled.flags() & boost::regex::collate) != 0;
    if (!ReadsBytesAsClassic(compiled.getloc()) || (collating && compiled.getloc().name() != "C") ||
        hs_valid_platform() != HS_SUCCESS)
        return nullptr;
    // The automaton's compiler reads a C string: a text holding a NUL would
    // be cut there, and the automaton would stand for another expression
    // than the one compiled (`~\0|` matches everywhere, `~` does not).
    if (text.find('\0') != std::string::npos)
        return nullptr;
    std::string rewritten;
    if (!Rewrite(text, rewritten))
        return nullptr;
    // `.` matching everything only widens the automaton's language.
    unsigned flags = HS_FLAG_PREFILTER | HS_FLAG_DOTALL;
    if (icase)
        flags |= HS_FLAG_CASELESS;
    std::unique_ptr<AutomatonPrefilter> prefilter = Compile(rewritten, flags);
    if (!prefilter)
        return nullptr;
    // `\G` answers where the engine's search began: a window of a whole
    // buffer would move it. Any `\G` in the text (even quoted) keeps the
    // engine on the whole buffer.
    prefilter->searchStartAnchor_ = text.find("\\G") != std::string::npos;
    return prefilter;
}

bool AutomatonPrefilter::CandidateSpans(const char* data, std::size_t size, std::vector<CandidateSpan>& spans) const
{
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    if (!CandidateLines(data, size, lines))
        return false;
    for (const auto& line : lines)
        spans.push_back({line.first, line.first, line.second});
    return true;
}

bool AutomatonPrefilter::CandidateLines(const char* data, std::size_t size,
                                        std::vector<std::pair<std::size_t, std::size_t>>& lines) const
{
    static thread_local Scratch scratch;
    if (size > 0xFFFFFFFFu || hs_alloc_scratch(database_->database, &scratch.scratch) != HS_SUCCESS)
        return false;
    const std::size_t before = lines.size();
    Candidates candidates{data, size, &lines, false, 0};
    // The automaton library misses matches that end among the first bytes
    // of a scan (bytes 17 to 32 of it, seen with `a[0-9]*b` on `ab` and the
    // like: its acceleration skips them). The head of the data is scanned
    // again behind a run of line feeds, where every match it holds ends past
    // those bytes; what that adds (matches that take in the line feeds)
    // only widens the candidates.
    constexpr std::size_t headGuard = 64, headBytes = 256;
    if (size > 16) {
        char head[headGuard + headBytes];
        const std::size_t copied = std::min(size, headBytes);
        std::memset(head, '\n', headGuard);
        std::memcpy(head + headGuard, data, copied);
        Candidates inHead{data, size, &lines, false, headGuard};
        if (hs_scan(database_->database, head, static_cast<unsigned int>(headGuard + copied), 0, scratch.scratch,
                    OnMatch, &inHead) != HS_SUCCESS) {
            lines.resize(before);
            return false;
        }
        candidates.unordered = inHead.unordered;
    }
    if (hs_scan(database_->database, data, static_cast<unsigned int>(size), 0, scratch.scratch, OnMatch,
                &candidates) != HS_SUCCESS) {
        lines.resize(before);
        return false;
    }
    if (candidates.unordered) {
        // Ends reported out of order: sort the ranges and merge overlapping
        // or neighbouring ones.
        std::sort(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end());
        std::size_t out = before;
        for (std::size_t i = before; i < lines.size(); ++i) {
            if (out > before && lines[i].first <= lines[out - 1].second + 1)
                lines[out - 1].second = std::max(lines[out - 1].second, lines[i].second);
            else
                lines[out++] = lines[i];
        }
        lines.resize(out);
    }
    return true;
}

#else

struct AutomatonPrefilter::Database {};

bool AutomatonPrefilter::Available()
{
    return false;
}

std::unique_ptr<AutomatonPrefilter> AutomatonPrefilter::Build(const std::string&, bool, const boost::regex&)
{
    return nullptr;
}

bool AutomatonPrefilter::CandidateLines(const char*, std::size_t, std::vector<std::pair<std::size_t, std::size_t>>&) const
{
    return false;
}

bool AutomatonPrefilter::CandidateSpans(const char*, std::size_t, std::vector<CandidateSpan>&) const
{
    return false;
}

#endif

AutomatonPrefilter::~AutomatonPrefilter() = default;

std::size_t AutomatonPrefilter::ChunkEnd(const char* data, std::size_t at, std::size_t size)
{
    constexpr std::size_t chunk = std::size_t(1) << 20;
    if (size - at <= chunk)
        return size;
    const void* feed = std::memchr(data + at + chunk, '\n', size - at - chunk);
    return feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) + 1 : size;
}

#ifdef QUORVEX_HAVE_VECTORSCAN

std::unique_ptr<AutomatonPrefilter> AutomatonPrefilter::BuildBytes(const std::string& expression)
{
    if (hs_valid_platform() != HS_SUCCESS || expression.find('\0') != std::string::npos)
        return nullptr;
    // Byte mode, no dot, case or UTF-8 option: the expression spells out
    // every byte sequence it takes.
    return Compile(expression, HS_FLAG_PREFILTER);
}

#else

std::unique_ptr<AutomatonPrefilter> AutomatonPrefilter::BuildBytes(const std::string&)
{
    return nullptr;
}

#endif

}  // namespace RegexEngine
