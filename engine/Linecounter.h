// Line numbers of match positions in one text, counted incrementally: each
// step counts only the line feeds between the previous position and the new
// one, so reporting every match of a text costs one pass over it.
//
// A line number is 1 plus the number of line feeds (0x0A) before the
// position; the line start is the offset just past the last of them, 0 when
// there is none. A carriage return is an ordinary character.
#ifndef QUORVEX_ENGINE_LINECOUNTER_H
#define QUORVEX_ENGINE_LINECOUNTER_H

#include <algorithm>
#include <cstring>

namespace RegexEngine {

class LineCounter {
public:
    explicit LineCounter(const char* text) noexcept : text_(text), counted_(text), lineStart_(text) {}

    // Moves to `position`, which must lie in the text. Positions normally only
    // grow; a step back starts counting again from the beginning.
    void AdvanceTo(const char* position) noexcept
    {
        if (position < counted_) {
            counted_ = text_;
            lineStart_ = text_;
            line_ = 1;
        }
        const std::size_t gap = static_cast<std::size_t>(position - counted_);
        if (gap != 0) {
            const std::size_t feeds = static_cast<std::size_t>(std::count(counted_, position, '\n'));
            if (feeds != 0) {
                line_ += static_cast<unsigned>(feeds);
                lineStart_ = LastLineFeed(counted_, position) + 1;
            }
            counted_ = position;
        }
    }

    unsigned LineIndex() const noexcept { return line_; }
    unsigned StartOfLine() const noexcept { return static_cast<unsigned>(lineStart_ - text_); }

private:
    // The last line feed in [first, last), which must hold one.
    static const char* LastLineFeed(const char* first, const char* last) noexcept
    {
#if defined(__GLIBC__)
        return static_cast<const char*>(memrchr(first, '\n', static_cast<std::size_t>(last - first)));
#else
        while (*--last != '\n') {
        }
        (void)first;
        return last;
#endif
    }

    const char* text_;
    const char* counted_;
    const char* lineStart_;
    unsigned line_ = 1;
};

}  // namespace RegexEngine

#endif
