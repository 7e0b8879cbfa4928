// System::AnsiString: the framework's text type.
//
// A byte string that never holds a NUL character: every way of making one
// stops at the first NUL of its source, so c_str() always shows the whole
// text. Characters are numbered from 1, as everywhere in the framework.
//
//   System::AnsiString s("abc");
//   s.Length();   // 3
//   s[1];         // 'a'
//   s == "abc";   // true
#ifndef QUORVEX_FRAMEWORK_ANSISTRING_H
#define QUORVEX_FRAMEWORK_ANSISTRING_H

#include "Frameworkexport.h"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace System {

class QUORVEX_FRAMEWORK_API AnsiString {
public:
    // The empty text.
    AnsiString() = default;
    // The characters of a NUL-terminated text; a null pointer gives the empty text.
    AnsiString(const char* text);
    // At most `length` characters of `text`, ending early at a NUL.
    AnsiString(const char* text, std::size_t length);
    // The characters of `text` up to its first NUL.
    explicit AnsiString(const std::string& text);

    // The text, NUL-terminated; valid until the string is next changed.
    const char* c_str() const noexcept { return text_.c_str(); }
    // Number of characters.
    int Length() const noexcept { return static_cast<int>(text_.size()); }
    bool IsEmpty() const noexcept { return text_.empty(); }
    // The character at the 1-based `index`; ERangeError outside 1..Length().
    char operator[](int index) const;
    // The same characters as a std::string.
    std::string ToStdString() const { return text_; }

    AnsiString& operator+=(const AnsiString& other);
    friend AnsiString operator+(AnsiString left, const AnsiString& right) { return left += right; }

    // Byte-wise comparison: negative, 0 or positive.
    int Compare(const AnsiString& other) const noexcept { return text_.compare(other.text_); }
    friend bool operator==(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ == b.text_; }
    friend bool operator!=(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ != b.text_; }
    friend bool operator<(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ < b.text_; }
    friend bool operator<=(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ <= b.text_; }
    friend bool operator>(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ > b.text_; }
    friend bool operator>=(const AnsiString& a, const AnsiString& b) noexcept { return a.text_ >= b.text_; }

private:
    std::string text_;
};

QUORVEX_FRAMEWORK_API std::ostream& operator<<(std::ostream& out, const AnsiString& text);

}  // namespace System

#endif
