// Output of the command-line tool: a buffered writer for standard output (no
// flush per line), colour escapes for terminals, the diagnostics on standard
// error and the progress line of long runs.
#ifndef QUORVEX_CLI_OUTPUT_H
#define QUORVEX_CLI_OUTPUT_H

#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace QuorvexCli {

// Colour roles, drawn with the escapes grep uses by default or those that
// GREP_COLORS gives (ms, mc, sl, cx, fn, ln, bn, se; ne leaves out the
// erase-to-end-of-line after each), or GREP_COLOR for the matches.
enum class Paint {
    Match,
    FileName,
    LineNumber,
    Separator,
    Removed,
    Added,
    ByteOffset,
    ContextMatch,
    SelectedLine,
    ContextLine
};

// Whether a role has a colour (sl and cx have none unless GREP_COLORS gives one).
bool HasColour(Paint role);

// Output buffers shared by the held outputs of a run, on any thread: a
// buffer written out comes back here for a later file, so a file's output
// allocates (and faults in) no fresh memory.
class BufferStock {
public:
    // A kept buffer, or a new one.
    std::unique_ptr<char[]> Take();
    // Kept while fewer than `kept` are (memory stays bounded), else freed.
    void Give(std::unique_ptr<char[]> buffer);

private:
    static constexpr std::size_t kept = 64;
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> buffers_;
};

// Output kept in memory (a file searched on a worker thread): its bytes, and
// the diagnostics in their places among them, for the caller's thread to
// write out in order (Output::Release).
struct HeldOutput {
    // The bytes: the buffers a held Output filled, each moved here whole
    // (nothing copied) with the number of bytes it holds.
    std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> blocks;
    std::size_t size = 0;                                    // bytes in all blocks
    std::vector<std::pair<std::size_t, std::string>> notes;  // offset in bytes, text for Diagnose
    BufferStock* stock = nullptr;  // where buffers come from and go back to (null: new, freed)

    // Gives the blocks back to the stock (once written out).
    void Recycle();
};

// Collects output in a large buffer and writes it with write(2) in big blocks.
// A failed write is remembered (Failed()) and later output is dropped.
class Output {
public:
    Output(int fd, bool colour);
    // Output into `held` (each Flush moves the buffer there, whole, and
    // goes on in a buffer from held.stock).
    Output(HeldOutput& held, bool colour);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // The common small pieces are copied inline; only a full buffer leaves
    // the fast path.
    void Write(const char* text, std::size_t length)
    {
        if (used_ + length <= kBlock) {
            std::memcpy(buffer_.get() + used_, text, length);
            used_ += length;
        } else {
            WriteSlow(text, length);
        }
    }
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    void Put(char c)
    {
        if (used_ >= kBlock)
            Flush();
        buffer_[used_++] = c;
    }
    void Number(unsigned long long value);
    // Text in the colour of `role` when colour is on, plain otherwise.
    void Painted(Paint role, const char* text, std::size_t length)
    {
        if (colour_ && length != 0 && HasColour(role))
            PaintedSlow(role, text, length);
        else
            Write(text, length);
    }
    void Painted(Paint role, const std::string& text) { Painted(role, text.data(), text.size()); }
    // The escape that starts the colour of `role`, with no end (the next
    // painted piece ends it), as grep starts the line colour.
    void StartColour(Paint role);
    void Separator(char c)  // ':' or '-' between the fields of a line
    {
        if (colour_)
            PaintedSeparator(c);
        else
            Put(c);
    }

    bool Colour() const { return colour_; }
    bool Flush();  // false when a write failed (now or earlier)
    static constexpr std::size_t kBufferSize = 1 << 16;
    bool Failed() const { return failed_; }

    // A diagnostic (Diagnose) at this point of the output: written at once,
    // or noted in its place when the output is held.
    void Diagnostic(const std::string& text);
    // Writes held output: its bytes, each diagnostic after the bytes before
    // it have been flushed.
    void Release(const HeldOutput& held);

private:
    void WriteSlow(const char* text, std::size_t length);
    bool Emit(const char* text, std::size_t length);
    void PaintedSeparator(char c);
    void PaintedSlow(Paint role, const char* text, std::size_t length);

    static constexpr std::size_t kBlock = kBufferSize;
    std::unique_ptr<char[]> buffer_;  // kBlock bytes
    std::size_t used_ = 0;
    int fd_;
    HeldOutput* held_ = nullptr;
    bool colour_;
    bool failed_ = false;
};

// Whether the descriptor is a terminal that understands colour escapes.
bool IsColourTerminal(int fd);

// A file name as the diagnostics show it: unchanged unless it holds a control
// character; then quoted for a shell, each run of control characters written
// as $'\n' or $'\ooo' between single-quoted runs of the rest ('a'$'\n''b'),
// so that no name can fake a line of output.
std::string QuoteName(const std::string& name);

// "quorvex: <text>" on standard error, written at once (diagnostics are rare
// and must not wait behind buffered output).
void Diagnose(const std::string& text);

// A one-line progress display on standard error, shown only when standard
// error is a terminal and the run lasts long enough to need it.
class Progress {
public:
    explicit Progress(bool enabled);
    ~Progress();
    // Redraws the line when enough time has passed since the last drawing.
    void Update(std::size_t filesDone, std::size_t filesTotal, unsigned long long changes);
    // Removes the line, so that later diagnostics start on a clean line.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point last_;
};

}  // namespace QuorvexCli

#endif
