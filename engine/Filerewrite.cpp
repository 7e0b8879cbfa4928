// The rewrite of one changed file (see Filerewrite.h), and the name helpers.
#include "Filerewrite.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <new>
#include <cstring>
#include <locale>
#include <memory>
#include <utility>

#include "Searchdriver.h"
#include "Streamsearcher.h"

namespace RegexEngine {

namespace P = RegexPlatform;

namespace {

// Size of the blocks in which files are read and written: large enough that
// a file with many matches costs a few system calls per megabyte, not per
// match.
constexpr std::size_t BlockSize = std::size_t(1) << 20;

// A temporary file: closed and removed when it goes out of scope unless it
// was kept (renamed into place, or holding the only copy of old content).
struct Temporary {
    P::FileHandle Handle = nullptr;
    std::string Name;  // also the name tried when creation failed
    bool Created = false;
    bool Keep = false;

    Temporary() = default;
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() { Discard(); }

    // Closes the file and removes it unless it is kept.
    void Discard()
    {
        Close();
        if (Created && !Keep)
            P::RemoveFile(Name.c_str());
        Created = false;
    }

    bool Create(const std::string& directory, const std::string& stem)
    {
        Handle = P::CreateTemporaryIn(directory, stem, Name);
        Created = Handle != nullptr;
        return Created;
    }

    // Closes the handle; false when the system reports a deferred error.
    bool Close()
    {
        const bool ok = P::CloseFile(Handle);
        Handle = nullptr;
        return ok;
    }
};

// Buffered output into one file, tracking how many bytes reached it.
class Writer {
public:
    Writer(P::FileHandle file, const std::string& name) : file_(file), name_(name) {}

    bool Write(const char* data, std::size_t size)
    {
        if (size == 0)
            return true;
        if (used_ + size > BlockSize && !Flush())
            return false;
        if (size >= BlockSize)
            return Put(data, size);
        if (!buffer_)
            buffer_.reset(new char[BlockSize]);
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }

    bool Flush()
    {
        if (used_ == 0)
            return true;
        const bool ok = Put(buffer_.get(), used_);
        used_ = 0;
        return ok;
    }

    std::uint64_t Written() const { return written_; }
    const std::string& Name() const { return name_; }
    unsigned Error() const { return error_; }

private:
    bool Put(const char* data, std::size_t size)
    {
        std::size_t done = 0;
        const bool ok = P::WriteFile(file_, data, size, done);
        written_ += done;
        if (!ok)
            error_ = P::LastError();
        return ok;
    }

    P::FileHandle file_;
    const std::string& name_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    unsigned error_ = 0;
};

enum class Step { Done, ReadFailed, WriteFailed, TextChanged };

// Buffered input from the file to change. Consumed() is the offset of the
// next byte handed out; every block read is also given to the undo copy when
// there is one.
class Reader {
public:
    Reader(P::FileHandle file, Writer* undo) : file_(file), undo_(undo), buffer_(new char[BlockSize]) {}

    // Moves `size` bytes to `out`.
    Step CopyTo(Writer& out, std::uint64_t size)
    {
        while (size > 0) {
            const Step step = Available();
            if (step != Step::Done)
                return step;
            const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - begin_));
            if (!out.Write(buffer_.get() + begin_, k))
                return Fail(out);
            Take(k);
            size -= k;
        }
        return Step::Done;
    }

    // Consumes the bytes of `expected`, which must be what the file holds.
    Step Compare(std::string_view expected)
    {
        while (!expected.empty()) {
            const Step step = Available();
            if (step != Step::Done)
                return step;
            const std::size_t k = std::min<std::size_t>(expected.size(), end_ - begin_);
            if (std::memcmp(buffer_.get() + begin_, expected.data(), k) != 0)
                return Step::TextChanged;
            Take(k);
            expected.remove_prefix(k);
        }
        return Step::Done;
    }

    // Moves everything up to the end of the file to `out`.
    Step CopyRest(Writer& out)
    {
        for (;;) {
            if (begin_ == end_) {
                if (!Refill())
                    return Step::ReadFailed;
                if (end_ == 0)
                    return Step::Done;
            }
            if (!out.Write(buffer_.get() + begin_, end_ - begin_))
                return Fail(out);
            Take(end_ - begin_);
        }
    }

    std::uint64_t Consumed() const { return consumed_; }
    std::uint64_t FilePosition() const { return read_; }
    unsigned Error() const { return error_; }
    const Writer* FailedWriter() const { return failed_; }

private:
    // Makes at least one byte available; a file that ends first is a short read.
    Step Available()
    {
        if (begin_ < end_)
            return Step::Done;
        if (!Refill())
            return Step::ReadFailed;
        if (end_ == 0) {
            error_ = 0;
            return Step::ReadFailed;
        }
        return Step::Done;
    }

