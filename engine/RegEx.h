// RegEx: the engine's file walker.
//
// Compiled once with SetExpression, it turns one wildcard path into a sorted
// list of files (walker), maps and searches each file (searcher), and hands
// every file or every match to a plain callback (sink) that answers whether to
// go on. Inside a GrepFiles callback the object answers for the current match
// (Marks, What, Position, Line). Nothing is thrown: a bad expression is an
// error code, a matching error ends the walk and is kept in MatchError().
//
// The contract (which files, in which order, masks, what a callback sees,
// counts, and where it departs from Boost 1.74's RegEx) is docs/file-walk.md.
#ifndef QUORVEX_ENGINE_REGEX_H
#define QUORVEX_ENGINE_REGEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/regex.hpp>

#include "Platform.h"

namespace RegexEngine {

class UnicodeExpression;

class RegEx {
public:
    using FindFilesCallback = bool (*)(const char* file);
    using GrepFileCallback = bool (*)(const char* file, const RegEx& engine);

    // Offset value of a sub-match that took no part (reads as -1 in a signed
    // 32-bit field).
    static constexpr std::uint64_t npos = ~std::uint64_t(0);

    RegEx();
    ~RegEx();
    RegEx(const RegEx&) = delete;
    RegEx& operator=(const RegEx&) = delete;

    // Compiles `text` up to its first NUL in the engine's normal (Perl) syntax,
    // case-insensitive when asked. Returns 0 or the engine's error code.
    unsigned SetExpression(const char* text, bool icase);
    unsigned SetExpression(const std::string& text, bool icase) { return SetExpression(text.c_str(), icase); }
    // Walks with `compiled`, an expression compiled elsewhere with any syntax
    // options (the expression object's own compilation); `text` is its source.
    // Returns 0 or the compiled expression's error status.
    unsigned SetExpression(const boost::regex& compiled, const std::string& text);
    // Unicode mode: searches with `compiled` (a compilation of the Unicode
    // mode, see Unicodeexpression.h) instead. Returns 0 or its error code.
    unsigned SetUnicodeExpression(std::shared_ptr<const UnicodeExpression> compiled);

    // How many threads search files: 0 (the default) one per core, at most
    // four (none for a walk of one file); 1 only the caller's thread; n > 1
    // that many threads searching the next files ahead while the caller's
    // thread delivers the callbacks. Results and their order are the same for
    // every setting.
    void SetSearchThreads(unsigned count);

    // How files too large to read whole are searched: a file up to
    // `readLimit` bytes (16 MiB by default) is read into the walk's reused
    // buffer; a larger one is mapped when `map` is set and the build is
    // 64-bit (the default), else, or when it cannot be mapped, searched in
    // windows of `window` bytes (0: 8 MiB) read in turn. Either way the memory
    // the walk allocates does not grow with the file. A file searched in
    // windows shows no bytes: FileData() is null and FileSize() 0 inside its
    // callbacks, CurrentMatchResult() answers false; What(), Position() and
    // Line() answer as for any file. In line mode it is read in blocks of
    // whole lines, which end only at line feeds.
    void SetLargeFileRule(std::size_t readLimit, bool map, std::size_t window);

    // Line mode (off by default): every match lies within one line. A line is
    // the bytes up to, not including, a line feed; the last line needs no line
    // feed, and an empty file has no line. Each line is searched as a subject
    // of its own, so `^`, `$`, `\A`, `\z` and `\b` answer at the line's edges
    // exactly as they would if the line were the whole subject: the results
    // are those of the engine's grep run on each line on its own, with
    // Position and Line relative to the file. Off, each file is one subject
    // and matches may span lines.
    void SetLineMode(bool on);
    // In line mode, GrepFiles reports only the first match of each line (off
    // by default): for callers that select lines rather than matches, the
    // rest of a line already selected is not searched.
    void SetFirstMatchOfLine(bool on);

