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

// The colours of the roles, as grep reads them: GREP_COLOR (deprecated)
// gives the matches, GREP_COLORS "ms=01;31:fn=35:ne..." overrides each.
struct Colours {
    std::string sgr[10] = {"01;31", "35", "32", "36", "31", "32", "32", "01;31", "", ""};
    bool erase = true;  // \33[K after each escape (not with ne)

    Colours()
    {
        const char* old = std::getenv("GREP_COLOR");
        bool matchOld = false, contextOld = false;  // GREP_COLOR still in effect
        if (old != nullptr && *old != '\0' && std::string(old).find_first_not_of("0123456789;") == std::string::npos) {
            sgr[static_cast<int>(Paint::Match)] = sgr[static_cast<int>(Paint::ContextMatch)] = old;
            matchOld = contextOld = true;
        }
        ReadColours(matchOld, contextOld);
        if (matchOld || contextOld)
            Diagnose(std::string("warning: GREP_COLOR='") + old + "' is deprecated; use GREP_COLORS='mt=" + old + "'");
    }

    void ReadColours(bool& matchOld, bool& contextOld)
    {
        const char* all = std::getenv("GREP_COLORS");
        if (all == nullptr)
            return;
        const std::string text = all;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(':', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string item = text.substr(start, end - start);
            const std::size_t equals = item.find('=');
            const std::string name = item.substr(0, equals);
            const std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
            if (value.find_first_not_of("0123456789;") != std::string::npos)
                return;  // as grep: a malformed entry ends the reading
            static const struct {
                const char* name;
                Paint role;
            } kNames[] = {{"ms", Paint::Match},          {"mc", Paint::ContextMatch}, {"sl", Paint::SelectedLine},
                          {"cx", Paint::ContextLine},    {"fn", Paint::FileName},     {"ln", Paint::LineNumber},
                          {"bn", Paint::ByteOffset},     {"se", Paint::Separator}};
            if (name == "ne") {
                erase = false;
            } else if (name == "mt") {
                sgr[static_cast<int>(Paint::Match)] = sgr[static_cast<int>(Paint::ContextMatch)] = value;
                matchOld = contextOld = false;
            } else {
                for (const auto& known : kNames)
                    if (name == known.name)
                        sgr[static_cast<int>(known.role)] = value;
                matchOld = matchOld && name != "ms";
                contextOld = contextOld && name != "mc";
            }
            start = end + 1;
        }
    }
};

const Colours& TheColours()
{
    static const Colours colours;
    return colours;
}

}  // namespace

bool HasColour(Paint role)
{
    return !TheColours().sgr[static_cast<int>(role)].empty();
}

namespace {

// The escapes of each role and the reset, made once.
struct Escapes {
    std::string start[10];
    std::string reset;
    Escapes()
    {
        const Colours& colours = TheColours();
        for (int role = 0; role < 10; ++role)
            start[role] = "\33[" + colours.sgr[role] + (colours.erase ? "m\33[K" : "m");
        reset = colours.erase ? "\33[m\33[K" : "\33[m";
    }
};

const Escapes& TheEscapes()
{
    static const Escapes escapes;
    return escapes;
}

const std::string& Escape(Paint role)
{
    return TheEscapes().start[static_cast<int>(role)];
}

const std::string& Reset()
{
    return TheEscapes().reset;
}

}  // namespace

Output::Output(int fd, bool colour) : buffer_(new char[kBlock]), fd_(fd), colour_(colour)
{
}

Output::Output(HeldOutput& held, bool colour)
    : buffer_(held.stock != nullptr ? held.stock->Take() : std::unique_ptr<char[]>(new char[kBlock])),
      fd_(-1),
      held_(&held),
      colour_(colour)
{
}

Output::~Output()
{
    Flush();
    if (held_ != nullptr && held_->stock != nullptr)
        held_->stock->Give(std::move(buffer_));
}

bool Output::Emit(const char* text, std::size_t length)
{
    return WriteAll(fd_, text, length);
}