    bool Refill()
    {
        begin_ = end_ = 0;
        std::size_t done = 0;
        if (!P::ReadFile(file_, buffer_.get(), BlockSize, done)) {
            error_ = P::LastError();
            return false;
        }
        end_ = done;
        read_ += done;
        if (undo_ != nullptr && done > 0 && !undo_->Write(buffer_.get(), done)) {
            failed_ = undo_;
            undoFailed_ = true;
            return false;
        }
        return true;
    }

    void Take(std::size_t k)
    {
        begin_ += k;
        consumed_ += k;
    }

    Step Fail(const Writer& out)
    {
        failed_ = &out;
        return Step::WriteFailed;
    }

public:
    // A failed refill caused by the undo copy is a write failure, not a read one.
    bool UndoFailed() const { return undoFailed_; }

private:
    P::FileHandle file_;
    Writer* undo_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t read_ = 0;
    unsigned error_ = 0;
    const Writer* failed_ = nullptr;
    bool undoFailed_ = false;
};

// Copies `from` (from its start) over `to` (from its start); on failure
// `error` holds the code of the call that failed.
bool CopyFromStart(P::FileHandle from, P::FileHandle to, unsigned& error)
{
    std::uint64_t position = 0;
    if (!P::SeekFile(from, 0, P::SeekOrigin::Begin, position) || !P::SeekFile(to, 0, P::SeekOrigin::Begin, position)) {
        error = P::LastError();
        return false;
    }
    std::vector<char> buffer(BlockSize);
    for (;;) {
        std::size_t got = 0;
        if (!P::ReadFile(from, buffer.data(), buffer.size(), got)) {
            error = P::LastError();
            return false;
        }
        if (got == 0)
            return true;
        std::size_t put = 0;
        if (!P::WriteFile(to, buffer.data(), got, put)) {
            error = P::LastError();
            return false;
        }
    }
}

// Writes `content` over the file in place, ending at `size` bytes, and forces
// it to the disk.
bool OverwriteWith(P::FileHandle target, P::FileHandle content, std::uint64_t size, unsigned& error)
{
    if (!CopyFromStart(content, target, error))
        return false;
    if (!P::TruncateFile(target, size) || !P::FlushFile(target)) {
        error = P::LastError();
        return false;
    }
    return true;
}

// The stem of the work files beside `name` (see WorkNameStem).
std::string StemBeside(const std::string& name)
{
    return P::WorkNameStem(P::LastComponentOf(name), P::MaximumNameLength(P::DirectoryOf(name)));
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    return directory.empty() || std::strchr(P::PathSeparators, directory.back()) != nullptr ? directory + name
                                                                                             : directory + "/" + name;
}

class Rewrite {
public:
    Rewrite(const std::string& file, RewriteEditSource& edits, const std::string& backup, const P::FileState* read,
            RewriteRun* run)
        : file_(file), edits_(edits), backup_(backup), read_(read), run_(run)
    {
    }

    RewriteOutcome Run()
    {
        if (!P::ResolvePath(file_.c_str(), real_))
            return Problem(file_, RewriteOpenFailed, 0, P::LastError());
        // Every read, check and write in place goes through this one
        // descriptor: a name swapped for a link after the check never leads
        // a write elsewhere.
        source_ = P::OpenForRewrite(real_.c_str(), writable_);
        if (source_ == nullptr) {
            const unsigned error = P::LastError();
            return Problem(file_, P::IsInUseError(error) ? RewriteInUse : RewriteOpenFailed, 0, error);
        }
        // Held until the file is replaced: another run rewriting this file
        // finishes first, and is then seen as a change.
        if (!P::LockFile(source_))
            return Problem(file_, RewriteOpenFailed, 0, P::LastError());
        if (!P::QueryFile(source_, original_) || !P::QueryFileState(source_, locked_))
            return Problem(file_, RewriteOpenFailed, 0, P::LastError());
        if (run_ != nullptr && run_->Changed.count({locked_.Device, locked_.Identity}) != 0)
            return Problem(file_, RewriteAlreadyChanged, 0, 0);
        // Set-id bits and file capabilities do not survive the writing of
        // content: they are read now and given back once it is written.
        if (!P::ReadPrivileges(source_, privileges_))
            return Problem(file_, RewriteAttributesFailed, 0, P::LastError());
        // A writer that has the file open would go on writing into the old
        // file after the rename (or mix its writes with the copy-back): the
        // lease is granted only when nobody else has it open, and it tells
        // of anyone who opens it from now until the file is replaced.
        lease_ = P::TakeWriteLease(source_);
        if (lease_ == P::Lease::InUse)
            return InUse();

        // An undo copy left beside the file by an interrupted rewrite holds
        // what may be the only whole copy of it: the file is not touched.
        undoName_ = UndoNameOf(real_);
        std::string found = P::NameExists(undoName_.c_str()) ? undoName_ : std::string();
        if (found.empty())
            found = MarkedUndo();
        if (found.empty() && original_.Links > 1)
            found = UndoOfAnotherName();
        if (!found.empty())
            return Problem(file_, RewriteReplaceFailed, 0, P::AlreadyExistsError(), found);

        // Beside the file, unless other names share its content (a rename
        // would part them), a new file could not get its owner and group or
        // its named attributes, or its directory takes no new file.
        const std::string directory = P::DirectoryOf(real_);
        const std::string stem = StemBeside(real_);
        copyBack_ = original_.Links > 1 || !P::OwnershipKeepable(original_);
        if (!temporary_.Create(directory, stem))
            copyBack_ = true;
        if (!copyBack_) {
            if (!P::CopyPermissions(temporary_.Handle, original_))
                return Problem(file_, RewriteAttributesFailed, 0, P::LastError());
            // Where even a privileged process cannot give the owner (a user
            // namespace, a file system that squashes root), the new file
            // would change it silently: the content is copied back instead.
            P::FileInformation made;
            if (!P::QueryFile(temporary_.Handle, made) || made.Owner != original_.Owner ||
                made.Group != original_.Group)
                copyBack_ = true;
            if (!copyBack_)
                copyBack_ = !P::CopyNamedAttributes(source_, temporary_.Handle);
        }
        // Written in place, the file loses them, and only a process that may
        // set them gives them back: anyone else leaves the file as it is.
        if (copyBack_ && privileges_.Special() && !P::OwnershipKeepable(original_))
            return Problem(file_, RewriteAttributesFailed, 0, P::InvalidArgumentError());
        if (copyBack_) {
            if (!temporary_.Created && !temporary_.Create(P::TemporaryDirectory(), stem))
                return Problem(temporary_.Name, RewriteCreateTemporaryFailed, 0, P::LastError());
            if (!CreateUndo())
                return Finish();
        }

        if (!Stream())
            return Finish();
        if (!copyBack_ && privileges_.Special() &&
            (!P::ApplyPrivileges(temporary_.Handle, privileges_) || !P::FlushFile(temporary_.Handle)))
            return Problem(file_, RewriteAttributesFailed, 0, P::LastError());
        return copyBack_ ? ReplaceInPlace() : ReplaceByRename();
    }

