// The platform layer: the few operating-system services the file operations
// need, behind one small interface.
//
// Thread-local slots carry each thread's object stack; files are opened,
// read, written, copied, deleted and their attributes read and set; the safe
// rewrite of a changed file gets an exclusively created temporary file,
// flushes it to disk, gives it the original's permissions and renames it over
// the original. Every failing call leaves its error code for LastError()
// (errno here). The POSIX implementation lives in Platformposix.cpp; another
// implementation of the same functions can sit beside it, chosen at build
// time. Nothing here throws.
#ifndef QUORVEX_PLATFORM_PLATFORM_H
#define QUORVEX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace RegexPlatform {

// ---- Thread-local slots ---------------------------------------------------

// Index of a thread-local slot; NoSlot (every bit set) means there is none.
using SlotIndex = std::uint32_t;
constexpr SlotIndex NoSlot = 0xFFFFFFFFu;

// Called at thread exit with the thread's non-null slot value.
using SlotRelease = void (*)(void* value);

// Allocates a slot whose value is null on every thread; NoSlot on failure.
SlotIndex AllocateSlot(SlotRelease release = nullptr);
// Releases a slot; NoSlot is ignored. Values still held are not released.
void FreeSlot(SlotIndex index);
// The calling thread's value; null for NoSlot.
void* GetSlotValue(SlotIndex index);
// Stores the calling thread's value; false for NoSlot or on failure.
bool SetSlotValue(SlotIndex index, void* value);

// ---- Errors ---------------------------------------------------------------

// The error code left by the platform call that failed last on this thread.
unsigned LastError();
// The error code reported for a file offset that does not fit a record field.
unsigned ValueTooLargeError();
// The error codes for "out of memory" and "is a directory".
unsigned OutOfMemoryError();
unsigned IsDirectoryError();
// The system's text for an error code ("Permission denied").
std::string ErrorText(unsigned code);

// ---- Terminals ------------------------------------------------------------

// True when standard output (1) or standard error (2) is a terminal.
bool IsTerminal(int stream);
// Writes all of [data, data + size) to standard output (1) or standard error
// (2), going on after interruptions and short writes; false on failure.
bool WriteStandard(int stream, const char* data, std::size_t size);
// Whether the system's own setting makes text UTF-8 where no locale variable
// (LC_ALL, LC_CTYPE, LANG) is set: on Windows, the console's output code page
// or the process's ANSI code page is UTF-8 (65001); elsewhere false, the C
// locale.
bool SystemTextIsUtf8();
// A text from the command line as UTF-8: on Windows, where a program's
// arguments come in the ANSI code page, converted from it (characters the
// code page lacks are lost before the program sees them); elsewhere as it is.
std::string CommandLineTextToUtf8(const std::string& text);

// ---- Files ------------------------------------------------------------------

// An open file; null means no file.
using FileHandle = void*;

enum class SeekOrigin { Begin, Current, End };

// Opens an existing regular file for reading (others may read it too).
// Anything else in its place (FIFO, device, directory) is refused at once.
FileHandle OpenForReading(const char* name);
// Opens an existing regular file for writing in place, without truncating
// it; anything else is refused at once.
FileHandle OpenForUpdate(const char* name);
// Creates a new file, opened for writing and reading, readable and writable by
// its owner only; fails when the name is taken (by anything, a symbolic link
// included).
FileHandle CreateExclusive(const char* name);
// Reads up to `size` bytes at the current position; `done` is 0 at the end
// of the file. False on failure.
bool ReadFile(FileHandle file, void* buffer, std::size_t size, std::size_t& done);
// Writes up to `size` bytes at the current position; false on failure.
bool WriteFile(FileHandle file, const void* buffer, std::size_t size, std::size_t& done);
// Moves the position and reports where it now stands.
bool SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position);
// The current position.
bool TellFile(FileHandle file, std::uint64_t& position);
// Closes the file; false when the system reports a deferred write error.
bool CloseFile(FileHandle file);
// Copies the whole file `from` to `to`, replacing a file named `to`; the copy
// gets the permissions of `from`. `to` is never left half-written when it
// can be written next to itself (under a work name, see WorkNameStem) and
// renamed into place.
bool CopyFileReplacing(const char* from, const char* to);
// Removes a name.
bool RemoveFile(const char* name);

