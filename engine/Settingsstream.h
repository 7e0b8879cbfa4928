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
// Numbers are written and read in the classic locale with the default number
// formatting, whatever the stream's own locale and flags (a locale that
// groups digits would write 1.500 for 1500): a record written anywhere reads
// back anywhere. Both restore the stream's locale and flags afterwards.
//
// The reader takes a version it knows (1, or the writer's current version),
// option values that name options and flags that are 0 or 1; anything else
// fails the stream.
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
#include <ios>
#include <istream>
#include <locale>
#include <ostream>
#include <string>
#include <utility>

#include "Regularexpressionvalues.h"

namespace RegexEngine {

namespace StreamDetail {

// The classic locale and the default number formatting on a stream for the
// length of one record; the stream's own are put back afterwards.
class ClassicNumbers {
public:
    explicit ClassicNumbers(std::ios& stream)
        : stream_(stream), locale_(stream.imbue(std::locale::classic())), flags_(stream.flags(std::ios::skipws | std::ios::dec)),
          width_(stream.width(0))
    {
    }
    ~ClassicNumbers()
    {
        stream_.imbue(locale_);
        stream_.flags(flags_);
        stream_.width(width_);
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

private:
    std::ios& stream_;
    std::locale locale_;
    std::ios::fmtflags flags_;
    std::streamsize width_;
};

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

// A count followed by that many option values, each below `known`.
template <class Set>
bool ReadOptionSet(std::istream& is, Set& set, unsigned known)
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
        if (value < 0 || static_cast<unsigned>(value) >= known) {
            is.setstate(std::ios::failbit);  // no option has that value
            return false;
        }
        set.insert(static_cast<Value>(value));
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
    const ClassicNumbers classic(os);
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

// The record layout every version so far writes.
constexpr int FirstStreamVersion = 1;

// Reads a record of version FirstStreamVersion or `currentVersion` (what the
// writer of this program writes).
template <class Object>
std::istream& ReadSettings(std::istream& is, Object& o, int currentVersion = FirstStreamVersion)
{
    using namespace StreamDetail;
    const ClassicNumbers classic(is);
    int version = 0;
    decltype(o.ExpressionOptions) options;
    decltype(o.MatchOptions) matches;
    bool recursion = false;
    bool mergeCopy = false;
    std::string expression, subject, files, format, extension;

    const auto knownVersion = [&] {
        if (version == FirstStreamVersion || version == currentVersion)
            return true;
        is.setstate(std::ios::failbit);
        return false;
    };
    const bool complete = (is >> version) && knownVersion() &&
                          ReadOptionSet(is, options, RegexValues::CompileOptionCount) &&
                          ReadOptionSet(is, matches, RegexValues::MatchOptionCount) &&
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