    // The work files go before the lock does: a run waiting for the lock
    // never sees this run's undo copy. Closing the file gives up the lease
    // (and lets an opener waiting for it go on).
    ~Rewrite()
    {
        temporary_.Discard();
        undo_.Discard();
        P::CloseFile(source_);
    }

private:
    // True unless someone opened the file since the lease was taken.
    bool LeaseKept() const { return lease_ != P::Lease::Held || P::LeaseIntact(source_); }

    RewriteOutcome InUse() { return Problem(file_, RewriteInUse, 0, P::InUseError()); }

    // True when the file under its name is still the file read, as it was
    // when the walk read it and when it was locked. Checked after the
    // streaming (whose byte comparison tells where a match changed) and
    // again after the backup copy, right before the file is replaced.
    bool Unchanged(const P::FileState& expected)
    {
        P::FileState now, named;
        if (!P::QueryFileState(source_, now) || !P::QueryNameState(real_.c_str(), named))
            return false;
        if (!P::SameFile(now, named) || !P::SameState(now, expected))
            return false;
        return read_ == nullptr || P::SameState(now, *read_);
    }

    RewriteOutcome Changed() { return Problem(file_, RewriteTextChanged, 0, 0); }

    // The undo copy the file itself names (the mark a copy-back leaves on it
    // until it is whole again), whatever name it was reached by then: in
    // another directory, or under a name shortened to fit. A mark whose undo
    // copy is gone was dealt with (the copy restored and removed) and is
    // cleared.
    std::string MarkedUndo()
    {
        std::string marked;
        if (!P::ReadMark(source_, marked) || marked.empty())
            return std::string();
        P::FileState state;
        if (P::QueryEntryState(marked.c_str(), state))
            return marked;
        if (writable_)
            P::ClearMark(source_);
        return std::string();
    }

    // A file with several names may have been interrupted under another of
    // them: an undo copy ".OTHER.quorvex-undo" in the same directory whose
    // OTHER is this very file. (Names shortened to fit, and names in other
    // directories, cannot be traced back this way.)
    std::string UndoOfAnotherName()
    {
        const std::string directory = P::DirectoryOf(real_);
        std::vector<P::DirectoryEntry> entries;
        P::ListDirectory(
            directory, true, false,
            [](const std::string& name, void*) {
                return P::IsWorkName(name) && name.size() > 1 + std::strlen(P::WorkNameMark) + 4 &&
                       name.compare(name.size() - 4, 4, P::UndoNameSuffix) == 0;
            },
            nullptr, entries);
        const std::size_t suffix = std::strlen(P::WorkNameMark) + std::strlen(P::UndoNameSuffix);
        for (const P::DirectoryEntry& entry : entries) {
            const std::string other = JoinPath(directory, entry.Name.substr(1, entry.Name.size() - 1 - suffix));
            P::FileState state;
            if (P::QueryNameState(other.c_str(), state) && P::SameFile(state, locked_))
                return JoinPath(directory, entry.Name);
        }
        return std::string();
    }

