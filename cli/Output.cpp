// Buffered standard output, colours, diagnostics and the progress line.
#include "Output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform.h"

namespace QuorvexCli {
namespace {

// Writes the whole range, retrying after interruptions and short writes.
bool WriteAll(int fd, const char* data, std::size_t length)
{
    return RegexPlatform::WriteStandard(fd, data, length);
}

const char* Escape(Paint role)
{
    switch (role) {
    case Paint::Match: return "\33[01;31m\33[K";
    case Paint::FileName: return "\33[35m\33[K";
    case Paint::LineNumber: return "\33[32m\33[K";
    case Paint::Separator: return "\33[36m\33[K";
    case Paint::Removed: return "\33[31m\33[K";
    case Paint::Added: return "\33[32m\33[K";
    case Paint::ByteOffset: return "\33[32m\33[K";
    }
    return "";
}

const char kReset[] = "\33[m\33[K";

}  // namespace

Output::Output(int fd, bool colour) : fd_(fd), colour_(colour)
{
    buffer_.reserve(kBlock + 4096);
}

Output::~Output()
{
    Flush();
}

void Output::WriteSlow(const char* text, std::size_t length)
{
    Flush();
    if (failed_)
        return;
    if (length >= kBlock) {  // a huge piece goes straight out
        if (!WriteAll(fd_, text, length))
            failed_ = true;
        return;
    }
    buffer_.append(text, length);
}

void Output::Number(unsigned long long value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Write(p, static_cast<std::size_t>(end - p));
}

void Output::PaintedSlow(Paint role, const std::string& text)
{
    const char* on = Escape(role);
    Write(on, std::strlen(on));
    Write(text);
    Write(kReset, sizeof kReset - 1);
}

void Output::PaintedSeparator(char c)
{
    Painted(Paint::Separator, std::string(1, c));
}

bool Output::Flush()
{
    // After a failed write the output is dropped: the buffer only keeps
    // being emptied, so that memory stays bounded.
    if (!failed_ && !buffer_.empty() && !WriteAll(fd_, buffer_.data(), buffer_.size()))
        failed_ = true;
    buffer_.clear();
    return !failed_;
}

bool IsColourTerminal(int fd)
{
    if (!RegexPlatform::IsTerminal(fd))
        return false;
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

std::string QuoteName(const std::string& name)
{
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (std::none_of(name.begin(), name.end(), control))
        return name;
    std::string out;
    std::size_t at = 0;
    while (at < name.size()) {
        if (control(name[at])) {
            out += "$'";
            for (; at < name.size() && control(name[at]); ++at) {
                static const char letters[] = "\\a\\b\\t\\n\\v\\f\\r";  // codes 7 to 13
                const unsigned char c = static_cast<unsigned char>(name[at]);
                if (c >= 7 && c <= 13) {
                    out.append(letters + 2 * (c - 7), 2);
                } else {
                    out += '\\';
                    out += static_cast<char>('0' + (c >> 6));
                    out += static_cast<char>('0' + ((c >> 3) & 7));
                    out += static_cast<char>('0' + (c & 7));
                }
            }
            out += '\'';
            continue;
        }
        out += '\'';
        for (; at < name.size() && !control(name[at]); ++at) {
            if (name[at] == '\'')
                out += "'\\''";
            else
                out += name[at];
        }
        out += '\'';
    }
    return out;
}

void Diagnose(const std::string& text)
{
    std::string line = "quorvex: " + text + "\n";
    WriteAll(2, line.data(), line.size());
}

Progress::Progress(bool enabled)
    : enabled_(enabled && RegexPlatform::IsTerminal(2)), start_(Clock::now()), last_(start_)
{
}

Progress::~Progress()
{
    Clear();
}

void Progress::Update(std::size_t filesDone, std::size_t filesTotal, unsigned long long changes)
{
    if (!enabled_)
        return;
    // Short runs show nothing; long ones redraw about five times a second.
    Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(700) || now - last_ < std::chrono::milliseconds(200))
        return;
    last_ = now;
    char line[160];
    int length = std::snprintf(line, sizeof line, "\rquorvex: %zu of %zu files, %llu replacements\33[K",
                               filesDone, filesTotal, changes);
    if (length > 0)
        WriteAll(2, line, static_cast<std::size_t>(length) < sizeof line ? static_cast<std::size_t>(length)
                                                                        : sizeof line - 1);
    shown_ = true;
}

void Progress::Clear()
{
    if (!shown_)
        return;
    WriteAll(2, "\r\33[K", 4);
    shown_ = false;
}

}  // namespace QuorvexCli
