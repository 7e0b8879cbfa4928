// System::AnsiString: construction stops at the first NUL, so none is ever held.
#include "Ansistring.h"

#include "Frameworkerrors.h"

#include <cstring>
#include <ostream>

namespace System {

AnsiString::AnsiString(const char* text)
{
    if (text != nullptr)
        text_.assign(text);
}

AnsiString::AnsiString(const char* text, std::size_t length)
{
    if (text == nullptr)
        return;
    const void* nul = std::memchr(text, '\0', length);
    text_.assign(text, nul != nullptr ? static_cast<const char*>(nul) - text : length);
}

AnsiString::AnsiString(const std::string& text) : AnsiString(text.data(), text.size()) {}

char AnsiString::operator[](int index) const
{
    if (index < 1 || index > Length())
        throw Vcl::ERangeError("String index " + std::to_string(index) + " out of range 1.." +
                               std::to_string(Length()));
    return text_[static_cast<std::size_t>(index - 1)];
}

AnsiString& AnsiString::operator+=(const AnsiString& other)
{
    text_ += other.text_;
    return *this;
}

std::ostream& operator<<(std::ostream& out, const AnsiString& text)
{
    return out << text.c_str();
}

}  // namespace System