    // The undo copy beside the file, created new (a name already taken means
    // another rewrite was interrupted there). It must be beside the file: an
    // undo copy elsewhere (in the system's temporary directory) would not be
    // found from the file after a crash, and could be cleared away while the
    // file is half-written. Where none can be made there, nothing is copied
    // back and the file stays as it is.
    bool CreateUndo()
    {
        undo_.Handle = P::CreateExclusive(undoName_.c_str());
        if (undo_.Handle != nullptr) {
            undo_.Name = undoName_;
            undo_.Created = true;
            undoBeside_ = true;
            return true;
        }
        const unsigned error = P::LastError();
        Problem(file_, RewriteReplaceFailed, 0, error, error == P::AlreadyExistsError() ? undoName_ : std::string());
        return false;
    }

    // Writes each edit as it comes: the bytes before it copied, its match
    // compared with the file's bytes, its replacement written.
    class EditWriter final : public RewriteEditSink {
    public:
        EditWriter(Rewrite& rewrite, Reader& in, Writer& out) : rewrite_(rewrite), in_(in), out_(out) {}

        bool Take(const RewriteEdit& edit) override
        {
            if (failed)
                return false;
            if (edit.Position < in_.Consumed()) {
                // Overlapping edits cannot describe this file.
                rewrite_.Problem(rewrite_.file_, RewriteTextChanged, edit.Position, 0, std::string(edit.Match));
                failed = true;
            } else if (!rewrite_.Check(in_, in_.CopyTo(out_, edit.Position - in_.Consumed()), edit) ||
                       !rewrite_.Check(in_, in_.Compare(edit.Match), edit)) {
                failed = true;
            } else if (!out_.Write(edit.Replacement.data(), edit.Replacement.size())) {
                rewrite_.WriteProblem(out_);
                failed = true;
            } else {
                ++taken;
            }
            return !failed;
        }

        bool failed = false;
        std::uint64_t taken = 0;

    private:
        Rewrite& rewrite_;
        Reader& in_;
        Writer& out_;
    };

    // Streams the file into the temporary file with the edits applied, and
    // flushes the result to the disk.
    bool Stream()
    {
        Writer out(temporary_.Handle, temporary_.Name);
        Writer undo(undo_.Handle, undo_.Name);
        Reader in(source_, copyBack_ ? &undo : nullptr);
        EditWriter writer(*this, in, out);
        RewriteProblem found;
        const bool complete = edits_.Find(source_, original_.Size, writer, found);
        if (writer.failed)
            return false;
        if (!complete) {
            Problem(file_, static_cast<RewriteReason>(found.Reason), found.Position, found.SystemError,
                    std::move(found.Text));
            return false;
        }
        edited_ = writer.taken;
        if (!Check(in, in.CopyRest(out), RewriteEdit{}))
            return false;
        if (!out.Flush())
            return WriteProblem(out);
        if (!P::FlushFile(temporary_.Handle)) {
            Problem(temporary_.Name, RewriteWriteFailed, out.Written(), P::LastError());
            return false;
        }
        if (copyBack_) {
            if (!undo.Flush())
                return WriteProblem(undo);
            if (!P::FlushFile(undo_.Handle)) {
                Problem(undo_.Name, RewriteWriteFailed, undo.Written(), P::LastError());
                return false;
            }
            if (undoBeside_)
                P::FlushDirectory(P::DirectoryOf(undo_.Name));  // the undo copy's name survives a crash
        }
        newSize_ = out.Written();
        return true;
    }

    bool Check(const Reader& in, Step step, const RewriteEdit& edit)
    {
        switch (step) {
        case Step::Done:
            return true;
        case Step::ReadFailed:
            if (in.UndoFailed())
                return WriteProblem(*in.FailedWriter());
            Problem(file_, RewriteReadFailed, in.FilePosition(), in.Error());
            return false;
        case Step::WriteFailed:
            return WriteProblem(*in.FailedWriter());
        case Step::TextChanged:
            Problem(file_, RewriteTextChanged, edit.Position, 0, std::string(edit.Match));
            return false;
        }
        return false;
    }

    bool WriteProblem(const Writer& writer)
    {
        Problem(writer.Name(), RewriteWriteFailed, writer.Written(), writer.Error());
        return false;
    }

