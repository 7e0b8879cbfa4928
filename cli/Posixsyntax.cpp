// Basic and extended expressions in the normal syntax (see Posixsyntax.h).
#include "Posixsyntax.h"

#include <cctype>
#include <cstring>

namespace QuorvexCli {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Copies the bracket expression starting at expression[i] ('['), making a
// backslash literal and every '[' that does not open [:class:], [=x=] or
// [.x.] escaped. Returns the index after the closing ']', or npos when it
// is not closed (then the caller copies '[' as a literal).
std::size_t CopyBracket(const std::string& expression, std::size_t i, std::string& out)
{
    std::string copy = "[";
    std::size_t k = i + 1;
    if (k < expression.size() && expression[k] == '^')
        copy += expression[k++];
    if (k < expression.size() && expression[k] == ']') {
        copy += "\\]";
        ++k;
    }
    for (; k < expression.size(); ++k) {
        const char c = expression[k];
        if (c == ']') {
            out += copy + "]";
            return k + 1;
        }
        if (c == '[' && k + 1 < expression.size() && std::strchr(":=.", expression[k + 1]) != nullptr) {
            const char kind = expression[k + 1];
            const std::size_t close = expression.find(std::string(1, kind) + "]", k + 2);
            if (close == std::string::npos)
                return std::string::npos;
            copy += expression.substr(k, close + 2 - k);
            k = close + 1;
            continue;
        }
        if (c == '\\' || c == '[')
            copy += '\\';
        copy += c;
    }
    return std::string::npos;
}

// Whether expression[i] ('{' in the extended syntax, after '\' in the basic)
// opens a valid interval {m}, {m,}, {,n} or {m,n}; `end` is then the index
// of its closing brace (of the '}' after '\' in the basic syntax).
bool IsInterval(const std::string& expression, std::size_t i, bool extended, std::size_t& end)
{
    std::size_t k = i + 1;
    bool digits = false;
    while (k < expression.size() && IsDigit(expression[k])) {
        ++k;
        digits = true;
    }
    if (k < expression.size() && expression[k] == ',') {
        ++k;
        while (k < expression.size() && IsDigit(expression[k])) {
            ++k;
            digits = true;
        }
    }
    if (!digits)
        return false;
    if (extended) {
        if (k < expression.size() && expression[k] == '}') {
            end = k;
            return true;
        }
        return false;
    }
    if (k + 1 < expression.size() && expression[k] == '\\' && expression[k + 1] == '}') {
        end = k + 1;
        return true;
    }
    return false;
}

}  // namespace

std::string PosixToNormal(const std::string& expression, bool extended)
{
    std::string out;
    // True where an operand is expected: at the start, after an open group
    // or an alternation (there '*' is literal, and '^' anchors).
    bool start = true;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        const bool atStart = start;
        start = false;
        if (c == '[') {
            const std::size_t next = CopyBracket(expression, i, out);
            if (next == std::string::npos) {
                out += "\\[";
            } else {
                i = next - 1;
            }
            continue;
        }
        if (c == '\\' && i + 1 < expression.size()) {
            const char d = expression[++i];
            if (!extended && (d == '(' || d == '|')) {
                out += d;
                start = true;
            } else if (!extended && (d == ')' || d == '+' || d == '?')) {
                out += d;
            } else if (!extended && d == '{') {
                std::size_t end = 0;
                if (IsInterval(expression, i, false, end)) {
                    // {m,n} without the backslash before the closing brace.
                    out += expression.substr(i, end - 1 - i) + "}";
                    i = end;
                } else {
                    out += "\\{";
                }
            } else if (IsDigit(d) || std::strchr("wWsSbB<>`'", d) != nullptr) {
                out += '\\';
                out += d;
            } else if (std::isalnum(static_cast<unsigned char>(d))) {
                out += d;  // a stray backslash before a letter: the letter
            } else {
                out += '\\';
                out += d;
            }
            continue;
        }
        if (c == '\\') {
            out += "\\\\";  // a trailing backslash
            continue;
        }
        if (c == '*') {
            out += atStart ? "\\*" : "*";
            continue;
        }
        if (extended) {
            if (c == '(' || c == '|') {
                out += c;
                start = true;
            } else if ((c == '+' || c == '?') && atStart) {
                out += '\\';
                out += c;
            } else if (c == '{') {
                std::size_t end = 0;
                if (!atStart && IsInterval(expression, i, true, end)) {
                    out += expression.substr(i, end + 1 - i);
                    i = end;
                } else {
                    out += "\\{";
                }
            } else if (c == '}') {
                out += "\\}";
            } else {
                out += c;
                start = c == '^';
            }
            continue;
        }
        // Basic syntax: ( ) | { } + ? are characters; ^ anchors only at the
        // start, $ only at the end or before \) or \|.
        if (std::strchr("()|{}+?", c) != nullptr) {
            out += '\\';
            out += c;
        } else if (c == '^') {
            out += atStart ? "^" : "\\^";
            start = atStart;
        } else if (c == '$') {
            const bool end = i + 1 == expression.size() ||
                             (i + 2 < expression.size() && expression[i + 1] == '\\' &&
                              (expression[i + 2] == ')' || expression[i + 2] == '|'));
            out += end ? "$" : "\\$";
        } else {
            out += c;
        }
    }
    return out;
}