// File attributes, as bits.
constexpr std::uint32_t AttributeReadOnly = 0x01;   // the owner may not write
constexpr std::uint32_t AttributeHidden = 0x02;     // the name starts with a dot
constexpr std::uint32_t AttributeDirectory = 0x10;  // a directory
constexpr std::uint32_t AttributeNormal = 0x80;     // none of the others
constexpr std::uint32_t InvalidAttributes = 0xFFFFFFFFu;

// The attributes of a named file (following symbolic links), or
// InvalidAttributes when they cannot be read.
std::uint32_t GetAttributes(const char* name);
// Sets the read-only attribute as given; the other bits describe the file and
// cannot be set. False on failure.
bool SetAttributes(const char* name, std::uint32_t attributes);

// ---- Safe rewrite -------------------------------------------------------------

// What the rewrite needs to know about an open file.
struct FileInformation {
    std::uint64_t Device = 0;
    std::uint64_t Identity = 0;   // the file's number on its device
    std::uint64_t Links = 0;      // hard links to it
    std::uint64_t Size = 0;
    std::uint32_t Permissions = 0;
    std::uint32_t Owner = 0;
    std::uint32_t Group = 0;
};

bool QueryFile(FileHandle file, FileInformation& information);
// The name of the file itself behind any symbolic links; false when it cannot
// be resolved (a broken link, a missing file).
bool ResolvePath(const char* name, std::string& resolved);
// The directory part of a name ("." when it has none).
std::string DirectoryOf(const std::string& name);
// The last component of a name.
std::string LastComponentOf(const std::string& name);
// The system's directory for temporary files.
std::string TemporaryDirectory();
// Creates a new file with an unpredictable name in `directory`, starting with
// `stem`, readable and writable only by its owner, opened for reading and
// writing; `name` receives the name (also the attempted pattern on failure).
FileHandle CreateTemporaryIn(const std::string& directory, const std::string& stem,
                             std::string& name);
// Forces the file's content to the disk.
bool FlushFile(FileHandle file);
// Best effort: forces a directory's entries to the disk.
void FlushDirectory(const std::string& directory);
// True when a new file made by this process can be given the owner and group
// of the file described (so replacing the file by a new one keeps them).
bool OwnershipKeepable(const FileInformation& information);
// Takes away the access list a new `file` inherited from its directory, gives
// it the owner and group of `from` where the process may, then the permission
// bits of `from`. False when the permission bits cannot be set. (Whether the
// owner and group were given shows in QueryFile afterwards.)
bool CopyPermissions(FileHandle file, const FileInformation& from);
// Replaces `to` by `from` in one atomic step (both on one volume).
bool RenameReplacing(const char* from, const char* to);
// Cuts or extends the file to `size` bytes.
bool TruncateFile(FileHandle file, std::uint64_t size);
// Reserves disk space for `size` bytes without changing the file's length;
// true where the system cannot reserve (the writes will tell).
bool ReserveSpace(FileHandle file, std::uint64_t size);

// ---- The state of a file, locks, names --------------------------------------

// Which file a name or handle leads to and what it looked like: two states are
// the same file unchanged only when every field agrees. On POSIX the device
// and inode number, the size and the modification time to the nanosecond; a
// Win32 counterpart gives the volume serial number, the file index, the size
// and the last-write time (its 100 ns ticks as seconds and nanoseconds).
struct FileState {
    std::uint64_t Device = 0;
    std::uint64_t Identity = 0;  // the file's number on its device
    std::uint64_t Size = 0;
    std::int64_t ModifiedSeconds = 0;
    std::uint32_t ModifiedNanoseconds = 0;
    bool Known = false;  // false: nothing could be learned (never equal to anything)
};

// True when both states are known and describe the same file unchanged.
inline bool SameState(const FileState& a, const FileState& b)
{
    return a.Known && b.Known && a.Device == b.Device && a.Identity == b.Identity && a.Size == b.Size &&
           a.ModifiedSeconds == b.ModifiedSeconds && a.ModifiedNanoseconds == b.ModifiedNanoseconds;
}
// True when both states are known and name the same file (changed or not).
inline bool SameFile(const FileState& a, const FileState& b)
{
    return a.Known && b.Known && a.Device == b.Device && a.Identity == b.Identity;
}