    // The backup copy, never made onto the file itself (the backup name may
    // be the file, a hard link to it, or the target of the link that was
    // named): that would leave no copy of the old content anywhere.
    bool MakeBackup()
    {
        if (backup_.empty())
            return true;
        P::FileState existing;
        if (P::QueryNameState(backup_.c_str(), existing) && P::SameFile(existing, locked_)) {
            Problem(backup_, RewriteBackupFailed, 0, P::InvalidArgumentError());
            return false;
        }
        // A backup made earlier in the run under this name (however spelled)
        // holds another file's old content: it is never overwritten.
        P::FileState directory;
        const bool known = run_ != nullptr && P::QueryNameState(P::DirectoryOf(backup_).c_str(), directory);
        const auto key = std::make_tuple(directory.Device, directory.Identity, P::LastComponentOf(backup_));
        if (known && run_->Backups.count(key) != 0) {
            Problem(backup_, RewriteBackupFailed, 0, P::AlreadyExistsError());
            return false;
        }
        // Copied from the descriptor that was checked, never from the name.
        unsigned lost = 0;
        if (!P::CopyOpenFileReplacing(source_, backup_.c_str(), &lost)) {
            Problem(backup_, RewriteBackupFailed, 0, P::LastError());
            return false;
        }
        // The backup could not get the original's owner or access lists: it
        // is readable by its owner only, and that is told.
        if (lost != 0)
            Problem(backup_, RewriteAttributesFailed, 0, lost);
        if (known)
            run_->Backups.insert(key);
        return true;
    }

    // Remembers the file (as it was, and as it is now) as changed by the run.
    void MarkReplaced(const P::FileState& now)
    {
        outcome_.Replaced = true;
        outcome_.Edits = edited_;
        if (run_ == nullptr)
            return;
        run_->Changed.insert({locked_.Device, locked_.Identity});
        if (now.Known)
            run_->Changed.insert({now.Device, now.Identity});
    }

    // With a lease the names are swapped rather than renamed: the old file
    // stays under the temporary name until the leases on both files are
    // known to be intact after the swap, and what was swapped out is known
    // to be the file read; otherwise the swap is undone. An opener that
    // broke a lease meanwhile waits for it, and then finds the old file
    // under its name again, so nothing it writes is lost.
    RewriteOutcome ReplaceByRename()
    {
        P::FileState fresh;
        P::QueryFileState(temporary_.Handle, fresh);
        bool leased = false;
        if (lease_ == P::Lease::Held) {
            leased = P::TakeWriteLease(temporary_.Handle) == P::Lease::Held;
        } else if (!temporary_.Close()) {
            return Problem(temporary_.Name, RewriteWriteFailed, newSize_, P::LastError());
        }
        if (!Unchanged(locked_))
            return Changed();
        if (!LeaseKept())
            return InUse();
        if (!MakeBackup())
            return Finish();
        if (!Unchanged(locked_))
            return Changed();
        if (!LeaseKept())
            return InUse();
        bool exchangeable = false;
        if (lease_ == P::Lease::Held && P::ExchangeNames(temporary_.Name.c_str(), real_.c_str(), exchangeable)) {
            P::FileState displaced;
            const bool same = P::QueryEntryState(temporary_.Name.c_str(), displaced) && P::SameFile(displaced, locked_);
            const bool kept = LeaseKept() && (!leased || P::LeaseIntact(temporary_.Handle));
            if (!same || !kept) {
                bool again = false;
                if (!P::ExchangeNames(temporary_.Name.c_str(), real_.c_str(), again)) {
                    // The new content stays in place; the old is kept under
                    // the temporary name, which the record gives.
                    temporary_.Keep = true;
                    MarkReplaced(fresh);
                    return Problem(file_, same ? RewriteInUse : RewriteTextChanged, 0, P::LastError(),
                                   temporary_.Name);
                }
                return same ? InUse() : Changed();
            }
            // The temporary name now holds the old file; it goes with the
            // temporary.
        } else {
            if (lease_ == P::Lease::Held && exchangeable)
                return Problem(file_, RewriteReplaceFailed, 0, P::LastError());
            if (!LeaseKept())
                return InUse();
            if (!P::RenameReplacing(temporary_.Name.c_str(), real_.c_str())) {
                const unsigned error = P::LastError();
                return Problem(file_, P::IsInUseError(error) ? RewriteInUse : RewriteReplaceFailed, 0, error);
            }
            temporary_.Keep = true;
        }
        P::FlushDirectory(P::DirectoryOf(real_));
        MarkReplaced(fresh);
        return Finish();
    }

