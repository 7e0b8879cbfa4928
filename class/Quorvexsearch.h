// Streaming search: one compiled expression run over files, wildcard walks,
// pipes, standard input or text, with every match handed to a sink as 64-bit
// offsets, a 64-bit line number and views of the bytes. Inputs of any size:
// they are read in blocks (memory stays near the block size plus the longest
// line), nothing is copied per match, and a sink that wants nothing more ends
// the read at once, pipes included.
//
//   RegexClass::Searcher searcher("err(or)?", {RegexClass::RegularExpression::CaseInsensitive});
//   if (!searcher.Ok()) { std::cerr << searcher.Error(); return 2; }
//   searcher.Options().LineNumbers = true;
//   searcher.SearchPath("big.log", [](const RegexClass::SearchMatch& m) {
//       std::cout << m.Line << ':' << m.LineText << '\n';
//       return RegexClass::SearchAnswer::Continue;
//   });
//
// The searcher finds, the sink receives: derive from SearchSink (one required
// member, OnMatch; the others tell of inputs and blocks), or pass a callable
// taking a SearchMatch and answering a SearchAnswer.
//
// Line mode (the default): every match lies within one line, and `^`, `$`,
// `\A`, `\z` and `\b` answer at the line's edges. A line ends only at a line
// feed (or at NUL with NullData), so a carriage return or form feed inside a
// line is an ordinary byte; a line ending in a carriage return and a line
// feed keeps `$` before the carriage return. Without line mode (whole-input
// mode) each input is one subject and matches may span lines: a regular file
// is mapped, a pipe is searched in windows whose edges a match may cross (a
// match whose extent depends on bytes more than 64 KiB beyond its end may be
// found shorter, and `\G` answers at each window's resume point). A match's
// LineText then spans every line it touches, and the blocks (OnBlock) hold
// whole lines in both modes, so one printer serves both.
//
// Errors are values: a bad expression leaves Ok() false, an input that
// cannot be read is reported to the sink (walks) or in the SearchResult.
// One Searcher serves one thread at a time; a walk with a SearchSinkFactory
// uses worker threads of its own.
#ifndef QUORVEX_QUORVEXSEARCH_H
#define QUORVEX_QUORVEXSEARCH_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "Quorvexexport.h"
#include "Regularexpressionclass.h"

namespace RegexClass {

// The offset of a sub-match that took no part.
constexpr std::uint64_t NoPosition = ~std::uint64_t(0);

// One match. The views point into the searcher's buffer (or a mapping) and
// are valid during the call only.
struct SearchMatch {
    std::uint64_t Offset = 0;      // first byte of the match, from the input's start
    std::uint64_t End = 0;         // one past its last byte
    std::uint64_t Line = 0;        // 1-based line of Offset; 0 unless LineNumbers
    std::uint64_t LineOffset = 0;  // first byte of that line
    std::string_view Text;         // the match's bytes
    std::string_view LineText;     // the line's bytes, terminator left out; whole-input
                                   // mode: up to the end of the line holding the last byte
    unsigned Groups = 1;           // marked sub-expressions + 1

    // Sub-match i (0: the whole match): NoPosition when it took no part.
    std::uint64_t GroupOffset(unsigned i) const { return i < Groups ? groups_[2 * i] : NoPosition; }
    std::uint64_t GroupEnd(unsigned i) const { return i < Groups ? groups_[2 * i + 1] : NoPosition; }