// The state of an open file; false (state not Known) on failure.
bool QueryFileState(FileHandle file, FileState& state);
// The state of the file a name leads to, symbolic links followed; false (state
// not Known) when it cannot be learned, for instance when nothing has the name.
bool QueryNameState(const char* name, FileState& state);

// The state of what has the name itself, a symbolic link not followed.
bool QueryEntryState(const char* name, FileState& state);
// The state of the file standard output (1) or standard error (2) writes to,
// when that is a regular file (not a terminal, pipe or device); false
// otherwise. A search compares its inputs with it, so that it never reads
// the output it is writing.
bool StandardFileState(int stream, FileState& state);

// Takes the advisory whole-file lock of `file` for this open file, waiting
// while another holder keeps it (POSIX flock, LOCK_EX; Win32 LockFileEx with
// LOCKFILE_EXCLUSIVE_LOCK). Cooperating processes that take it around their
// rewrites never rewrite one file at the same time; others are not stopped.
// The lock goes when the file is closed. True where the file system has no
// such locks; false on failure.
bool LockFile(FileHandle file);

// Opens an existing regular file for a rewrite: for reading and, where the
// process may, writing too (`writable`), so that the new content can be
// written over the file through the very descriptor whose identity was
// checked, never through a second open of the name. Anything but a regular
// file is refused at once; so is a file whose opening would have to wait for
// another holder (LastError() then satisfies IsInUseError).
FileHandle OpenForRewrite(const char* name, bool& writable);

// True for the error codes that mean "another process has the file open in a
// way that excludes this one" (POSIX EWOULDBLOCK, EBUSY, ETXTBSY; Win32
// sharing and lock violations).
bool IsInUseError(unsigned code);
// The code recorded for a file found in use (EBUSY; ERROR_SHARING_VIOLATION).
unsigned InUseError();

// A write lease: the kernel grants it only while no other descriptor of the
// file is open (this process's other ones included), and marks it broken as
// soon as anyone opens the file meanwhile; that opener then waits until the
// lease is released (or the system's lease-break time passes). The break is
// not signalled to this process: it is read with LeaseIntact, which tells an
// opener that writes (or truncates) from one that only reads. Linux only;
// elsewhere, on file systems without leases, and for a process that neither
// owns the file nor has the capability to lease it, the answer is Unavailable
// and nothing is held.
enum class Lease { Held, InUse, Unavailable };
Lease TakeWriteLease(FileHandle file);
// False once a lease taken on `file` was broken by an opener that writes or
// truncates, or was taken away; true while it is held or only a reader waits
// for it (and without a lease).
bool LeaseIntact(FileHandle file);
// Gives the lease up, letting a waiting opener go on. Closing the file does too.
void ReleaseLease(FileHandle file);

// Swaps the names `from` and `to` in one atomic step (both must exist, on one
// volume). `supported` is false where the system or file system cannot swap
// names (the caller then renames); false on failure.
bool ExchangeNames(const char* from, const char* to, bool& supported);

// Copies the content of the open file `from` (from its start) to `to`, which
// is made as CopyFileReplacing makes it, with the owner, permissions and named
// attributes (access lists included) of `from`. Where those cannot all be
// given, the copy is made readable and writable by its owner only and
// `attributesLost` (when given) receives the error code (0 otherwise). The
// file to copy is never opened again by name.
bool CopyOpenFileReplacing(FileHandle from, const char* to, unsigned* attributesLost = nullptr);

// While one lives, the calling thread does not die of the file-size-limit
// signal: a write beyond the limit fails with the file-too-large error instead
// (POSIX: SIGXFSZ blocked for the thread and any pending one taken away before
// it is unblocked; nothing on Win32).
class FileSizeSignalGuard {
public:
    FileSizeSignalGuard();
    ~FileSizeSignalGuard();
    FileSizeSignalGuard(const FileSizeSignalGuard&) = delete;
    FileSizeSignalGuard& operator=(const FileSizeSignalGuard&) = delete;

private:
    bool blocked_ = false;  // the signal was not blocked before
};

// True when something (of any kind, a dangling symbolic link included) has the
// name; links are not followed.
bool NameExists(const char* name);

// The longest name one directory entry may have in `directory` (255 where the
// system cannot tell).
std::size_t MaximumNameLength(const std::string& directory);