    // The file keeps its identity (and so its other names, owner, permissions
    // and named attributes): the new content is written over the old. Space
    // is reserved first where the system can; if the copy still fails, the
    // old content is written back from the undo copy. The undo copy goes only
    // once the file is whole and flushed.
    RewriteOutcome ReplaceInPlace()
    {
        if (!Unchanged(locked_))
            return Changed();
        if (!LeaseKept())
            return InUse();
        if (!MakeBackup())
            return Finish();
        if (!Unchanged(locked_))
            return Changed();
        if (!LeaseKept())
            return InUse();
        // Written through the descriptor that was checked. Where that one
        // cannot write, the file is opened again, and written only when that
        // open reached the very file that was checked.
        Temporary reopened;
        P::FileHandle target = source_;
        if (!writable_) {
            reopened.Handle = P::OpenForUpdate(real_.c_str());
            if (reopened.Handle == nullptr)
                return Problem(file_, RewriteReplaceFailed, 0, P::LastError());
            P::FileState opened;
            if (!P::QueryFileState(reopened.Handle, opened) || !P::SameFile(opened, locked_))
                return Changed();
            target = reopened.Handle;
        }
        if (newSize_ > original_.Size && !P::ReserveSpace(target, newSize_))
            return Problem(file_, RewriteReplaceFailed, 0, P::LastError());
        // The file names its undo copy while it is being overwritten, so that
        // it is found from any of the file's names (where the file system
        // keeps the mark; otherwise by the name beside it only).
        const bool marked = undoBeside_ && P::SetMark(target, undo_.Name);
        unsigned error = 0;
        if (OverwriteWith(target, temporary_.Handle, newSize_, error)) {
            if (marked)
                P::ClearMark(target);
            // The writes took the set-id bits and capabilities away.
            if (privileges_.Special() && !P::ApplyPrivileges(target, privileges_))
                Problem(file_, RewriteAttributesFailed, 0, P::LastError());
            if (reopened.Handle != nullptr && !reopened.Close())
                return Problem(file_, RewriteReplaceFailed, 0, P::LastError());
            MarkReplaced(P::FileState());
            undo_.Close();
            if (undoBeside_)
                P::FlushDirectory(P::DirectoryOf(undo_.Name));
            return Finish();
        }
        unsigned ignored = 0;
        if (OverwriteWith(target, undo_.Handle, original_.Size, ignored)) {
            if (marked)
                P::ClearMark(target);
            return Problem(file_, RewriteReplaceFailed, 0, error);
        }
        // The old content could not be put back either: the undo copy is the
        // only whole copy left, so it stays, and the record names it.
        undo_.Keep = true;
        return Problem(file_, RewriteReplaceFailed, 0, error, undo_.Name);
    }

    RewriteOutcome Problem(const std::string& name, RewriteReason reason, std::uint64_t position, unsigned error,
                           std::string text = std::string())
    {
        RewriteProblem problem;
        problem.FileName = name;
        problem.Reason = reason;
        problem.Position = position;
        problem.Text = std::move(text);
        problem.SystemError = error;
        outcome_.Problems.push_back(std::move(problem));
        return Finish();
    }

    RewriteOutcome Finish() { return outcome_; }

    const std::string& file_;
    RewriteEditSource& edits_;
    const std::string& backup_;
    const P::FileState* read_;
    RewriteRun* run_;
    std::string real_;
    P::FileHandle source_ = nullptr;
    bool writable_ = false;
    P::Lease lease_ = P::Lease::Unavailable;
    P::Privileges privileges_;
    P::FileInformation original_;
    P::FileState locked_;
    bool copyBack_ = false;
    std::string undoName_;
    bool undoBeside_ = false;
    Temporary temporary_;
    Temporary undo_;
    std::uint64_t newSize_ = 0;
    std::uint64_t edited_ = 0;  // edits written into the temporary file
    RewriteOutcome outcome_;
};

// Offset of the dot that starts the extension of the last path component,
// or npos.
std::size_t ExtensionDot(const std::string& file)
{
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos)
        return dot;
    const std::size_t separator = file.find_last_of(P::PathSeparators);
    if (separator != std::string::npos && separator > dot)
        return std::string::npos;
    return dot;
}

}  // namespace

namespace {

// Edits given as a list.
class ListedEdits final : public RewriteEditSource {
public:
    explicit ListedEdits(const std::vector<RewriteEdit>& edits) : edits_(edits) {}

    bool Find(P::FileHandle, std::uint64_t, RewriteEditSink& sink, RewriteProblem&) override
    {
        for (const RewriteEdit& edit : edits_)
            if (!sink.Take(edit))
                break;
        return true;
    }

private:
    const std::vector<RewriteEdit>& edits_;
};

}  // namespace

RewriteOutcome RewriteFile(const std::string& file, const std::vector<RewriteEdit>& edits, const std::string& backup,
                           const P::FileState* read, RewriteRun* run)
{
    ListedEdits listed(edits);
    return RewriteFile(file, listed, backup, read, run);
}

RewriteOutcome RewriteFile(const std::string& file, RewriteEditSource& edits, const std::string& backup,
                           const P::FileState* read, RewriteRun* run)
{
    // A write beyond the process's file-size limit fails (EFBIG) instead of
    // ending the process with the temporary file left behind.
    P::FileSizeSignalGuard quiet;
    Rewrite rewrite(file, edits, backup, read, run);
    return rewrite.Run();
}

bool IsSafeSaveExtension(const std::string& extension)
{
    if (extension.find('\0') != std::string::npos || extension == "..")
        return false;
    return extension.find_first_of(P::PathSeparators) == std::string::npos && extension.find('/') == std::string::npos;
}

std::string UndoNameOf(const std::string& file)
{
    return JoinPath(P::DirectoryOf(file), StemBeside(file) + P::UndoNameSuffix);
}

