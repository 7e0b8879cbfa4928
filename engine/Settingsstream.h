// The stream format of an expression object's settings: decimal tokens
// separated by single spaces, each string preceded by its length in bytes.
//
//   version  n  option x n  m  match option x m  recursion  mergecopy
//   len expression  len subject  len files  len format  len extension
//
// The first four strings are each written as "<len> " followed, when not
// empty, by their bytes and a space; the extension as "<len>" followed, when
// not empty, by a space and its bytes, and nothing after it. Only settings
// travel: the locale, the handlers and the compiled expression stay behind.
//
// The reader takes the whole record or nothing: it reads every token into
// local values and changes the object only when all of them were read. It
// stops at the first token that fails and leaves the stream failed. A count
// or a length never sizes an allocation up front: strings are read in
// bounded chunks, so a length larger than what the stream holds fails when
// the stream runs out.
#ifndef QUORVEX_ENGINE_SETTINGSSTREAM_H
#define QUORVEX_ENGINE_SETTINGSSTREAM_H

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <utility>

namespace RegexEngine {

namespace StreamDetail {

// Reads exactly `length` bytes into `text` (cut at the first NUL byte), in
// chunks of bounded size. False, with the stream failed, when the stream ends
// first.
inline bool ReadBytes(std::istream& is, unsigned length, std::string& text)
{
    constexpr std::size_t chunk = 64 * 1024;
    text.clear();
    char buffer[chunk];
    std::size_t left = length;
    while (left != 0) {
        const std::size_t want = std::min(left, chunk);
        is.read(buffer, static_cast<std::streamsize>(want));
        const std::size_t got = static_cast<std::size_t>(is.gcount());
        text.append(buffer, got);
        if (got != want) {
            is.setstate(std::ios::failbit);
            return false;
        }
        left -= got;
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return true;
}

// A string written as its length, one separator, then its bytes.
inline bool ReadText(std::istream& is, std::string& text)
{
    unsigned length = 0;
    if (!(is >> length))
        return false;
    if (is.get() == std::istream::traits_type::eof()) {
        // The separator after a length is always there, also before an empty string.
        is.setstate(std::ios::failbit);
        return false;
    }
    return ReadBytes(is, length, text);
}

// The last string: its length, and only when it is not 0, a separator and the bytes.
inline bool ReadLastText(std::istream& is, std::string& text)
{
    unsigned length = 0;
    if (!(is >> length))
        return false;
    text.clear();
    if (length == 0)
        return true;
    if (is.get() == std::istream::traits_type::eof()) {
        is.setstate(std::ios::failbit);
        return false;
    }
    return ReadBytes(is, length, text);
}

// A count followed by that many option values, each stored as its low byte.
template <class Set>
bool ReadOptionSet(std::istream& is, Set& set)
{
    using Value = typename Set::value_type;
    int count = 0;
    if (!(is >> count))
        return false;
    if (count < 0) {
        is.setstate(std::ios::failbit);
        return false;
    }
    set.clear();
    // Each round consumes a token or fails, so the stream bounds the loop.
    for (int i = 0; i < count; ++i) {
        int value = 0;
        if (!(is >> value))
            return false;
        set.insert(static_cast<Value>(static_cast<unsigned char>(value)));
    }
    return true;
}

template <class Set>
void WriteOptionSet(std::ostream& os, const Set& set)
{
    os << static_cast<int>(set.size()) << ' ';
    for (const auto value : set)
        os << static_cast<int>(value) << ' ';
}

inline void WriteText(std::ostream& os, const std::string& text)
{
    os << static_cast<unsigned>(text.size()) << ' ';
    if (!text.empty()) {
        os.write(text.data(), static_cast<std::streamsize>(text.size()));
        os << ' ';
    }
}

inline void WriteLastText(std::ostream& os, const std::string& text)
{
    os << static_cast<unsigned>(text.size());
    if (!text.empty()) {
        os << ' ';
        os.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

}  // namespace StreamDetail

template <class Object>
std::ostream& WriteSettings(std::ostream& os, const Object& o, int version)
{
    using namespace StreamDetail;
    os << version << ' ';
    WriteOptionSet(os, o.ExpressionOptions);
    WriteOptionSet(os, o.MatchOptions);
    os << o.DirectoryRecursion << ' ' << o.MergeCopy << ' ';
    WriteText(os, o.Expression);
    WriteText(os, o.StringToMatch);
    WriteText(os, o.FilesToMatch);
    WriteText(os, o.FormatString);
    WriteLastText(os, o.SaveExtension);
    return os;
}

template <class Object>
std::istream& ReadSettings(std::istream& is, Object& o)
{
    using namespace StreamDetail;
    int version = 0;  // any version is read by the same rules
    decltype(o.ExpressionOptions) options;
    decltype(o.MatchOptions) matches;
    bool recursion = false;
    bool mergeCopy = false;
    std::string expression, subject, files, format, extension;

    const bool complete = (is >> version) && ReadOptionSet(is, options) && ReadOptionSet(is, matches) &&
                          (is >> recursion) && (is >> mergeCopy) && ReadText(is, expression) &&
                          ReadText(is, subject) && ReadText(is, files) && ReadText(is, format) &&
                          ReadLastText(is, extension);
    if (!complete) {
        is.setstate(std::ios::failbit);
        return is;
    }
    o.ExpressionOptions = std::move(options);
    o.MatchOptions = std::move(matches);
    o.DirectoryRecursion = recursion;
    o.MergeCopy = mergeCopy;
    o.Expression = std::move(expression);
    o.StringToMatch = std::move(subject);
    o.FilesToMatch = std::move(files);
    o.FormatString = std::move(format);
    o.SaveExtension = std::move(extension);
    o.ExpressionParsed = false;
    return is;
}

}  // namespace RegexEngine

#endif