    const std::uint64_t* groups_ = nullptr;  // start, end per sub-match
};

// A run of whole lines whose matches come next, with the lines kept before
// it (Options().ContextLines of them where the input has them). For sinks that
// print lines around the matches: every match (and every line it touches)
// lies in the new lines of the block it comes in, and the blocks' new lines
// follow on from each other to the input's end. Line mode: each block read.
// Whole-input mode: the whole input at once (a mapped file or bytes in
// memory, nothing copied), or over pipes each run of lines no match still to
// come can touch, out of the window (which grows to hold a longer run: a
// chain of matches each touching the line the one before ended on).
struct SearchBlock {
    std::string_view Bytes;  // kept lines, then the new ones
    std::uint64_t Offset;    // input offset of Bytes[0]
    std::size_t Kept;        // bytes of kept lines before the new ones
    std::uint64_t Line;      // number of the first new line; 0 unless LineNumbers
    bool Binary;             // a NUL byte was seen in the input so far (whole-input
                             // mode: among the input's first 32 KiB)
    std::uint64_t Matched = 0;  // CountOnly, at OnBlockEnd: new lines holding a match
};

// What a sink answers.
enum class SearchAnswer {
    Continue,   // go on
    SkipInput,  // nothing more of this input; a walk goes on with the next
    Stop        // nothing more at all
};

// How one search call ended.
struct SearchResult {
    enum Outcome {
        Finished,   // everything was searched (inputs a walk could not read were reported to the sink)
        Stopped,    // the sink answered Stop
        ReadFailed, // the input could not be opened or read: SystemError, Error
        MatchFailed // the engine gave up (complexity or stack limits): Error
    };
    Outcome End = Finished;
    std::uint64_t Matches = 0;  // matches handed to the sink (CountOnly: lines counted)
    std::uint64_t Bytes = 0;    // bytes searched
    unsigned SystemError = 0;   // the system's error code (ReadFailed)
    std::string Error;          // the text for the failure
};

// Receives a search. Every member but OnMatch has a default that goes on.
class QUORVEX_API SearchSink {
public:
    virtual ~SearchSink();
    virtual SearchAnswer OnMatch(const SearchMatch& match) = 0;
    // An input is about to be read (a file of a walk, a path, a descriptor);
    // SkipInput leaves it unread.
    virtual SearchAnswer OnInputStart(const std::string& name);
    // Before and after the matches of each block (see SearchBlock).
    virtual SearchAnswer OnBlock(const SearchBlock& block);
    virtual SearchAnswer OnBlockEnd(const SearchBlock& block);
    // The input was searched (to its end, or until the sink skipped it).
    virtual SearchAnswer OnInputEnd(const std::string& name);
    // A walk met a file or directory it could not open or read, or the
    // engine gave up on a file (`error` 0, the text in `reason`).
    virtual SearchAnswer OnInputFailed(const std::string& name, unsigned error, const std::string& reason);
};

// How the searcher reads and what it counts. Change between searches only.
struct SearchOptions {
    bool LineMode = true;          // matches within one line (see above)
    bool LineNumbers = false;      // count lines for SearchMatch::Line and SearchBlock::Line
    bool FirstMatchOfLine = false; // line mode: only the first match of each line
    bool CountOnly = false;        // line mode: no OnMatch; OnBlockEnd's SearchBlock::Matched
                                   // counts the lines holding a match (as grep -c)
    bool NullData = false;         // lines end at NUL instead of line feeds
    bool NulEndsLine = false;      // once an input shows a NUL, each NUL ends a line too
    std::size_t ContextLines = 0;  // lines kept before each block (SearchBlock)
                                   // (whole-input mode over pipes: a window keeps them)
    std::size_t BlockSize = 0;     // bytes read at a time; 0: the default (64 KiB)
    std::size_t Window = 0;        // whole-input mode over pipes; 0: the default (8 MiB)
};

// Which files a walk visits, and on how many threads.
struct WalkOptions {
    bool Recurse = false;
    enum Links { FileLinks, NoLinks, AllLinks } LinkRule = FileLinks;  // as RegularExpression's LinkRule
    // Asked for each file and directory met (after the mask); false leaves it
    // out. Empty: everything the mask accepts.
    std::function<bool(const std::string& path, bool directory)> Filter;
    // With a SearchSinkFactory: the files searched at once (0: one per core;
    // 1: one after the other on the caller's thread), and at most how many
    // files are in flight ahead of the one the caller receives next (0: 16
    // per thread). The single-sink SearchFiles searches on the caller's
    // thread whatever these say.
    unsigned Threads = 1;
    std::size_t FilesAhead = 0;
};

// A walk searched on several threads: each file gets a sink of its own, made
// on the worker thread that searches it; the caller's thread receives the
// files in walk order, each once its search has ended, so what a sink
// collected (a file's printed lines, say) can be written out unmixed and in
// the order one thread would give. A sink's answers act on its own file as
// with one thread; a Stop also ends the walk after that file (files after it
// that were already being searched end at their next block and are never
// handed out).
class QUORVEX_API SearchSinkFactory {
public:
    virtual ~SearchSinkFactory();
    // On a worker (several at once): the sink for the file `name`.
    virtual std::unique_ptr<SearchSink> MakeSink(const std::string& name) = 0;
    // On the caller's thread, in walk order: the file's sink once its search
    // has ended (a file that could not be read has had OnInputFailed), and
    // how it ended. Stop ends the walk.
    virtual SearchAnswer OnFileDone(std::unique_ptr<SearchSink> sink, const SearchResult& result) = 0;
    // On the caller's thread, where the walk met it: a directory that could
    // not be read. The default goes on.
    virtual SearchAnswer OnWalkFailed(const std::string& name, unsigned error, const std::string& reason);
};

class QUORVEX_API Searcher {
    template <class F>
    using IfCallable = std::enable_if_t<!std::is_base_of<SearchSink, std::decay_t<F>>::value>;

public:
    // `expression` in the normal (Perl) syntax; of the options only
    // CaseInsensitive changes the compilation, and the match options are
    // those of RegularExpression (NotBol, NotDotNewline, ...).
    explicit Searcher(const std::string& expression,
                      const std::set<RegularExpression::Options>& options = {},
                      const std::set<RegularExpression::Matches>& matches = {});
    // The object's expression, options and line mode.
    explicit Searcher(RegularExpression& object);
    ~Searcher();
    Searcher(Searcher&&) noexcept;
    Searcher& operator=(Searcher&&) noexcept;
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // False when the expression did not compile: Error() and ErrorCode() say why.
    bool Ok() const;
    const std::string& Error() const;
    unsigned ErrorCode() const;