std::string BackupNameOf(const std::string& file, const std::string& extension, bool append)
{
    const std::size_t dot = append ? std::string::npos : ExtensionDot(file);
    std::string name = dot == std::string::npos ? file : file.substr(0, dot);
    name += '.';
    name += extension;
    return name;
}

bool HasSaveExtension(const std::string& file, const std::string& extension)
{
    if (extension.empty())
        return false;
    const std::string last = P::LastComponentOf(file);
    if (last.size() < extension.size() + 1)
        return false;
    const std::size_t dot = last.size() - extension.size() - 1;
    if (last[dot] != '.')
        return false;
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
    for (std::size_t i = 0; i < extension.size(); ++i)
        if (ctype.toupper(last[dot + 1 + i]) != ctype.toupper(extension[i]))
            return false;
    return true;
}

bool IsReadOnlyFile(const std::string& file)
{
    return (P::GetAttributes(file.c_str()) & P::AttributeReadOnly) != 0;
}

unsigned FilePointerOf(P::FileHandle file)
{
    std::uint64_t position = 0;
    if (file == nullptr || !P::TellFile(file, position))
        return 0;
    return position > UINT_MAX ? UINT_MAX : static_cast<unsigned>(position);
}

void CloseAndRemove(P::FileHandle source, P::FileHandle temporary, const std::string& temporaryName)
{
    P::CloseFile(source);
    P::CloseFile(temporary);
    if (!temporaryName.empty())
        P::RemoveFile(temporaryName.c_str());
}

// ---- Searched rewrites ------------------------------------------------------

namespace {

std::atomic<std::size_t> forcedWindow{0};

// Hands the searcher's matches to the rewrite as edits, each with its
// replacement, and keeps what the check against the walk needs.
class EditFinder final : public StreamSink {
public:
    EditFinder(RewriteFormatter& formatter, RewriteEditSink& sink, std::uint64_t limit)
        : formatter_(formatter), sink_(sink), limit_(limit)
    {
    }

    StreamAnswer Match(const StreamMatch& match) override
    {
        if (seen.Matches >= limit_)
            return StreamAnswer::SkipSource;
        seen.Add(match.start, match.end);
        RewriteMatch around;
        around.Position = match.start;
        if (whole != nullptr) {
            around.Data = whole;
            around.Size = wholeSize;
            around.Start = static_cast<std::size_t>(match.start);
            around.AtFileStart = true;
        } else if (windows != nullptr) {
            std::uint64_t offset = 0;
            around.Data = windows->Window(around.Size, offset);
            around.Start = static_cast<std::size_t>(match.start - offset);
            around.AtFileStart = offset == 0;
        } else {
            // Line mode: the line is the subject the match was found in.
            around.Data = match.line;
            around.Size = match.lineSize;
            around.Start = static_cast<std::size_t>(match.start - match.lineStart);
            around.AtFileStart = true;
        }
        around.End = around.Start + static_cast<std::size_t>(match.end - match.start);
        std::string replacement;
        try {
            replacement = formatter_.Format(around);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            formatError = e.what();
            failed = true;
            return StreamAnswer::Stop;
        }
        RewriteEdit edit;
        edit.Position = match.start;
        edit.Match = std::string_view(match.match, static_cast<std::size_t>(match.end - match.start));
        edit.Replacement = replacement;
        if (!sink_.Take(edit)) {
            refused = true;
            return StreamAnswer::Stop;
        }
        return StreamAnswer::Go;
    }

    const char* whole = nullptr;          // the mapped file, when searched so
    std::size_t wholeSize = 0;
    const StreamSearcher* windows = nullptr;  // the searcher, when it reads windows
    RewriteSeen seen;
    bool failed = false;    // the formatter gave up: formatError
    bool refused = false;   // the rewrite failed (its problem is recorded)
    std::string formatError;

private:
    RewriteFormatter& formatter_;
    RewriteEditSink& sink_;
    std::uint64_t limit_;
};

// Turns the driver's offsets in a block of whole lines into StreamMatches.
class LineRelay final : public MatchSink {
public:
    LineRelay(EditFinder& finder, const char* data, std::size_t size, std::uint64_t base)
        : finder_(finder), data_(data), size_(size), base_(base)
    {
    }

    bool Take(const std::uint64_t* offsets) override
    {
        const std::size_t start = static_cast<std::size_t>(offsets[0]);
        const std::size_t end = static_cast<std::size_t>(offsets[1]);
        const char* line = data_ + start;
        while (line != data_ && line[-1] != '\n')
            --line;
        const void* feed = std::memchr(data_ + start, '\n', size_ - start);
        StreamMatch match{};
        match.start = base_ + start;
        match.end = base_ + end;
        match.match = data_ + start;
        match.lineStart = base_ + static_cast<std::uint64_t>(line - data_);
        match.line = line;
        match.lineSize = static_cast<std::size_t>((feed != nullptr ? static_cast<const char*>(feed) : data_ + size_) - line);
        match.offsets = offsets;
        answer = finder_.Match(match);
        return answer == StreamAnswer::Go;
    }