    // Calls back once per file holding a match; returns the files reported.
    unsigned FindFiles(FindFilesCallback callback, const std::string& files, bool recurse,
                       unsigned matchFlags);
    // Calls back once per match; returns the callbacks made.
    unsigned GrepFiles(GrepFileCallback callback, const std::string& files, bool recurse,
                       unsigned matchFlags);

    // Inside a GrepFiles callback: the current match.
    unsigned Marks() const;                    // sub-expressions + 1
    std::string What(unsigned i) const;        // text of sub-match i, empty if none
    // Byte offset in the file (64 bits), or npos. The objects' 32-bit
    // REMatch::Position reads -1 past 2^31 - 1 (see RecordPosition).
    std::uint64_t Position(unsigned i) const;
    std::uint64_t Line() const;                // 1 + line feeds before Position(0)
    // The current match as the engine's match result, for expanding a format
    // against it: the walk's expression run again, anchored at the match's
    // start, with the file (in line mode the line) around it visible, so that
    // $` and $' give the text before and after it. False when there is no
    // current match or the engine does not find the same span again.
    bool CurrentMatchResult(boost::cmatch& result) const;
    // The expression the running walk searches with; null outside a callback.
    const boost::regex* WalkExpression() const;
    // The bytes of the current file as the walk read them, and the file's
    // state when it was opened for that read: the text around a match, and
    // what tells a later reader whether the file is still the one searched.
    const char* FileData() const;
    std::uint64_t FileSize() const;
    const RegexPlatform::FileState& FileState() const;

    // The engine's text for the matching error that ended the last walk (the
    // first one, when the walk goes on after them), empty when there was none.
    const std::string& MatchError() const;
    // The file in which that matching error happened.
    const std::string& MatchErrorFile() const;
    // Off (the default), a matching error in a file ends the walk. On, the
    // walk goes on with the next file: the failed file's matches found
    // before the error stay delivered, the file callback (when set) sees it
    // Finished with FileMatchError() set, and MatchError() keeps the first
    // error.
    void SetContinueAfterMatchError(bool on);
    // Inside the file callback at Finished: the engine's text when the
    // file's search failed, else empty.
    const std::string& FileMatchError() const;

    // ---- Per-file notifications, links and a file filter ---------------------
    // All off by default; then FindFiles and GrepFiles behave as described
    // above. They serve callers that must know of every file (counts of 0,
    // files without a match, binary files) and of every file skipped.

    // Where a walk is with a file when the file callback runs.
    enum class FileStage {
        Started,   // read, not yet searched: FileData() and FileSize() hold its bytes
        Finished,  // searched (its matches were delivered); the bytes are still there
        Skipped    // could not be read; FileError() says why. Never searched.
    };
    // What the file callback answers.
    enum class FileAnswer {
        Go,        // go on
        SkipFile,  // (at Started) deliver no match of this file, no Finished
        Stop       // end the whole walk
    };
    using FileCallback = FileAnswer (*)(const char* file, const RegEx& engine);
    // Called for every file of the walk's list and every directory that could
    // not be read (as Skipped; a file whose bounded buffer or window cannot
    // be had with the out-of-memory code: no file is too large for a walk).
    // Null (the default) turns it off.
    void SetFileCallback(FileCallback callback);
    // Inside a file callback (FileData() and FileSize() above give the
    // file's bytes at Started and Finished).
    FileStage Stage() const;
    unsigned FileError() const;  // the platform's error code (Skipped)

    // Which symbolic links met in directories take part (see LinkRule in the
    // walker): 0 links to files only (the default), 1 none, 2 all, links to
    // directories included (never one back to a directory above).
    void SetLinkRule(unsigned rule);
    // Asked for each file and sub-directory the listing meets; false leaves
    // it out. Null (the default): everything the mask accepts.
    using FilterCallback = bool (*)(const char* path, bool directory);
    void SetFilterCallback(FilterCallback callback);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace RegexEngine

#endif
