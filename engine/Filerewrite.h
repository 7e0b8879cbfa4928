// The rewrite of one changed file, and the small name and attribute helpers
// the file operations share. Nothing here knows the object types: problems
// come back as neutral records that each library turns into its own.
//
// RewriteFile streams the file through a new temporary file, putting each
// replacement in place of its match and checking on the way that the file
// still holds the text the walk saw; only a complete, flushed temporary file
// replaces the original, so a file that cannot be changed stays exactly as it
// was. Before anything is written the file is locked (an advisory whole-file
// lock that every rewrite takes, so two runs never rewrite one file at once)
// and must still be the file the walk read: the same file under its name,
// with the size and modification time it had then; it is checked again just
// before it is replaced. The usual way: the temporary file is created
// exclusively beside the file (a recognisable name, see WorkNameStem in
// Platform.h; owner-only permissions), gets the original's permission bits,
// owner and named attributes (extended attributes, access lists), and is
// renamed over the file in one atomic step. Where that cannot be done (the
// file has several hard links, a new file could not get its owner or its
// named attributes, or its directory takes no new file) the new content is
// copied back into the file in place, after an undo copy of the old content
// was written and flushed beside it (".NAME.quorvex-undo"; where none can be
// made there the file is left as it is: an undo copy anywhere else could not
// be found from the file); if that copy fails the old content is put back. An undo copy is removed only
// once the file is whole again, so one that is found beside a file means an
// interrupted rewrite: that file is not touched until the undo copy is dealt
// with. A symbolic link is never replaced: the file it points to is changed.
// Every step after the identity check goes through the one descriptor opened
// for it, and a write lease (Platform.h) held from the check to the
// replacement tells of any other process that has the file open or opens it
// for writing meanwhile: such a file is left as it is. A backup is a copy of
// the file made before it is replaced, never onto the file itself nor onto a
// backup made earlier in the same run.
#ifndef QUORVEX_ENGINE_FILEREWRITE_H
#define QUORVEX_ENGINE_FILEREWRITE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "Platform.h"
#include "Regularexpressionvalues.h"

namespace RegexEngine {

// Why a file could not be changed: the objects' ProblemReason values, each
// name with the prefix Rewrite.
#define QUORVEX_REWRITE_REASON(name, value) Rewrite##name = value,
enum RewriteReason : unsigned char { QUORVEX_PROBLEM_REASONS(QUORVEX_REWRITE_REASON) };
#undef QUORVEX_REWRITE_REASON

// One replacement: the bytes at Position that must read Match become
// Replacement. Edits come in increasing, non-overlapping order.
struct RewriteEdit {
    std::uint64_t Position = 0;
    std::string_view Match;
    std::string_view Replacement;
};

struct RewriteProblem {
    std::string FileName;    // the changed, temporary or backup file
    unsigned char Reason = RewriteOpenFailed;
    std::uint64_t Position = 0;  // of a failed read or write, or of the changed match
    std::string Text;            // for RewriteTextChanged: the expected match text
    unsigned SystemError = 0;    // the platform's error code, 0 for RewriteTextChanged
};

struct RewriteOutcome {
    bool Replaced = false;  // the file now holds the new content
    std::uint64_t Edits = 0;  // the edits written into it
    std::vector<RewriteProblem> Problems;
};

// Takes the edits of a rewrite in order, as they are found: the bytes up to
// each edit are copied, then its replacement is written. False when the
// rewrite failed (the problem is recorded): nothing more is wanted.
class RewriteEditSink {
public:
    virtual bool Take(const RewriteEdit& edit) = 0;

protected:
    ~RewriteEditSink() = default;
};

// Finds the edits of a rewrite while the new content is written, so that no
// list of them is kept. Find is called once, after the file was opened,
// locked and checked, with that descriptor (to be mapped, or read through a
// SearchSource's Borrow: its position belongs to the rewrite) and the file's
// size; it hands the edits to `sink` in increasing, non-overlapping order (an
// edit's views need only last for the call). False, with `problem` filled in
// (all but its file name), when the edits could not be found: the file stays
// as it is.
class RewriteEditSource {
public:
    virtual bool Find(RegexPlatform::FileHandle file, std::uint64_t size, RewriteEditSink& sink,
                      RewriteProblem& problem) = 0;

protected:
    ~RewriteEditSource() = default;
};

// What one run over many files (one ChangeFiles) remembers between rewrites:
// the files it changed, by device and file number (before and after), so that
// a file reached again under another name (a hard link, a symbolic link) is
// not changed twice; and the backups it made, by their directory's device and
// file number and their last component, so that no backup overwrites one made
// earlier in the run, however its path was spelled.
struct RewriteRun {
    std::set<std::pair<std::uint64_t, std::uint64_t>> Changed;
    std::set<std::tuple<std::uint64_t, std::uint64_t, std::string>> Backups;
};

// Rewrites `file` with `edits`. A non-empty `backup` names the copy to make of
// the file before it is replaced (any file of that name is replaced, unless
// it is the file itself or a backup made earlier in `run`). A non-null `read`
// is the state the file had when its matches were found: a file in another
// state is left as it is, with one RewriteTextChanged record at position 0
// with no text. A file that another process has open (for writing, or at all
// where write leases tell: see Platform.h) is left as it is with one
// RewriteInUse record; so is a file `run` changed before (RewriteAlreadyChanged).
// The file-size-limit signal never ends the process here: such a write fails
// with the file-too-large error.
RewriteOutcome RewriteFile(const std::string& file, const std::vector<RewriteEdit>& edits,
                           const std::string& backup, const RegexPlatform::FileState* read = nullptr,
                           RewriteRun* run = nullptr);

// The same for edits found as the file is written (see RewriteEditSource).
RewriteOutcome RewriteFile(const std::string& file, RewriteEditSource& edits, const std::string& backup,
                           const RegexPlatform::FileState* read = nullptr, RewriteRun* run = nullptr);

// ---- Rewrites whose edits are searched for as the file is written ----------

struct CompiledPattern;

// One match of a searched rewrite, with the bytes the engine saw around it:
// the whole file where it is mapped, else the window searched (whole-buffer
// mode) or the line (line mode, each line its own subject).
struct RewriteMatch {
    const char* Data;         // the visible bytes
    std::size_t Size;
    std::size_t Start, End;   // the match in them
    bool AtFileStart;         // Data[0] begins the subject (the file or the line)
    std::uint64_t Position;   // the match's offset in the file
};

// Expands the replacement of a match. May throw a std::exception when the
// engine gives up (complexity or stack limits): the file then stays as it
// is, with one RewriteMatchFailed record holding the engine's text.
class RewriteFormatter {
public:
    virtual std::string Format(const RewriteMatch& match) = 0;

protected:
    ~RewriteFormatter() = default;
};

// The matches a walk reported for a file, for a searched rewrite to check
// that it finds the same ones: their number and a digest of their spans.
struct RewriteSeen {
    std::uint64_t Matches = 0;
    std::uint64_t Digest = 14695981039346656037u;

