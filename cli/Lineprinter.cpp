// Line selection and printing for grep (see Lineprinter.h).
#include "Lineprinter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Json.h"
#include "Platform.h"

namespace QuorvexCli {

namespace {

// A file whose first block holds a NUL byte is a binary file.
constexpr std::size_t kBinaryProbe = 32768;

std::uint64_t ContextLines(long long own, long long both)
{
    if (own >= 0)
        return static_cast<std::uint64_t>(own);
    return both >= 0 ? static_cast<std::uint64_t>(both) : 0;
}

unsigned long long Nanoseconds(std::chrono::steady_clock::duration d)
{
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
}

}  // namespace

LinePrinter::LinePrinter(Output& out, const Command& command, bool names)
    : out_(out),
      command_(command),
      names_(names),
      printLines_(!command.count && !command.filesWithMatches && !command.filesWithoutMatch && !command.quiet),
      after_(ContextLines(command.afterContext, command.bothContext)),
      before_(ContextLines(command.beforeContext, command.bothContext)),
      context_((after_ > 0 || before_ > 0) && printLines_),
      max_(command.maxCount),
      keepMatches_(out.Colour() || command.onlyMatching || command.json),
      countsOnly_(command.count && !command.filesWithMatches && !command.filesWithoutMatch && !command.quiet &&
                  !command.json && command.maxCount < 0 && !command.multiline),
      eol_(command.nullData ? '\0' : '\n'),
      runStart_(std::chrono::steady_clock::now())
{
}

bool LinePrinter::Begin(const std::string& name, const char* data, std::size_t size)
{
    name_ = name;
    data_ = data;
    base_ = 0;
    size_ = size;
    numberWidth_ = std::to_string(size).size();
    binaryNoted_ = false;
    const bool detect = !command_.text && command_.binaryFiles != "text" && !command_.json;
    binary_ = detect && std::memchr(data, '\0', std::min<std::size_t>(size, kBinaryProbe)) != nullptr;
    skipped_ = binary_ && command_.binaryFiles == "without-match";
    cursor_ = 0;
    cursorLine_ = 1;
    open_ = false;
    openMatches_.clear();
    anchorOffset_ = 0;
    anchorLine_ = 1;
    pendingFrom_ = pendingTo_ = 0;
    afterLeft_ = 0;
    printedEnd_ = 0;
    printedInFile_ = false;
    selected_ = 0;
    matches_ = 0;
    limit_ = max_ >= 0 && selected_ >= static_cast<unsigned long long>(max_);
    jsonBegun_ = false;
    fileStart_ = std::chrono::steady_clock::now();
    ++searches_;
    bytesSearched_ += size;
    return !skipped_;
}

void LinePrinter::Begin(const std::string& name)
{
    Begin(name, "", 0);
    // -T pads numbers to the width of the largest offset the input can have,
    // as grep does: the size of a regular file, else that of any 64-bit offset.
    if (command_.initialTab) {
        RegexPlatform::FileState state;
        numberWidth_ = RegexPlatform::QueryNameState(name.c_str(), state) && state.Size > 0
                           ? std::to_string(state.Size).size()
                           : std::to_string(INT64_MAX).size();
    }
}

bool LinePrinter::Block(const char* data, std::uint64_t offset, std::size_t size, std::size_t kept,
                        std::uint64_t line, bool binary)
{
    data_ = data;
    base_ = offset;
    size_ = offset + size;
    blockStart_ = offset + kept;
    blockLine_ = line;
    bytesSearched_ += size - kept;
    if (line > 0) {
        anchorOffset_ = blockStart_;
        anchorLine_ = line;
    }
    const bool detect = !command_.text && command_.binaryFiles != "text" && !command_.json;
    if (detect && binary && !binary_) {
        binary_ = true;
        if (command_.binaryFiles == "without-match" && selected_ == 0)
            skipped_ = true;
    }
    return !skipped_;
}

bool LinePrinter::BlockEnd()
{
    if (!skipped_) {
        if (command_.invert) {
            SelectEach(cursor_, size_);
        } else {
            CloseGroup();
            Unselected(cursor_, size_);
        }
        cursor_ = size_;
    }
    return !skipped_ && !done_ && !(limit_ && afterLeft_ == 0);
}

std::uint64_t LinePrinter::LineStart(std::uint64_t at) const
{
    // Eight bytes at a time while none of them is a line feed (a zero byte of
    // word ^ 0x0A0A... marks one), then byte by byte.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    std::uint64_t i = at;
    while (i >= cursor_ + 8) {
        std::uint64_t word;
        std::memcpy(&word, At(i - 8), 8);
        word ^= ones * static_cast<unsigned char>(eol_);
        if (((word - ones) & ~word & highs) != 0)
            break;
        i -= 8;
    }
    while (i > cursor_ && *At(i - 1) != eol_)
        --i;
    return i;
}

std::uint64_t LinePrinter::LineEnd(std::uint64_t at) const
{
    if (at >= size_)
        return size_;
    const void* feed = std::memchr(At(at), eol_, static_cast<std::size_t>(size_ - at));
    return feed == nullptr ? size_ : at + static_cast<std::uint64_t>(static_cast<const char*>(feed) - At(at)) + 1;
}

std::uint64_t LinePrinter::LineNumber(std::uint64_t lineStart)
{
    if (lineStart < anchorOffset_) {
        anchorOffset_ = 0;
        anchorLine_ = 1;
    }
    if (anchorOffset_ < base_) {  // counted by the searcher up to its block
        anchorOffset_ = blockStart_;
        anchorLine_ = blockLine_;
    }
    anchorLine_ += static_cast<std::uint64_t>(std::count(At(anchorOffset_), At(lineStart), eol_));
    anchorOffset_ = lineStart;
    return anchorLine_;
}

// Line edges not known yet.
constexpr std::uint64_t kUnknown = ~std::uint64_t(0);

bool LinePrinter::Match(std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t lineStart,
                        std::uint64_t lineSize)
{
    // The line end as LineEnd gives it: just after the terminator, or the end.
    const std::uint64_t textEnd = lineStart + lineSize;
    return Take(start, end, line, lineStart, textEnd < size_ ? textEnd + 1 : textEnd);
}

bool LinePrinter::Take(std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t lineStart,
                       std::uint64_t lineEnd)
{
    if (done_ || limit_ || skipped_)
        return false;
    // A match after the last line feed lies on no line.
    if (start >= size_ && (size_ <= base_ || *At(size_ - 1) == eol_))
        return true;
    end = std::min(std::max(end, start), size_);
    // An empty match at the very end of a last line without a line feed
    // belongs to that line.
    const bool atEnd = start >= size_;
    if (atEnd && cursor_ >= size_)
        return true;
    ++matches_;
    ++matchesTotal_;
    const std::uint64_t last = end > start ? end - 1 : start;
    if (!command_.invert) {
        if (open_ && (start < openEnd_ || (atEnd && openEnd_ >= size_))) {
            if (keepMatches_)
                openMatches_.emplace_back(start, end);
            if (last >= openEnd_)
                openEnd_ = LineEnd(last);
            return true;
        }
        CloseGroup();
        if (limit_ || done_)
            return false;
        open_ = true;
        openStart_ = lineStart != kUnknown ? std::max(lineStart, cursor_) : LineStart(start);
        openEnd_ = lineEnd != kUnknown ? lineEnd : LineEnd(last);
        if (line > 0) {
            anchorOffset_ = openStart_;
            anchorLine_ = line;
        }
        openLine_ = line > 0 ? line : (command_.lineNumbers || command_.json ? LineNumber(openStart_) : 0);
        openMatches_.clear();
        if (keepMatches_)
            openMatches_.emplace_back(start, end);
        return true;
    }
    if (start < cursor_) {  // on lines already left out
        if (last >= cursor_)
            cursor_ = LineEnd(last);
        return true;
    }
    const std::uint64_t from = lineStart != kUnknown ? std::max(lineStart, cursor_) : LineStart(start);
    const std::uint64_t to = lineEnd != kUnknown ? lineEnd : LineEnd(last);
    SelectEach(cursor_, from);
    Unselected(from, to);
    cursor_ = to;
    return !done_;
}

void LinePrinter::CountedLines(std::uint64_t lines)
{
    if (skipped_)
        return;
    std::uint64_t selected = lines;
    if (command_.invert) {
        // The block's new lines are whole but the last of the input, which
        // may lack its terminator.
        const char* first = At(blockStart_);
        const char* last = At(size_);
        std::uint64_t all = static_cast<std::uint64_t>(std::count(first, last, eol_));
        if (last != first && last[-1] != eol_)
            ++all;
        selected = all - std::min(all, lines);
    }
    matches_ += lines;
    matchesTotal_ += lines;
    selected_ += selected;
    selectedTotal_ += selected;
    cursor_ = size_;  // every line of the block is dealt with
}

void LinePrinter::CloseGroup()
{
    if (!open_)
        return;
    open_ = false;
    Unselected(cursor_, openStart_);
    Selected(openStart_, openEnd_, openLine_, openMatches_);
    cursor_ = openEnd_;
}

void LinePrinter::SelectEach(std::uint64_t from, std::uint64_t to)
{
    const bool numbers = command_.lineNumbers || command_.json;
    while (from < to && !limit_ && !done_) {
        const std::uint64_t end = LineEnd(from);
        Selected(from, end, numbers ? LineNumber(from) : 0, none_);
        from = end;
    }
    Unselected(from, to);
}

void LinePrinter::Unselected(std::uint64_t from, std::uint64_t to)
{
    if (from >= to)
        return;
    if (context_) {
        while (afterLeft_ > 0 && from < to) {
            const std::uint64_t end = LineEnd(from);
            // With -o context lines only join groups (for the "--" between
            // them), as grep has it; they are not printed.
            if (command_.onlyMatching)
                printedEnd_ = end;
            else
                PrintLine(from, end, command_.lineNumbers || command_.json ? LineNumber(from) : 0, '-', none_);
            from = end;
            --afterLeft_;
        }
    }
    // Unselected lines that go on from those of the block before stay one
    // run, so that context before the next selected line can reach back.
    if (from != pendingTo_ || pendingFrom_ >= pendingTo_)
        pendingFrom_ = from;
    pendingTo_ = to;
}

void LinePrinter::GroupSeparator(std::uint64_t from)
{
    if (!context_ || command_.json || !printedAny_ || (printedInFile_ && from == printedEnd_) ||
        command_.noGroupSeparator)
        return;
    out_.Painted(Paint::Separator, command_.groupSeparator);
    out_.Put('\n');
}

void LinePrinter::Selected(std::uint64_t from, std::uint64_t to, std::uint64_t line,
                           const std::vector<Range>& matches)
{
    ++selected_;
    ++selectedTotal_;
    if (command_.quiet)
        done_ = true;
    if (printLines_ && binary_) {
        // As grep has it since 3.5: a notice on standard error, in its
        // place among the lines printed so far; once per file, whenever the
        // file is first seen to be binary.
        if (!binaryNoted_) {
            binaryNoted_ = true;
            out_.Flush();
            out_.Diagnostic(name_ + ": binary file matches");
        }
        limit_ = true;  // nothing more of this file is printed
    } else if (printLines_) {
        if (context_ && before_ > 0 && pendingTo_ == from && pendingFrom_ < pendingTo_) {
            // Reading a file in blocks, only the lines the block kept are
            // there (a line starts at the block's first byte).
            const std::uint64_t floor = std::max(pendingFrom_, base_);
            std::uint64_t start = pendingTo_;
            std::uint64_t count = 0;
            while (count < before_ && start > floor) {
                std::uint64_t i = start - 1;
                while (i > floor && *At(i - 1) != eol_)
                    --i;
                start = i;
                ++count;
            }
            GroupSeparator(start);
            std::uint64_t number = line > count ? line - count : 0;
            while (start < from && !command_.onlyMatching) {
                const std::uint64_t end = LineEnd(start);
                PrintLine(start, end, number++, '-', none_);
                start = end;
            }
        } else {
            GroupSeparator(from);
        }
        PrintLine(from, to, line, ':', matches);
        afterLeft_ = after_;
    }
    pendingFrom_ = pendingTo_ = to;
    if (!printLines_ && !command_.count)
        limit_ = true;  // -l, -L, -q: one selected line answers the question
    if (max_ >= 0 && selected_ >= static_cast<unsigned long long>(max_))
        limit_ = true;
}

void LinePrinter::Prefix(std::uint64_t line, std::uint64_t offset, char separator)
{
    if (names_) {
        out_.Painted(Paint::FileName, name_);
        if (command_.nullAfterName)
            out_.Put('\0');
        else
            out_.Separator(separator);
    }
    // -T: numbers right-aligned in the width of the file's size, and a tab
    // before the text, so that the text starts on a tab stop.
    const auto field = [&](Paint role, std::uint64_t value) {
        if (!command_.initialTab && !out_.Colour()) {
            out_.Number(value);
            out_.Separator(separator);
            return;
        }
        // The digits right-aligned in a field of numberWidth_ (at most 20).
        char field[24];
        char* end = field + sizeof field;
        char* p = end;
        do {
            *--p = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (command_.initialTab && static_cast<std::size_t>(end - p) < numberWidth_ && p != field)
            *--p = ' ';
        out_.Painted(role, p, static_cast<std::size_t>(end - p));
        out_.Separator(separator);
    };
    if (command_.lineNumbers)
        field(Paint::LineNumber, line);
    if (command_.byteOffsets)
        field(Paint::ByteOffset, offset);
    if (command_.initialTab && (names_ || command_.lineNumbers || command_.byteOffsets))
        out_.Put('\t');
}

void LinePrinter::PrintLine(std::uint64_t from, std::uint64_t to, std::uint64_t line, char separator,
                            const std::vector<Range>& matches)
{
    printedAny_ = printedInFile_ = true;
    printedEnd_ = to;
    if (command_.json) {
        JsonLine(separator == ':' ? "match" : "context", from, to, line, matches);
        return;
    }
    if (command_.onlyMatching) {
        for (const Range& match : matches) {
            if (match.second <= match.first)
                continue;  // empty matches print nothing
            std::uint64_t number = line;
            if (command_.lineNumbers)
                number += static_cast<std::uint64_t>(std::count(At(from), At(match.first), eol_));
            Prefix(number, match.first, separator);
            out_.Painted(Paint::Match, At(match.first), static_cast<std::size_t>(match.second - match.first));
            out_.Put(eol_);
        }
        return;
    }
    // One output line per line of the range (several with -U; in line mode
    // the range is one line).
    while (from < to) {
        std::uint64_t end = command_.multiline ? LineEnd(from) : to;
        const std::uint64_t textEnd = end > from && *At(end - 1) == eol_ ? end - 1 : end;
        Prefix(line, from, separator);
        // In colour: the matches in ms, the rest of a selected line in sl
        // and a context line in cx (none unless GREP_COLORS gives them).
        const Paint lineColour = separator == ':' ? Paint::SelectedLine : Paint::ContextLine;
        if (out_.Colour() && (!matches.empty() || HasColour(lineColour))) {
            std::uint64_t at = from;
            for (std::size_t m = 0; m < matches.size() && matches[m].first < textEnd; ++m) {
                const std::uint64_t s = std::max(matches[m].first, at);
                const std::uint64_t e = std::min(matches[m].second, textEnd);
                if (e <= s)
                    continue;
                out_.StartColour(lineColour);
                out_.Write(At(at), static_cast<std::size_t>(s - at));
                out_.Painted(Paint::Match, At(s), static_cast<std::size_t>(e - s));
                at = e;
            }
            out_.Painted(lineColour, At(at), static_cast<std::size_t>(textEnd - at));
        } else {
            out_.Write(At(from), static_cast<std::size_t>(textEnd - from));
        }
        out_.Put(eol_);
        from = end;
        if (line > 0)
            ++line;
    }
}

void LinePrinter::JsonBegin()
{
    if (jsonBegun_)
        return;
    jsonBegun_ = true;
    json_ = "{\"type\":\"begin\",\"data\":{\"path\":";
    AppendJsonData(json_, name_.data(), name_.size());
    json_ += "}}\n";
    bytesPrinted_ += json_.size();
    out_.Write(json_);
}

void LinePrinter::JsonLine(const char* type, std::uint64_t from, std::uint64_t to, std::uint64_t line,
                           const std::vector<Range>& matches)
{
    JsonBegin();
    json_ = "{\"type\":\"";
    json_ += type;
    json_ += "\",\"data\":{\"path\":";
    AppendJsonData(json_, name_.data(), name_.size());
    json_ += ",\"lines\":";
    AppendJsonData(json_, At(from), static_cast<std::size_t>(to - from));
    json_ += ",\"line_number\":";
    AppendJsonNumber(json_, line > 0 ? line : LineNumber(from));
    json_ += ",\"absolute_offset\":";
    AppendJsonNumber(json_, from);
    json_ += ",\"submatches\":[";
    bool first = true;
    for (const Range& match : matches) {
        if (!first)
            json_ += ',';
        first = false;
        json_ += "{\"match\":";
        AppendJsonData(json_, At(match.first), static_cast<std::size_t>(match.second - match.first));
        json_ += ",\"start\":";
        AppendJsonNumber(json_, match.first - from);
        json_ += ",\"end\":";
        AppendJsonNumber(json_, match.second - from);
        json_ += '}';
    }
    json_ += "]}}\n";
    bytesPrinted_ += json_.size();
    out_.Write(json_);
}

void LinePrinter::End()
{
    if (!skipped_) {
        if (command_.invert) {
            SelectEach(cursor_, size_);
        } else {
            CloseGroup();
            Unselected(cursor_, size_);
        }
    }
    if (selected_ > 0)
        ++searchesWithMatch_;
    if (command_.json) {
        if (jsonBegun_) {
            json_ = "{\"type\":\"end\",\"data\":{\"path\":";
            AppendJsonData(json_, name_.data(), name_.size());
            json_ += ",\"binary_offset\":null,\"stats\":{\"elapsed\":";
            AppendJsonDuration(json_, Nanoseconds(std::chrono::steady_clock::now() - fileStart_));
            json_ += ",\"searches\":1,\"searches_with_match\":" + std::to_string(selected_ > 0 ? 1 : 0) +
                     ",\"bytes_searched\":" + std::to_string(size_) + ",\"bytes_printed\":0,\"matched_lines\":" +
                     std::to_string(selected_) + ",\"matches\":" + std::to_string(matches_) + "}}}\n";
            bytesPrinted_ += json_.size();
            out_.Write(json_);
        }
        return;
    }
    if (command_.quiet)
        return;
    const bool listed = (command_.filesWithMatches && selected_ > 0) || (command_.filesWithoutMatch && selected_ == 0);
    if (listed) {
        out_.Painted(Paint::FileName, name_);
        out_.Put(command_.nullAfterName ? '\0' : '\n');
    } else if (command_.count && !command_.filesWithMatches && !command_.filesWithoutMatch) {
        if (names_) {
            out_.Painted(Paint::FileName, name_);
            if (command_.nullAfterName)
                out_.Put('\0');
            else
                out_.Separator(':');
        }
        out_.Number(selected_);
        out_.Put('\n');
    }
}

void LinePrinter::Join(const LinePrinter& file)
{
    // The file's printer began as the first of a run: the "--" between its
    // first group and what earlier files printed is the run's to write.
    if (file.printedAny_ && printedAny_ && context_ && !command_.json && !command_.noGroupSeparator) {
        out_.Painted(Paint::Separator, command_.groupSeparator);
        out_.Put('\n');
    }
    printedAny_ = printedAny_ || file.printedAny_;
    done_ = done_ || file.done_;
    selectedTotal_ += file.selectedTotal_;
    matchesTotal_ += file.matchesTotal_;
    searches_ += file.searches_;
    searchesWithMatch_ += file.searchesWithMatch_;
    bytesSearched_ += file.bytesSearched_;
    bytesPrinted_ += file.bytesPrinted_;
}

void LinePrinter::Summary()
{
    if (!command_.json)
        return;
    const unsigned long long total = Nanoseconds(std::chrono::steady_clock::now() - runStart_);
    json_ = "{\"data\":{\"elapsed_total\":";
    AppendJsonDuration(json_, total);
    json_ += ",\"stats\":{\"bytes_printed\":" + std::to_string(bytesPrinted_) +
             ",\"bytes_searched\":" + std::to_string(bytesSearched_) + ",\"elapsed\":";
    AppendJsonDuration(json_, total);
    json_ += ",\"matched_lines\":" + std::to_string(selectedTotal_) + ",\"matches\":" + std::to_string(matchesTotal_) +
             ",\"searches\":" + std::to_string(searches_) +
             ",\"searches_with_match\":" + std::to_string(searchesWithMatch_) + "}},\"type\":\"summary\"}\n";
    out_.Write(json_);
}

}  // namespace QuorvexCli
