// grep -P's dialect in the engine's syntax (see Perldialect.h).
#include "Perldialect.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace RegexEngine {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The index after the bracket expression that opens at text[i] ('['), or
// npos when it is not closed. A ']' first (after '^') is a member; escapes
// and [:class:] items are skipped whole.
std::size_t BracketEnd(const std::string& text, std::size_t i)
{
    std::size_t k = i + 1;
    if (k < text.size() && text[k] == '^')
        ++k;
    if (k < text.size() && text[k] == ']')
        ++k;
    for (; k < text.size(); ++k) {
        if (text[k] == '\\') {
            ++k;
        } else if (text[k] == '[' && k + 1 < text.size() && text[k + 1] == ':') {
            const std::size_t close = text.find(":]", k + 2);
            if (close != std::string::npos)
                k = close + 1;
        } else if (text[k] == ']') {
            return k + 1;
        }
    }
    return std::string::npos;
}

// The index of the ')' closing the group that opens at text[open], or npos.
std::size_t GroupEnd(const std::string& text, std::size_t open)
{
    int depth = 0;
    for (std::size_t k = open; k < text.size(); ++k) {
        const char c = text[k];
        if (c == '\\') {
            if (k + 1 < text.size() && text[k + 1] == 'Q') {
                const std::size_t end = text.find("\\E", k + 2);
                if (end == std::string::npos)
                    return std::string::npos;
                k = end + 1;
            } else {
                ++k;
            }
        } else if (c == '[') {
            const std::size_t end = BracketEnd(text, k);
            if (end == std::string::npos)
                return std::string::npos;
            k = end - 1;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return k;
        }
    }
    return std::string::npos;
}

// The alternatives at the top level of `body` (the inside of one group).
std::vector<std::string> TopAlternatives(const std::string& body)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t k = 0; k < body.size(); ++k) {
        const char c = body[k];
        if (c == '\\') {
            if (k + 1 < body.size() && body[k + 1] == 'Q') {
                const std::size_t end = body.find("\\E", k + 2);
                k = end == std::string::npos ? body.size() : end + 1;
            } else {
                ++k;
            }
        } else if (c == '[') {
            const std::size_t end = BracketEnd(body, k);
            if (end != std::string::npos)
                k = end - 1;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '|' && depth == 0) {
            parts.push_back(body.substr(start, k - start));
            start = k + 1;
        }
    }
    parts.push_back(body.substr(start));
    return parts;
}

// The number of capturing groups of the whole expression.
unsigned CountGroups(const std::string& text)
{
    unsigned groups = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (c == '\\') {
            if (k + 1 < text.size() && text[k + 1] == 'Q') {
                const std::size_t end = text.find("\\E", k + 2);
                k = end == std::string::npos ? text.size() : end + 1;
            } else {
                ++k;
            }
        } else if (c == '[') {
            const std::size_t end = BracketEnd(text, k);
            if (end != std::string::npos)
                k = end - 1;
        } else if (c == '(') {
            if (k + 1 >= text.size() || (text[k + 1] != '?' && text[k + 1] != '*')) {
                ++groups;
            } else if (text[k + 1] == '?' && k + 2 < text.size()) {
                const char d = text[k + 2];
                const char e = k + 3 < text.size() ? text[k + 3] : '\0';
                if ((d == '<' && e != '=' && e != '!') || d == '\'' || (d == 'P' && e == '<'))
                    ++groups;
            }
        }
    }
    return groups;
}

std::string Hex(unsigned long value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "\\x{%lx}", value);
    return buffer;
}

// \p{NAME} and \P{NAME}: the POSIX class for the general categories the
// engine does not know; empty for the others (left to the engine).
std::string PropertyClass(const std::string& name, bool negated, bool inBrackets)
{
    static const struct {
        const char* property;
        const char* posix;
    } kProperties[] = {{"L", "alpha"}, {"Lu", "upper"}, {"Ll", "lower"}, {"N", "digit"}, {"Nd", "digit"},
                       {"P", "punct"}, {"Z", "space"},  {"Zs", "blank"}};
    for (const auto& known : kProperties) {
        if (name != known.property)
            continue;
        const std::string item = std::string(negated ? "[:^" : "[:") + known.posix + ":]";
        return inBrackets ? item : "[" + item + "]";
    }
    return std::string();
}

class Translator {
public:
    Translator(const std::string& whole, bool unicode) : groups_(CountGroups(whole)), unicode_(unicode) {}

    bool Run(const std::string& text, std::string& out)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\\') {
                if (!Escape(text, i, out, false))
                    return false;
            } else if (c == '[') {
                if (!Bracket(text, i, out))
                    return false;
            } else if (c == '(') {
                if (!Group(text, i, out))
                    return false;
            } else {
                out += c;
            }
        }
        return true;
    }

    std::string error;