    void Add(std::uint64_t start, std::uint64_t end)
    {
        ++Matches;
        Digest = (Digest ^ start) * 1099511628211u;
        Digest = (Digest ^ end) * 1099511628211u;
    }
};

// Edits found by searching the file while the rewrite copies it, so that
// memory does not grow with the file or its matches: each match becomes an
// edit with the formatter's replacement. The file is mapped and searched as
// one buffer where it can be (`flags` with lineModeFlag: line by line, as the
// walks search); otherwise it is read in windows, with the engine's partial
// matches finding a match that crosses a window's edge whole, or in line mode
// in blocks of whole lines. A format that reads beyond its match (the text
// before or after it) needs the whole file: a file that cannot be mapped is
// then refused (RewriteReadFailed with the value-too-large code), as is one
// searched in Unicode mode outside line mode that cannot be mapped.
class SearchedEdits final : public RewriteEditSource {
public:
    // `flags`: match flags through SearchFlags, plus lineModeFlag in line
    // mode. `pattern` and `formatter` must outlive the rewrite.
    SearchedEdits(const CompiledPattern& pattern, unsigned flags, RewriteFormatter& formatter)
        : pattern_(pattern), flags_(flags), formatter_(formatter)
    {
    }

    // Only the first Limit matches are replaced (a walk stopped after them).
    std::uint64_t Limit = ~std::uint64_t(0);
    // When set, the matches (up to Limit) must be these, or the file stays as
    // it is with one RewriteTextChanged record at position 0.
    const RewriteSeen* Expected = nullptr;
    // The format reads beyond its match.
    bool NeedsWholeFile = false;

    bool Find(RegexPlatform::FileHandle file, std::uint64_t size, RewriteEditSink& sink,
              RewriteProblem& problem) override;

private:
    const CompiledPattern& pattern_;
    unsigned flags_;
    RewriteFormatter& formatter_;
};

// True when `format` may read the text before or after its match ($`, $',
// their long names).
bool FormatReadsAroundMatch(const std::string& format);

// For tests: searched rewrites read files in windows (or line blocks) of
// `size` bytes instead of mapping them, and ChangeFiles searches every file
// instead of collecting its matches; 0 (the default) maps where possible.
void SetRewriteWindow(std::size_t size);
std::size_t RewriteWindow();

// True when a backup name built with `extension` stays beside the file: the
// extension holds no path separator, no NUL and is not "..". Other extensions
// are refused (a backup would be written elsewhere, over another file).
bool IsSafeSaveExtension(const std::string& extension);

// The name of the undo copy that a rewrite in place keeps beside `file`
// (the file itself, links resolved) while it overwrites it.
std::string UndoNameOf(const std::string& file);

// The name of the backup copy of `file`: the name without its extension,
// then a dot and `extension`. The extension's dot is looked for in the last
// path component only, so "work/my.dir/README" gives "work/my.dir/README.bak".
// With `append`, the whole name, a dot and `extension` ("a.txt.bak").
std::string BackupNameOf(const std::string& file, const std::string& extension, bool append = false);

// True when `extension` is not empty and the last path component of `file`
// ends with a dot and the whole of `extension` (dots included: "a.txt.orig"
// for "txt.orig"), letters compared through the global locale's case
// conversion. For an extension without dots this is: the text after the last
// dot equals it.
bool HasSaveExtension(const std::string& file, const std::string& extension);

// True when the file's read-only attribute is set or its attributes cannot
// be read.
bool IsReadOnlyFile(const std::string& file);

// The current position of an open file, 0 when it cannot be determined, the
// largest 32-bit value when it does not fit.
unsigned FilePointerOf(RegexPlatform::FileHandle file);

// Closes both handles (either may be null) and removes the temporary file.
void CloseAndRemove(RegexPlatform::FileHandle source, RegexPlatform::FileHandle temporary,
                    const std::string& temporaryName);

}  // namespace RegexEngine

#endif