// Copies the named attributes of `from` to `to`: on POSIX every extended
// attribute the process can list (user.*, the access control lists
// system.posix_acl_*, security labels); a Win32 counterpart copies the
// security descriptor and alternate data streams. True when `from` has none or
// all were copied; false as soon as one cannot be, with the error left.
bool CopyNamedAttributes(FileHandle from, FileHandle to);

// What writing into a file takes away from it: the set-user-ID and
// set-group-ID bits (for a writer without the capability to keep them) and
// its file capabilities (security.capability, for every writer, and with any
// change of owner). Read before the content is written and given back after.
struct Privileges {
    std::uint32_t Permissions = 0;  // all the permission bits, set-id bits included
    std::string Capability;         // the raw security.capability value
    bool HasCapability = false;
    bool Special() const { return (Permissions & 06000) != 0 || HasCapability; }
};
bool ReadPrivileges(FileHandle file, Privileges& privileges);
// Sets the permission bits, then (last) the capability. False on failure.
bool ApplyPrivileges(FileHandle file, const Privileges& privileges);

// A short text kept with the file itself (on POSIX the extended attribute
// "user.quorvex-undo"), whatever name it is reached by: a copy-back records
// there where its undo copy lies until the file is whole again. SetMark forces
// it to the disk and is false where the file system keeps no such attribute;
// ReadMark is false when there is none.
bool SetMark(FileHandle file, const std::string& text);
bool ReadMark(FileHandle file, std::string& text);
void ClearMark(FileHandle file);

// Names of the files a rewrite makes beside a file NAME (and a backup copy
// beside its backup name): temporary files ".NAME.quorvex-" followed by six
// random letters or digits, and the undo copy of a file changed in place,
// ".NAME.quorvex-undo". Where NAME is too long for that to fit `maximum`
// bytes, NAME is cut (never inside a UTF-8 sequence) and followed by "~" and
// eight hexadecimal digits of a hash of the whole name. Walks never list such
// names, so two runs never feed on each other's temporary files.
constexpr const char* WorkNameMark = ".quorvex-";
constexpr const char* UndoNameSuffix = "undo";

// ".NAME.quorvex-" (or its shortened form) for a last component `name`, such
// that six more characters still fit `maximum`.
inline std::string WorkNameStem(const std::string& name, std::size_t maximum)
{
    const std::string mark = WorkNameMark;
    const std::size_t overhead = 1 + mark.size() + 6;
    if (name.size() + overhead <= maximum)
        return "." + name + mark;
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    static const char digits[] = "0123456789abcdef";
    std::string tail = "~";
    for (int shift = 28; shift >= 0; shift -= 4)
        tail += digits[(hash >> shift) & 0xF];
    std::size_t keep = maximum > overhead + tail.size() ? maximum - overhead - tail.size() : 0;
    keep = keep < name.size() ? keep : name.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;  // not inside a UTF-8 sequence
    return "." + name.substr(0, keep) + tail + mark;
}

// True for a last component that one of the names above has: a leading dot
// and, after the last ".quorvex-", either "undo" or six letters or digits.
inline bool IsWorkName(const std::string& name)
{
    if (name.size() < 2 || name[0] != '.')
        return false;
    const std::size_t mark = name.rfind(WorkNameMark);
    if (mark == std::string::npos || mark == 0)
        return false;
    const std::string rest = name.substr(mark + std::string(WorkNameMark).size());
    if (rest == UndoNameSuffix)
        return true;
    if (rest.size() != 6)
        return false;
    for (const char c : rest)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    return true;
}

// Error codes for conditions the file operations detect themselves.
unsigned AlreadyExistsError();    // a name that must be new is taken (EEXIST)
unsigned InvalidArgumentError();  // a request that cannot be right, such as copying a file onto itself (EINVAL)

// ---- Walking directories and reading files whole ---------------------------

// What a directory entry is, as a walk over files sees it.
enum class EntryKind {
    RegularFile,
    LinkToRegularFile,  // a symbolic link whose target is a regular file
    Directory,          // a real directory, never a link to one
    Other               // FIFOs, sockets, devices, broken links, links to anything else
};

struct DirectoryEntry {
    std::string Name;
    EntryKind Kind;
};

// Asked for each entry that is not a directory, before anything more is
// learned about it (a link's target is looked at only for entries accepted).
using EntryWanted = bool (*)(const std::string& name, void* context);