    StreamAnswer answer = StreamAnswer::Go;

private:
    EditFinder& finder_;
    const char* data_;
    std::size_t size_;
    std::uint64_t base_;
};

// Line mode over a file that is not mapped: blocks of whole lines, each
// searched as the walks search a file (every line its own subject). Memory:
// the block size plus the longest line.
StreamEnd SearchLineBlocks(const CompiledPattern& pattern, unsigned flags, SearchSource& source, EditFinder& finder,
                           std::size_t block, std::string& error)
{
    std::vector<char> buffer;
    std::uint64_t base = 0;  // file offset of buffer[0]
    std::size_t fill = 0;
    for (;;) {
        if (buffer.size() - fill < block)
            buffer.resize(fill + block);
        std::size_t got = 0;
        if (!source.Read(buffer.data() + fill, block, got)) {
            error = RegexPlatform::ErrorText(source.Error());
            return StreamEnd::ReadFailed;
        }
        const char* fresh = buffer.data() + fill;
        fill += got;
        std::size_t end = fill;
        if (got > 0) {
            const char* last = buffer.data() + fill;
            while (last != fresh && last[-1] != '\n')
                --last;
            if (last == fresh)
                continue;  // no line completed yet
            end = static_cast<std::size_t>(last - buffer.data());
        }
        LineRelay relay(finder, buffer.data(), end, base);
        if (SearchBuffer(pattern, buffer.data(), end, flags, relay, error) == SearchEnd::Failed)
            return StreamEnd::MatchFailed;
        if (relay.answer != StreamAnswer::Go)
            return relay.answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
        if (got == 0)
            return StreamEnd::Finished;
        std::memmove(buffer.data(), buffer.data() + end, fill - end);
        base += end;
        fill -= end;
    }
}

}  // namespace

bool SearchedEdits::Find(P::FileHandle file, std::uint64_t size, RewriteEditSink& sink, RewriteProblem& problem)
{
    SearchSource source;
    source.Borrow(file, size);
    EditFinder finder(formatter_, sink, Limit);
    const std::size_t forced = forcedWindow.load();
    const bool lineMode = (flags_ & lineModeFlag) != 0;
    std::uint64_t mappedSize = 0;
    const char* mapped = forced == 0 ? source.Whole(mappedSize) : nullptr;
    const bool whole = mapped != nullptr && mappedSize <= static_cast<std::uint64_t>(~std::size_t(0));
    std::string error;
    StreamEnd end = StreamEnd::Finished;
    StreamSettings settings;
    settings.flags = flags_;
    settings.lines = false;
    settings.window = forced;
    if (!whole && (NeedsWholeFile || (!lineMode && pattern_.unicode))) {
        // Beyond a window, the text around a match is not at hand.
        problem.Reason = RewriteReadFailed;
        problem.SystemError = P::ValueTooLargeError();
        return false;
    }
    try {
        if (whole) {
            finder.whole = mapped;
            finder.wholeSize = static_cast<std::size_t>(mappedSize);
            StreamSearcher searcher(pattern_, settings);
            end = searcher.Search(source, finder, error);
        } else if (lineMode) {
            end = SearchLineBlocks(pattern_, flags_, source, finder, forced != 0 ? forced : BlockSize, error);
        } else {
            StreamSearcher searcher(pattern_, settings);
            finder.windows = &searcher;
            end = searcher.SearchWindows(source, finder, error);
        }
    } catch (const std::bad_alloc&) {
        // A line longer than memory holds (line mode over a file that could
        // not be mapped): the file stays as it is.
        if (finder.refused)
            return true;
        problem.Reason = RewriteReadFailed;
        problem.SystemError = P::OutOfMemoryError();
        return false;
    }
    if (finder.refused)
        return true;  // the rewrite recorded why
    if (finder.failed) {
        problem.Reason = RewriteMatchFailed;
        problem.Text = finder.formatError;
        return false;
    }
    if (end == StreamEnd::ReadFailed) {
        problem.Reason = RewriteReadFailed;
        problem.SystemError = source.Error();
        return false;
    }
    if (end == StreamEnd::MatchFailed) {
        problem.Reason = RewriteMatchFailed;
        problem.Text = error;
        return false;
    }
    if (Expected != nullptr && (finder.seen.Matches != Expected->Matches || finder.seen.Digest != Expected->Digest)) {
        // The file no longer holds the matches the walk reported.
        problem.Reason = RewriteTextChanged;
        return false;
    }
    return true;
}

bool FormatReadsAroundMatch(const std::string& format)
{
    return format.find("$`") != std::string::npos || format.find("$'") != std::string::npos ||
           format.find("PREMATCH") != std::string::npos || format.find("POSTMATCH") != std::string::npos;
}

void SetRewriteWindow(std::size_t size)
{
    forcedWindow.store(size);
}

std::size_t RewriteWindow()
{
    return forcedWindow.load();
}

}  // namespace RegexEngine