private:
    // An escape at text[i] ('\'); i is left on its last character.
    bool Escape(const std::string& text, std::size_t& i, std::string& out, bool inBrackets)
    {
        if (i + 1 >= text.size()) {
            out += '\\';
            return true;
        }
        const char d = text[i + 1];
        if (d == 'Q') {
            const std::size_t end = text.find("\\E", i + 2);
            const std::size_t stop = end == std::string::npos ? text.size() : end;
            for (std::size_t k = i + 2; k < stop; ++k) {
                const char q = text[k];
                if (std::strchr("\\^$.|?*+()[]{}-", q) != nullptr && q != '\0')
                    out += '\\';
                out += q;
            }
            i = end == std::string::npos ? text.size() - 1 : end + 1;
            return true;
        }
        if (d == 'E') {  // a \E without \Q: nothing
            ++i;
            return true;
        }
        if (d == 'c' && i + 2 < text.size()) {  // \cX: the control character, X taken as it is
            out += text.substr(i, 3);
            i += 2;
            return true;
        }
        if (d == 'N') {
            if (i + 2 < text.size() && text[i + 2] == '{') {
                const std::size_t close = text.find('}', i + 3);
                const std::string name = close == std::string::npos ? std::string() : text.substr(i + 3, close - i - 3);
                if (name.size() > 2 && name.compare(0, 2, "U+") == 0 &&
                    name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
                    out += "\\x{" + name.substr(2) + "}";
                    i = close;
                    return true;
                }
                error = "\\N{...} by character name is not supported";
                return false;
            }
            if (inBrackets) {
                error = "\\N is not supported inside brackets";
                return false;
            }
            out += "[^\\n]";
            ++i;
            return true;
        }
        if ((d == 'p' || d == 'P') && i + 2 < text.size() && text[i + 2] == '{') {
            const std::size_t close = text.find('}', i + 3);
            if (close != std::string::npos) {
                std::string name = text.substr(i + 3, close - i - 3);
                bool negated = d == 'P';
                if (!name.empty() && name[0] == '^') {
                    negated = !negated;
                    name.erase(0, 1);
                }
                if (unicode_) {
                    // The Unicode mode reads the categories itself.
                    out += std::string("\\") + (negated ? 'P' : 'p') + "{" + name + "}";
                    i = close;
                    return true;
                }
                const std::string posix = PropertyClass(name, negated, inBrackets);
                if (!posix.empty()) {
                    out += posix;
                    i = close;
                    return true;
                }
            }
        }
        if (!inBrackets && d >= '1' && d <= '9') {
            std::size_t end = i + 1;
            while (end < text.size() && IsDigit(text[end]))
                ++end;
            const std::string digits = text.substr(i + 1, end - i - 1);
            const unsigned long number = std::stoul(digits.substr(0, 9));
            if (digits.size() == 1 || number <= groups_) {
                out += digits.size() == 1 ? "\\" + digits : "\\g{" + digits + "}";
                i = end - 1;
                return true;
            }
            // Fewer groups: up to three octal digits are a character code.
            if (d == '8' || d == '9') {
                error = "\\" + digits + " refers to a group that does not exist";
                return false;
            }
            std::size_t octal = 0;
            unsigned long code = 0;
            while (octal < 3 && octal < digits.size() && digits[octal] <= '7') {
                code = code * 8 + static_cast<unsigned long>(digits[octal] - '0');
                ++octal;
            }
            out += Hex(code) + digits.substr(octal);
            i = end - 1;
            return true;
        }
        out += '\\';
        out += d;
        ++i;
        return true;
    }

    bool Bracket(const std::string& text, std::size_t& i, std::string& out)
    {
        const std::size_t end = BracketEnd(text, i);
        if (end == std::string::npos) {
            out += text.substr(i);  // unterminated: the engine says so
            i = text.size() - 1;
            return true;
        }
        for (std::size_t k = i; k < end; ++k) {
            if (text[k] == '\\' && k > i) {
                if (!Escape(text, k, out, true))
                    return false;
            } else {
                out += text[k];
            }
        }
        i = end - 1;
        return true;
    }

    bool Group(const std::string& text, std::size_t& i, std::string& out)
    {
        const std::string head = text.substr(i, 4);
        if (head.compare(0, 3, "(?P") == 0 && head.size() == 4) {
            const std::size_t close = text.find(head[3] == '<' ? '>' : ')', i + 4);
            if (head[3] == '<') {
                out += "(?<";
                i += 3;  // the name is copied as it comes
                return true;
            }
            if ((head[3] == '=' || head[3] == '>') && close != std::string::npos) {
                const std::string name = text.substr(i + 4, close - i - 4);
                out += head[3] == '=' ? "\\k<" + name + ">" : "(?&" + name + ")";
                i = close;
                return true;
            }
        }
        if (head.compare(0, 3, "(?C") == 0) {  // a callout: no callout is ever set
            const std::size_t close = text.find(')', i);
            if (close != std::string::npos) {
                i = close;
                return true;
            }
        }
        if (head == "(?<=" || head == "(?<!") {
            const std::size_t close = GroupEnd(text, i);
            if (close != std::string::npos) {
                const std::vector<std::string> parts = TopAlternatives(text.substr(i + 4, close - i - 4));
                if (parts.size() > 1) {
                    // Each alternative its own look-behind: the engine needs
                    // one fixed length per look-behind.
                    out += "(?:";
                    for (std::size_t p = 0; p < parts.size(); ++p) {
                        if (p > 0 && head == "(?<=")
                            out += '|';
                        out += head;
                        if (!Run(parts[p], out))
                            return false;
                        out += ')';
                    }
                    out += ')';
                    i = close;
                    return true;
                }
            }
        }
        out += '(';
        return true;
    }

    unsigned groups_;
    bool unicode_;
};

}  // namespace

bool TranslatePerlDialect(const std::string& expression, std::string& translated, std::string& error, bool unicode)
{
    Translator translator(expression, unicode);
    std::string out;
    out.reserve(expression.size() + 8);
    if (!translator.Run(expression, out)) {
        error = translator.error;
        return false;
    }
    translated = std::move(out);
    error.clear();
    return true;
}

}  // namespace RegexEngine