unsigned CountGroups(const std::string& expression)
{
    unsigned groups = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '\\') {
            if (i + 1 < expression.size() && expression[i + 1] == 'Q') {
                const std::size_t end = expression.find("\\E", i + 2);
                if (end == std::string::npos)
                    break;
                i = end + 1;
            } else {
                ++i;
            }
            continue;
        }
        if (inClass) {
            if (c == ']')
                inClass = false;
            continue;
        }
        if (c == '[') {
            inClass = true;
            if (i + 1 < expression.size() && expression[i + 1] == '^')
                ++i;
            if (i + 1 < expression.size() && expression[i + 1] == ']')
                ++i;
            continue;
        }
        if (c != '(')
            continue;
        if (i + 1 >= expression.size() || expression[i + 1] != '?') {
            if (i + 1 >= expression.size() || expression[i + 1] != '*')  // (*VERB)
                ++groups;
            continue;
        }
        // Named groups capture: (?<name>...), (?'name'...), (?P<name>...).
        const std::string rest = expression.substr(i + 2, 3);
        if ((rest.size() >= 2 && rest[0] == '<' && rest[1] != '=' && rest[1] != '!') ||
            (!rest.empty() && rest[0] == '\'') || rest.compare(0, 2, "P<") == 0)
            ++groups;
    }
    return groups;
}

std::string ShiftBackReferences(const std::string& expression, unsigned offset)
{
    if (offset == 0)
        return expression;
    std::string out;
    bool inClass = false;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '\\' && i + 1 < expression.size()) {
            const char d = expression[i + 1];
            if (!inClass && d >= '1' && d <= '9') {
                std::size_t end = i + 1;
                while (end < expression.size() && IsDigit(expression[end]))
                    ++end;
                out += "\\g{" + std::to_string(std::stoul(expression.substr(i + 1, end - i - 1)) + offset) + "}";
                i = end - 1;
                continue;
            }
            if (!inClass && d == 'g') {
                std::size_t k = i + 2;
                const bool brace = k < expression.size() && expression[k] == '{';
                if (brace)
                    ++k;
                std::size_t end = k;
                while (end < expression.size() && IsDigit(expression[end]))
                    ++end;
                if (end > k && (!brace || (end < expression.size() && expression[end] == '}'))) {
                    out += "\\g{" + std::to_string(std::stoul(expression.substr(k, end - k)) + offset) + "}";
                    i = brace ? end : end - 1;
                    continue;
                }
            }
            if (d == 'Q') {
                const std::size_t end = expression.find("\\E", i + 2);
                const std::size_t stop = end == std::string::npos ? expression.size() : end + 2;
                out += expression.substr(i, stop - i);
                i = stop - 1;
                continue;
            }
            out += c;
            out += d;
            ++i;
            continue;
        }
        if (!inClass && c == '[') {
            inClass = true;
            out += c;
            if (i + 1 < expression.size() && expression[i + 1] == '^')
                out += expression[++i];
            if (i + 1 < expression.size() && expression[i + 1] == ']')
                out += expression[++i];
            continue;
        }
        if (inClass && c == ']')
            inClass = false;
        out += c;
    }
    return out;
}

std::vector<std::string> SplitLines(const std::vector<std::string>& expressions)
{
    std::vector<std::string> lines;
    for (const std::string& expression : expressions) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t feed = expression.find('\n', start);
            lines.push_back(expression.substr(start, feed - start));
            if (feed == std::string::npos)
                break;
            start = feed + 1;
        }
    }
    return lines;
}

}  // namespace QuorvexCli
