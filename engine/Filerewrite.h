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
    std::vector<RewriteProblem> Problems;
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