// Appends the entries of the directory `path` to `entries` in the directory's
// own order, "." and ".." left out: its real sub-directories when
// `withDirectories` is set, and every other entry that `wanted` accepts, each
// with its kind. `path` may be of any length. When `followLink` is false and
// `path` itself is a symbolic link, nothing is read. False when the directory
// cannot be read (entries already appended stay).
bool ListDirectory(const std::string& path, bool followLink, bool withDirectories, EntryWanted wanted,
                   void* context, std::vector<DirectoryEntry>& entries);

// True when `path` (of any length, links followed) names a regular file.
// FIFOs and devices are never opened for reading, so this never waits.
bool IsRegularFile(const std::string& path);

// How reading a file whole went.
enum class WholeFile {
    Read,            // every byte of the size the file had when opened
    Shortened,       // the file shrank meanwhile: the bytes still there were read
    NotRegularFile,  // a directory, FIFO, device or socket: nothing read, never waited on
    Failed           // could not be opened (missing, vanished, denied) or read; see LastError()
};

// Storage for `size` bytes, given by the caller; it may throw, and the
// exception passes through ReadWholeFile with the file closed.
using ReserveBytes = char* (*)(std::size_t size, void* context);

// Reads the regular file `path` (of any length) into storage asked of
// `reserve` for the size the file has when opened; `size` receives the number
// of bytes read (0 unless the result is Read or Shortened). A non-null `state`
// receives the file's state as it was when opened, before any byte was read,
// so that any later change to the file shows as a different state.
WholeFile ReadWholeFile(const std::string& path, ReserveBytes reserve, void* context, std::size_t& size,
                        FileState* state = nullptr);

// A block of at least `size` bytes of zeroed read-write memory that starts on
// a huge-page boundary and is offered huge pages (fewer page faults when it is
// first filled); `length` receives its real size, a multiple of the huge page.
// Null when the memory cannot be had.
void* AllocateLargeBlock(std::size_t size, std::size_t& length);
// Returns a block of AllocateLargeBlock with the length it reported.
void FreeLargeBlock(void* block, std::size_t length);

// ---- Inputs of any kind, read in blocks (Platformread*.cpp) -------------------

// What an input opened for a search is.
enum class InputKind {
    RegularFile,  // has a size (which may read 0 while there is content, as in /proc)
    Stream        // a FIFO, terminal, device or socket: read until its end
};
// Opens `name` (of any length) for reading in blocks, whatever it is; a FIFO
// is waited on until a writer opens it, as any reader would. A directory is
// refused with IsDirectoryError(). `size` receives a regular file's size when
// opened (0 for a stream). With `regularOnly` anything but a regular file is
// refused at once, never waited on (a walk's file replaced by a FIFO). Close
// with CloseFile.
FileHandle OpenInput(const char* name, InputKind& kind, std::uint64_t& size, bool regularOnly = false);
// A handle for reading the inherited descriptor `descriptor` (0: standard
// input); it stays the caller's, so it is never given to CloseFile. Null when
// the descriptor is not open.
FileHandle InputFromDescriptor(int descriptor, InputKind& kind, std::uint64_t& size);
// Reads up to `size` bytes of an input as they arrive; `done` is 0 at its
// end (a closed pipe included). False on failure.
bool ReadInput(FileHandle input, void* buffer, std::size_t size, std::size_t& done);
// Maps the first `size` bytes of an open regular file read-only; null when
// they cannot be mapped (the caller reads instead). Undone by UnmapInput.
const char* MapInput(FileHandle input, std::uint64_t size);
void UnmapInput(const char* view, std::uint64_t size);

// ---- Loadable modules ---------------------------------------------------------

// A shared library loaded at run time; null means none.
using ModuleHandle = void*;

// Loads the shared library `name` with all its references resolved now;
// null on failure, with the system's explanation in `reason`.
ModuleHandle LoadModule(const char* name, std::string& reason);
// The address of an exported symbol, or null.
void* ModuleSymbol(ModuleHandle module, const char* symbol);
// Unloads a module loaded by LoadModule; null is ignored.
void UnloadModule(ModuleHandle module);

// Characters that separate path components.
#if defined(_WIN32)
constexpr const char* PathSeparators = "\\/:";
#else
constexpr const char* PathSeparators = "/";
#endif

}  // namespace RegexPlatform

#endif
