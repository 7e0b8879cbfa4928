// Selection and printing of lines for grep: from the bytes of one file and
// the matches the library found in it (in order), the selected lines (those
// with a match, or without one for -v), their context lines and group
// separators, -o, -c, -l, -L, -m, binary files and the --json records.
#ifndef QUORVEX_CLI_LINEPRINTER_H
#define QUORVEX_CLI_LINEPRINTER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Command.h"
#include "Output.h"

namespace QuorvexCli {

class LinePrinter {
public:
    LinePrinter(Output& out, const Command& command, bool names);

    // One file: Begin, its matches in increasing order, End. `data` stays
    // valid until End returns. Begin answers false when the file is to be
    // skipped unsearched (a binary file with --binary-files=without-match);
    // End must still be called.
    bool Begin(const std::string& name, const char* data, std::size_t size);
    // A file read in blocks of whole lines: Begin(name), then per block
    // Block, its matches, BlockEnd; then End. `data` holds the block's bytes
    // from `offset` on: `kept` bytes of earlier lines (at least as many lines
    // as -B wants), then the new ones, whose first line is `line` (0: not
    // counted). Block answers false when the file is to be skipped (binary
    // data with --binary-files=without-match); BlockEnd when nothing more of
    // the file is wanted.
    void Begin(const std::string& name);
    bool Block(const char* data, std::uint64_t offset, std::size_t size, std::size_t kept, std::uint64_t line,
               bool binary);
    bool BlockEnd();
    // A match [start, end) whose first byte lies on line `line` (1-based; 0
    // when not known). Its lines start at `lineStart` and hold `lineSize`
    // bytes before the last one's terminator (one line in line mode; with -U
    // every line the match touches), so the printer need not look for their
    // edges again. Answers false when no more matches of this file are
    // wanted.
    bool Match(std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t lineStart,
               std::uint64_t lineSize);
    // Whether only the number of matching lines is wanted (-c without -m,
    // -l, -L, -q, --json or -U): a searcher may then count the lines of a block
    // that hold a match instead of handing out matches, and report the count
    // with CountedLines before BlockEnd.
    bool CountsOnly() const { return countsOnly_; }
    // `lines` of the current block's new lines hold a match (CountsOnly).
    void CountedLines(std::uint64_t lines);
    // Whether every match of a line is wanted (to paint it, print it alone or
    // describe it in JSON), or only whether the line has one.
    bool WantsEveryMatch() const { return keepMatches_; }
    void End();

    // True once nothing more of the whole run is wanted (-q after a match).
    bool Done() const { return done_; }
    unsigned long long SelectedLines() const { return selectedTotal_; }
    // Writes the closing summary record of --json.
    void Summary();
    // Several threads: a file printed by a printer of its own (into held
    // output) joins this run's printer, in walk order, before its output is
    // written: the group separator the run owes it, its counts, Done.
    void Join(const LinePrinter& file);

private:
    using Range = std::pair<std::uint64_t, std::uint64_t>;

    // The byte at file offset `at` (within the current block or file).
    const char* At(std::uint64_t at) const { return data_ + (at - base_); }
    std::uint64_t LineStart(std::uint64_t at) const;
    std::uint64_t LineEnd(std::uint64_t at) const;  // just after the line feed, or the end
    std::uint64_t LineNumber(std::uint64_t lineStart);
    bool Take(std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t lineStart,
              std::uint64_t lineEnd);
    void CloseGroup();
    void Unselected(std::uint64_t from, std::uint64_t to);
    void Selected(std::uint64_t from, std::uint64_t to, std::uint64_t line, const std::vector<Range>& matches);
    void SelectEach(std::uint64_t from, std::uint64_t to);
    void PrintLine(std::uint64_t from, std::uint64_t to, std::uint64_t line, char separator,
                   const std::vector<Range>& matches);
    void Prefix(std::uint64_t line, std::uint64_t offset, char separator);
    void GroupSeparator(std::uint64_t from);
    void JsonLine(const char* type, std::uint64_t from, std::uint64_t to, std::uint64_t line,
                  const std::vector<Range>& matches);
    void JsonBegin();

    Output& out_;
    const Command& command_;
    const bool names_;
    const bool printLines_;  // not -c, -l, -L, -q
    const std::uint64_t after_, before_;
    const bool context_;
    const long long max_;
    const bool keepMatches_;  // the matches of a line are printed (colour, -o, --json)
    const bool countsOnly_;   // only the number of selected lines is printed (-c)
    const char eol_;          // the line terminator: a line feed, or NUL with -z

    // The current file.
    std::string name_;
    const char* data_ = nullptr;
    std::uint64_t base_ = 0;        // file offset of data_[0]
    std::uint64_t size_ = 0;        // file offset of the end of data_
    std::size_t numberWidth_ = 1;   // digits of the size: the width of numbers with -T
    std::uint64_t blockStart_ = 0;  // the block's first new line
    std::uint64_t blockLine_ = 1;   // its number
    bool binaryNoted_ = false;      // "Binary file ... matches" written
    bool binary_ = false;
    bool skipped_ = false;
    std::uint64_t cursor_ = 0;      // start of the first line not yet dealt with
    std::uint64_t cursorLine_ = 1;  // its number (kept with -v)
    bool open_ = false;             // a selected group collecting matches
    std::uint64_t openStart_ = 0, openEnd_ = 0, openLine_ = 0;
    std::vector<Range> openMatches_;
    std::uint64_t anchorOffset_ = 0, anchorLine_ = 1;  // a line start whose number is known
    std::uint64_t pendingFrom_ = 0, pendingTo_ = 0;    // unselected lines before the next selected one
    std::uint64_t afterLeft_ = 0;
    std::uint64_t printedEnd_ = 0;
    bool printedInFile_ = false;
    unsigned long long selected_ = 0;
    unsigned long long matches_ = 0;
    bool limit_ = false;
    bool jsonBegun_ = false;
    std::chrono::steady_clock::time_point fileStart_;

    // The whole run.
    bool printedAny_ = false;
    bool done_ = false;
    unsigned long long selectedTotal_ = 0;
    unsigned long long matchesTotal_ = 0, searches_ = 0, searchesWithMatch_ = 0, bytesSearched_ = 0;
    unsigned long long bytesPrinted_ = 0;
    std::chrono::steady_clock::time_point runStart_;
    std::string json_;
    const std::vector<Range> none_;
};

}  // namespace QuorvexCli

#endif
