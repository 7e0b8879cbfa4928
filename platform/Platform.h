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
// Creates a new file for writing, readable and writable by its owner only;
// fails when the name is taken.
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
// can be written next to itself and renamed into place.
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
// Gives `file` the owner and group of `from` where the process may, then the
// permission bits of `from`. False when the permission bits cannot be set.
bool CopyPermissions(FileHandle file, const FileInformation& from);
// Replaces `to` by `from` in one atomic step (both on one volume).
bool RenameReplacing(const char* from, const char* to);
// Cuts or extends the file to `size` bytes.
bool TruncateFile(FileHandle file, std::uint64_t size);
// Reserves disk space for `size` bytes without changing the file's length;
// true where the system cannot reserve (the writes will tell).
bool ReserveSpace(FileHandle file, std::uint64_t size);

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
// of bytes read (0 unless the result is Read or Shortened).
WholeFile ReadWholeFile(const std::string& path, ReserveBytes reserve, void* context, std::size_t& size);

// A block of at least `size` bytes of zeroed read-write memory that starts on
// a huge-page boundary and is offered huge pages (fewer page faults when it is
// first filled); `length` receives its real size, a multiple of the huge page.
// Null when the memory cannot be had.
void* AllocateLargeBlock(std::size_t size, std::size_t& length);
// Returns a block of AllocateLargeBlock with the length it reported.
void FreeLargeBlock(void* block, std::size_t length);

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