    SearchOptions& Options();

    // A file, FIFO or device by name (read as it arrives, to its end).
    SearchResult SearchPath(const std::string& path, SearchSink& sink);
    // The files of a wildcard path ("logs/*.txt", "src/*" with Recurse), in
    // the walk order of RegularExpression::GrepFiles.
    SearchResult SearchFiles(const std::string& files, const WalkOptions& walk, SearchSink& sink);
    // The same on walk.Threads threads, a sink per file (see SearchSinkFactory).
    SearchResult SearchFiles(const std::string& files, const WalkOptions& walk, SearchSinkFactory& sinks);
    // An open descriptor (0: standard input), reported under `name`.
    SearchResult SearchDescriptor(int descriptor, const std::string& name, SearchSink& sink);
    // Bytes in memory.
    SearchResult SearchText(std::string_view text, SearchSink& sink);

    // The same with a callable `SearchAnswer f(const SearchMatch&)` as the sink.
    template <class F, class = IfCallable<F>>
    SearchResult SearchPath(const std::string& path, F&& f)
    {
        Callable<F> sink(f);
        return SearchPath(path, static_cast<SearchSink&>(sink));
    }
    template <class F, class = IfCallable<F>>
    SearchResult SearchDescriptor(int descriptor, const std::string& name, F&& f)
    {
        Callable<F> sink(f);
        return SearchDescriptor(descriptor, name, static_cast<SearchSink&>(sink));
    }
    template <class F, class = IfCallable<F>>
    SearchResult SearchText(std::string_view text, F&& f)
    {
        Callable<F> sink(f);
        return SearchText(text, static_cast<SearchSink&>(sink));
    }

private:
    template <class F>
    class Callable final : public SearchSink {
    public:
        explicit Callable(F& f) : f_(f) {}
        SearchAnswer OnMatch(const SearchMatch& match) override { return f_(match); }

    private:
        F& f_;
    };

    SearchResult SearchOne(const std::string& path, bool listed, SearchSink& sink);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace RegexClass

#endif