std::unique_ptr<char[]> BufferStock::Take()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!buffers_.empty()) {
            std::unique_ptr<char[]> buffer = std::move(buffers_.back());
            buffers_.pop_back();
            return buffer;
        }
    }
    return std::unique_ptr<char[]>(new char[Output::kBufferSize]);
}

void BufferStock::Give(std::unique_ptr<char[]> buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffer && buffers_.size() < kept)
        buffers_.push_back(std::move(buffer));
}

void HeldOutput::Recycle()
{
    if (stock != nullptr) {
        for (auto& block : blocks)
            stock->Give(std::move(block.first));
    }
    blocks.clear();
    size = 0;
}

void Output::Diagnostic(const std::string& text)
{
    // The output before it is written first (as grep does), so that with
    // both streams on one file the message stands where it happened, on one
    // thread as on several.
    Flush();
    if (held_ == nullptr)
        Diagnose(text);
    else
        held_->notes.emplace_back(held_->size, text);
}

void Output::Release(const HeldOutput& held)
{
    // A note is taken after a flush: it falls between two blocks. A full
    // block is written straight from where it is (WriteSlow), not copied.
    std::size_t at = 0, note = 0;
    const auto notesUpTo = [&] {
        for (; note < held.notes.size() && held.notes[note].first <= at; ++note) {
            Flush();
            Diagnose(held.notes[note].second);
        }
    };
    notesUpTo();
    for (const auto& block : held.blocks) {
        Write(block.first.get(), block.second);
        at += block.second;
        notesUpTo();
    }
}

void Output::WriteSlow(const char* text, std::size_t length)
{
    Flush();
    if (failed_)
        return;
    if (held_ != nullptr) {
        // Held output is kept in whole buffers: a huge piece fills as many.
        while (length > 0) {
            const std::size_t piece = std::min(length, kBlock - used_);
            std::memcpy(buffer_.get() + used_, text, piece);
            used_ += piece;
            text += piece;
            length -= piece;
            if (used_ == kBlock)
                Flush();
        }
        return;
    }
    if (length >= kBlock) {  // a huge piece goes straight out
        if (!Emit(text, length))
            failed_ = true;
        return;
    }
    std::memcpy(buffer_.get() + used_, text, length);
    used_ += length;
}

void Output::Number(unsigned long long value)
{
    // Two digits per division (line numbers are printed once per line).
    static const char pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                "8081828384858687888990919293949596979899";
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    while (value >= 100) {
        const unsigned pair = static_cast<unsigned>(value % 100);
        value /= 100;
        p -= 2;
        std::memcpy(p, pairs + 2 * pair, 2);
    }
    if (value >= 10) {
        p -= 2;
        std::memcpy(p, pairs + 2 * value, 2);
    } else {
        *--p = static_cast<char>('0' + value);
    }
    Write(p, static_cast<std::size_t>(end - p));
}

void Output::PaintedSlow(Paint role, const char* text, std::size_t length)
{
    Write(Escape(role));
    Write(text, length);
    Write(Reset());
}

void Output::StartColour(Paint role)
{
    if (colour_ && HasColour(role))
        Write(Escape(role));
}

void Output::PaintedSeparator(char c)
{
    Painted(Paint::Separator, &c, 1);
}

bool Output::Flush()
{
    if (held_ != nullptr) {
        // The buffer itself moves to the held output; a kept one follows.
        if (used_ != 0) {
            held_->size += used_;
            held_->blocks.emplace_back(std::move(buffer_), used_);
            buffer_ = held_->stock != nullptr ? held_->stock->Take() : std::unique_ptr<char[]>(new char[kBlock]);
        }
        used_ = 0;
        return true;
    }
    // After a failed write the output is dropped: the buffer only keeps
    // being emptied, so that memory stays bounded.
    if (!failed_ && used_ != 0 && !Emit(buffer_.get(), used_))
        failed_ = true;
    used_ = 0;
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
