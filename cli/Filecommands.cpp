// The replace subcommand: ChangeFiles in line mode (unless -U) over every
// operand, after a plan that refuses unsafe runs; --dry-run shows each
// replacement, --diff a unified diff of every change, both without touching
// anything.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "Command.h"
#include "Operands.h"
#include "Output.h"
#include "Platform.h"

namespace QuorvexCli {

using RegexClass::Bind;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

namespace {

// Collects the names of the files that hold a match (replace's plan).
class FileCollector {
public:
    void OnFile(RegularExpression*, std::string file, bool&) { files.push_back(std::move(file)); }
    std::vector<std::string> files;
};

// --dry-run: shows each replacement that replace would make. The
// replacement is computed as the file change computes it: the expression
// merged over the matched text alone, with the text around matches kept.
class DryRunPrinter {
public:
    DryRunPrinter(Output& out, const RegularExpression& object, bool names, bool quiet)
        : out_(out), merger_(object), names_(names), quiet_(quiet)
    {
        merger_.SetMergeCopy(true);
    }

    void OnMatch(RegularExpression*, std::string file, const REMatchInfo& matches, unsigned line, bool&)
    {
        if (matches.empty())
            return;
        ++replacements_;
        if (file != lastFile_) {
            ++files_;
            lastFile_ = file;
        }
        if (quiet_)
            return;
        merger_.SetStringToMatch(matches.front().Text);
        merger_.Merge(replacement_);
        if (names_) {
            out_.Painted(Paint::FileName, file);
            out_.Separator(':');
        }
        out_.Painted(Paint::LineNumber, std::to_string(line));
        out_.Separator(':');
        out_.Painted(Paint::Removed, matches.front().Text);
        out_.Write(" => ", 4);
        out_.Painted(Paint::Added, replacement_);
        out_.Put('\n');
    }

    unsigned long long Replacements() const { return replacements_; }
    unsigned long long Files() const { return files_; }

private:
    Output& out_;
    RegularExpression merger_;
    bool names_;
    bool quiet_;
    std::string lastFile_;
    std::string replacement_;
    unsigned long long replacements_ = 0;
    unsigned long long files_ = 0;
};

// Follows a ChangeFiles walk: counts the files actually rewritten and keeps
// the progress line up to date. The library rewrites the previous file just
// before it reports the first match of the next one, so a rise of
// NumberOfChanges seen at a change of file means the previous file was
// written back.
class ChangeMonitor {
public:
    ChangeMonitor(Progress& progress, std::size_t plannedFiles)
        : progress_(progress), planned_(plannedFiles)
    {
    }

    void OnMatch(RegularExpression* sender, std::string file, const REMatchInfo&, unsigned, bool&)
    {
        if (file != current_) {
            Boundary(*sender);
            current_ = std::move(file);
            ++seen_;
        }
        progress_.Update(seen_, planned_, done_ + sender->NumberOfChanges);
    }

    // After each ChangeFiles call: the last file was written at its end.
    void Finish(const RegularExpression& object, unsigned changes)
    {
        Boundary(object);
        current_.clear();
        snapshot_ = 0;
        done_ += changes;
    }

    unsigned long long FilesChanged() const { return changed_.size(); }
    unsigned long long Replacements() const { return done_; }
    bool Changed(const std::string& file) const { return changed_.count(file) != 0; }

private:
    void Boundary(const RegularExpression& object)
    {
        if (!current_.empty() && object.NumberOfChanges > snapshot_)
            changed_.insert(current_);
        snapshot_ = object.NumberOfChanges;
    }

    Progress& progress_;
    std::size_t planned_;
    std::string current_;
    std::size_t seen_ = 0;
    unsigned snapshot_ = 0;
    unsigned long long done_ = 0;
    std::set<std::string> changed_;
};

const char* ReasonName(RegularExpression::ProblemReason reason)
{
    static const char* const names[] = {QUORVEX_PROBLEM_REASONS(QUORVEX_VALUE_NAME)};
    unsigned index = reason;
    return index < sizeof names / sizeof names[0] ? names[index] : "UnknownProblem";
}

std::string Plural(unsigned long long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The library's rule for a save extension: the backup stays beside its file.
bool SafeExtension(const std::string& extension)
{
    return extension != ".." && extension.find('\0') == std::string::npos &&
           extension.find_first_of(RegexPlatform::PathSeparators) == std::string::npos &&
           extension.find('/') == std::string::npos;
}

// A file or directory by device and file number; (0, 0) when it cannot be
// looked at.
using Identity = std::pair<std::uint64_t, std::uint64_t>;

Identity IdentityOf(const std::string& name)
{
    RegexPlatform::FileState state;
    if (!RegexPlatform::QueryNameState(name.c_str(), state))
        return Identity(0, 0);
    return Identity(state.Device, state.Identity);
}

// Looks for what would make a change run unsafe before any file is touched:
// files the library would stop at (backup-named or read-only), one file
// reached under two names (a link: it would be changed twice), two files
// whose backup copies would share a name (the second would overwrite the
// first; names compared by their directory's identity and last component,
// so "c/a.bak" and "c/./a.bak" are one), and a backup that would be written
// onto the file itself (through a link).
bool CheckPlan(RegularExpression& object, const std::vector<std::string>& files)
{
    bool ok = true;
    const std::string extension = object.GetSaveExtension();
    std::map<Identity, std::string> identities;
    std::map<std::pair<Identity, std::string>, std::string> backups;
    for (const std::string& file : files) {
        if (object.BackupFile(file)) {
            Diagnose(QuoteName(file) + ": carries the backup extension '" + QuoteName(extension) +
                     "' (remove it or choose another --backup)");
            ok = false;
            continue;
        }
        if (object.ReadOnlyFile(file)) {
            Diagnose(QuoteName(file) + ": read-only file");
            ok = false;
            continue;
        }
        const Identity identity = IdentityOf(file);
        if (identity != Identity(0, 0)) {
            auto inserted = identities.emplace(identity, file);
            if (!inserted.second) {
                Diagnose(QuoteName(file) + ": the same file as " + QuoteName(inserted.first->second) +
                         " (it would be changed twice)");
                ok = false;
                continue;
            }
        }
        if (!extension.empty()) {
            const std::string backup = object.GetBackupName(file);
            if (identity != Identity(0, 0) && IdentityOf(backup) == identity) {
                Diagnose(QuoteName(file) + ": its backup " + QuoteName(backup) + " is the file itself");
                ok = false;
                continue;
            }
            const Identity directory = IdentityOf(RegexPlatform::DirectoryOf(backup));
            const std::string last = RegexPlatform::LastComponentOf(backup);
            auto inserted = backups.emplace(std::make_pair(directory, directory == Identity(0, 0) ? backup : last), file);
            if (!inserted.second) {
                Diagnose(QuoteName(file) + ": its backup " + QuoteName(backup) + " would overwrite the backup of " +
                         QuoteName(inserted.first->second));
                ok = false;
            }
        }
    }
    return ok;
}

void ReportProblems(const RegularExpression& object)
{
    const std::vector<RegularExpression::FileChangeProblem>* problems = object.GetChangeFilesErrors();
    if (problems == nullptr)
        return;
    for (const RegularExpression::FileChangeProblem& problem : *problems) {
        const std::string name = QuoteName(problem.FileName);
        if (problem.Reason == RegularExpression::InUse) {
            Diagnose(name + ": in use by another process; left unchanged");
            continue;
        }
        if (problem.Reason == RegularExpression::AlreadyChanged) {
            Diagnose(name + ": the same file as one changed earlier in this run (another name for it); left unchanged");
            continue;
        }
        if (problem.Reason == RegularExpression::StoppedHere) {
            Diagnose(name + ": backup-named or read-only: the run stopped here");
            continue;
        }
        std::string line = name + ": " + ReasonName(problem.Reason) + " at byte " +
                           std::to_string(problem.FilePosition);
        if (problem.Reason == RegularExpression::TextChanged) {
            line += problem.Text.empty() ? ": the file changed since it was read; left unchanged"
                                         : ": the file no longer holds \"" + problem.Text + "\" there; left unchanged";
        } else if (problem.Reason == RegularExpression::MatchFailed) {
            // The text of a matching failure is the engine's reason.
            line += problem.Text.empty() ? ": left unchanged" : ": " + problem.Text + "; left unchanged";
        } else {
            if (problem.SystemError != 0)
                line += ": " + RegularExpression::SystemErrorText(problem.SystemError);
            if (!problem.Text.empty())
                line += "; its old content is kept in " + QuoteName(problem.Text) +
                        " (copy it back over the file to restore it)";
        }
        Diagnose(line);
    }
}

// The UTF-8 transcoding of a file that begins with a UTF-16 byte-order mark
// (the mark left out; an unpaired surrogate or an odd last byte is U+FFFD),
// as grep searches it in Unicode mode.
std::string Utf16AsUtf8(const char* data, std::size_t size)
{
    const bool big = static_cast<unsigned char>(data[0]) == 0xFE;
    const auto unit = [&](std::size_t i) {
        const unsigned a = static_cast<unsigned char>(data[i]), b = static_cast<unsigned char>(data[i + 1]);
        return big ? (a << 8) | b : a | (b << 8);
    };
    const auto append = [](std::string& out, unsigned c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    std::string out;
    out.reserve(size);
    std::size_t i = 2;
    for (; i + 1 < size; i += 2) {
        unsigned c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < size && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        append(out, c);
    }
    if (i < size)
        append(out, 0xFFFD);
    return out;
}

// The walk events every replace walk shares: binary files are left out
// unless -a, files that cannot be read are reported (and make the run an
// error), and the file being searched is known when a matching error stops
// the walk.
class ReplaceWalk {
public:
    ReplaceWalk(const Command& command, const RegularExpression& object) : command_(command), probe_(object) {}

    void OnFile(RegularExpression*, const RegularExpression::WalkedFile& file, bool& skip, bool&)
    {
        switch (file.Stage) {
        case RegularExpression::FileStarted:
            current = file.FileName;
            // In Unicode mode a UTF-16 file is searched as its UTF-8
            // transcoding; its own bytes cannot take a UTF-8 replacement.
            if (probe_.GetUnicode() && file.Size >= 2 &&
                ((file.Data[0] == '\xFF' && file.Data[1] == '\xFE') ||
                 (file.Data[0] == '\xFE' && file.Data[1] == '\xFF'))) {
                skip = true;
                current.clear();
                if (reporting && HoldsMatch(Utf16AsUtf8(file.Data, static_cast<std::size_t>(file.Size)))) {
                    if (!command_.noMessages)
                        Diagnose(QuoteName(file.FileName) +
                                 ": UTF-16 text (it begins with a byte-order mark); replace changes only UTF-8 "
                                 "text; left unchanged");
                    error = true;
                }
                break;
            }
            if (!command_.text && command_.binaryFiles != "text" &&
                std::memchr(file.Data, '\0', static_cast<std::size_t>(std::min<std::uint64_t>(file.Size, 32768))) !=
                    nullptr) {
                skip = true;
                current.clear();
                // Counted once, while the plan is made: a binary file left
                // out that would have been changed is told in the summary.
                if (!reporting && command_.binaryFiles == "binary") {  // not when -I asked for it
                    probe_.SetStringToMatch(std::string(file.Data, static_cast<std::size_t>(file.Size)));
                    if (probe_.Search())
                        ++binaryWithMatches;
                    probe_.SetStringToMatch(std::string());
                }
            }
            break;
        case RegularExpression::FileFinished:
            current.clear();
            break;
        case RegularExpression::FileSkipped:
            if (reporting && !command_.noMessages)
                Diagnose(QuoteName(file.FileName) + ": " + SkipReason(file.SystemError));
            error = true;
            break;
        }
    }

    // Whether the probe finds a match in `text`.
    bool HoldsMatch(const std::string& text)
    {
        probe_.SetStringToMatch(text);
        const bool found = probe_.Search();
        probe_.SetStringToMatch(std::string());
        return found;
    }

    // Reports a matching error, naming the file it stopped in.
    bool MatchError(const RegularExpression& object)
    {
        const std::string text = object.GetMatchError();
        if (text.empty())
            return false;
        Diagnose((current.empty() ? std::string() : QuoteName(current) + ": ") + "matching stopped: " + text);
        current.clear();
        return true;
    }

    std::string current;
    bool error = false;
    bool reporting = true;  // off while the plan is made: the run that follows reports
    unsigned long long binaryWithMatches = 0;

    // "; N binary files skipped; -a to include", or nothing.
    std::string BinarySkipped() const
    {
        if (binaryWithMatches == 0)
            return std::string();
        return "; " + std::to_string(binaryWithMatches) +
               (binaryWithMatches == 1 ? " binary file skipped" : " binary files skipped") + "; -a to include";
    }

private:
    const Command& command_;
    RegularExpression probe_;  // a copy, to learn whether a skipped binary file matches
};

// --diff: a unified diff of what replace would change (the format of diff -u,
// with the names a/PATH and b/PATH that patch -p1 and git apply read). The
// replacement text is made by the object's own Merge over each changed line
// (over the whole file with -U), so it sees the text around each match.
// What that needs stays bounded: with -U a file of more than
// kWholeDiffLimit bytes, and any file with a match past 2 GiB (beyond what a
// match's position holds), is not shown but named on standard error, and
// the run fails; replace itself changes such files.
constexpr std::uint64_t kWholeDiffLimit = std::uint64_t(256) << 20;

class DiffPrinter {
public:
    DiffPrinter(Output& out, const RegularExpression& object, bool multiline)
        : out_(out), merger_(object), multiline_(multiline)
    {
        merger_.SetMergeCopy(true);
        merger_.SetOnMergingClosure(Bind(this, &DiffPrinter::OnMerge));
    }

    void OnFile(RegularExpression*, const RegularExpression::WalkedFile& file, bool&, bool&)
    {
        if (file.Stage == RegularExpression::FileStarted) {
            data_ = file.Data;
            size_ = file.Size;
            lines_.clear();
            matched_ = false;
            tooLarge_ = false;
        } else if (file.Stage == RegularExpression::FileFinished && matched_ && tooLarge_) {
            Diagnose(QuoteName(file.FileName) + ": too large for --diff" +
                     (multiline_ ? std::string(" -U (over 256 MiB)") : std::string(" (matches past 2 GiB)")) +
                     ": not shown");
            refused_ = true;
            lines_.clear();
        } else if (file.Stage == RegularExpression::FileFinished && !lines_.empty()) {
            Print(file.FileName);
            lines_.clear();
        }
    }

    // A file was not shown (see kWholeDiffLimit).
    bool Refused() const { return refused_; }

    void OnMatch(RegularExpression*, std::string, const REMatchInfo& matches, unsigned, bool&)
    {
        if (matches.empty() || data_ == nullptr)
            return;
        matched_ = true;
        if (matches.front().Position < 0 || (multiline_ && size_ > kWholeDiffLimit))
            tooLarge_ = true;
        if (tooLarge_)
            return;
        const std::uint64_t at = static_cast<unsigned>(matches.front().Position);
        const std::uint64_t from = LineStart(at);
        if (lines_.empty() || lines_.back() != from)
            lines_.push_back(from);
    }

    unsigned long long Files() const { return files_; }
    unsigned long long Changes() const { return changes_; }

private:
    // One changed run of whole lines: old bytes [from, to) and their new text.
    struct Block {
        std::uint64_t from, to;
        std::string text;
    };

    void OnMerge(RegularExpression* sender, const REMatchInfo& matches, unsigned, unsigned, bool&)
    {
        if (matches.empty())
            return;
        std::string replacement;
        sender->Format(replacement);
        edits_.push_back({static_cast<std::uint64_t>(matches.front().Position) + base_,
                          static_cast<std::uint64_t>(matches.front().Text.size()), replacement});
    }

    std::uint64_t LineStart(std::uint64_t at) const
    {
        while (at > 0 && data_[at - 1] != '\n')
            --at;
        return at;
    }
    std::uint64_t LineEnd(std::uint64_t at) const
    {
        while (at < size_ && data_[at] != '\n')
            ++at;
        return at < size_ ? at + 1 : size_;
    }

    // The changed blocks of the current file, in order.
    std::vector<Block> Blocks()
    {
        std::vector<Block> blocks;
        edits_.clear();
        if (multiline_) {
            base_ = 0;
            merger_.SetStringToMatch(std::string(data_, static_cast<std::size_t>(size_)));
            merger_.Merge(merged_);
        } else {
            for (std::uint64_t from : lines_) {
                const std::uint64_t end = LineEnd(from);
                const std::uint64_t textEnd = end > from && data_[end - 1] == '\n' ? end - 1 : end;
                base_ = from;
                merger_.SetStringToMatch(std::string(data_ + from, data_ + textEnd));
                merger_.Merge(merged_);
            }
        }
        // Edits to blocks of whole lines; edits whose lines meet share a block.
        for (const Edit& edit : edits_) {
            const std::uint64_t from = LineStart(std::min(edit.position, size_));
            const std::uint64_t to = LineEnd(edit.length > 0 ? edit.position + edit.length - 1 : edit.position);
            if (!blocks.empty() && from < blocks.back().to) {
                blocks.back().to = std::max(blocks.back().to, to);
                continue;
            }
            blocks.push_back(Block{from, std::max(to, from), std::string()});
        }
        std::size_t e = 0;
        for (Block& block : blocks) {
            std::uint64_t at = block.from;
            for (; e < edits_.size() && edits_[e].position < block.to; ++e) {
                block.text.append(data_ + at, data_ + edits_[e].position);
                block.text += edits_[e].replacement;
                at = edits_[e].position + edits_[e].length;
                ++changes_;
            }
            block.text.append(data_ + at, data_ + block.to);
        }
        blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                                    [&](const Block& b) {
                                        return b.text.size() == b.to - b.from &&
                                               std::equal(b.text.begin(), b.text.end(), data_ + b.from);
                                    }),
                     blocks.end());
        return blocks;
    }

    // Writes the lines of `text` with `mark` before each.
    void Lines(char mark, const char* text, std::size_t size, std::uint64_t& count)
    {
        std::size_t at = 0;
        while (at < size) {
            const char* feed = static_cast<const char*>(std::memchr(text + at, '\n', size - at));
            const std::size_t end = feed == nullptr ? size : static_cast<std::size_t>(feed - text) + 1;
            body_ += mark;
            body_.append(text + at, text + end);
            if (feed == nullptr)
                body_ += "\n\\ No newline at end of file\n";
            at = end;
            ++count;
        }
    }

    void Print(const std::string& name)
    {
        const std::vector<Block> blocks = Blocks();
        if (blocks.empty())
            return;
        ++files_;
        const std::string path = DiffPath(name);
        out_.Write("--- a/" + path + "\n+++ b/" + path + "\n");
        constexpr int kContext = 3;
        std::uint64_t lineAt = 0, lineNumber = 1;  // a line start and its number
        auto numberOf = [&](std::uint64_t offset) {
            lineNumber += static_cast<std::uint64_t>(std::count(data_ + lineAt, data_ + offset, '\n'));
            lineAt = offset;
            return lineNumber;
        };
        long long delta = 0;
        std::size_t i = 0;
        while (i < blocks.size()) {
            // Context before: up to three lines, never before the file's start.
            std::uint64_t start = blocks[i].from;
            for (int k = 0; k < kContext && start > 0; ++k)
                start = LineStart(start - 1);
            const std::uint64_t oldStart = numberOf(start);
            body_.clear();
            std::uint64_t oldCount = 0, newCount = 0;
            std::uint64_t cursor = start;
            for (;;) {
                const Block& block = blocks[i];
                std::uint64_t unchanged = 0;
                Lines(' ', data_ + cursor, static_cast<std::size_t>(block.from - cursor), unchanged);
                oldCount += unchanged;
                newCount += unchanged;
                Lines('-', data_ + block.from, static_cast<std::size_t>(block.to - block.from), oldCount);
                Lines('+', block.text.data(), block.text.size(), newCount);
                cursor = block.to;
                ++i;
                // The next block joins this hunk when at most six lines lie between.
                if (i == blocks.size())
                    break;
                std::uint64_t gapEnd = cursor;
                int gap = 0;
                while (gap <= 2 * kContext && gapEnd < blocks[i].from) {
                    gapEnd = LineEnd(gapEnd);
                    ++gap;
                }
                if (gap > 2 * kContext)
                    break;
            }
            std::uint64_t end = cursor;
            for (int k = 0; k < kContext && end < size_; ++k)
                end = LineEnd(end);
            std::uint64_t trailing = 0;
            Lines(' ', data_ + cursor, static_cast<std::size_t>(end - cursor), trailing);
            oldCount += trailing;
            newCount += trailing;
            const long long newStart = static_cast<long long>(oldStart) + delta;
            out_.Write("@@ -" + Range(oldStart, oldCount) + " +" + Range(static_cast<std::uint64_t>(newStart), newCount) +
                       " @@\n");
            out_.Write(body_);
            delta += static_cast<long long>(newCount) - static_cast<long long>(oldCount);
        }
    }

    // The name without "." components or doubled slashes ("./src//a.c" is
    // "src/a.c"), so that a/PATH and b/PATH name the file for git apply.
    static std::string DiffPath(const std::string& name)
    {
        std::string path;
        std::size_t at = 0;
        while (at <= name.size()) {
            std::size_t slash = name.find('/', at);
            if (slash == std::string::npos)
                slash = name.size();
            const std::string part = name.substr(at, slash - at);
            if (!part.empty() && part != ".")
                path += (path.empty() ? "" : "/") + part;
            at = slash + 1;
        }
        return path.empty() ? name : path;
    }

    static std::string Range(std::uint64_t start, std::uint64_t count)
    {
        if (count == 1)
            return std::to_string(start);
        return std::to_string(count == 0 && start > 0 ? start - 1 : start) + "," + std::to_string(count);
    }

    struct Edit {
        std::uint64_t position, length;
        std::string replacement;
    };

    Output& out_;
    RegularExpression merger_;
    bool multiline_;
    const char* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::vector<std::uint64_t> lines_;  // starts of the lines with a match
    bool matched_ = false;   // the current file has a match
    bool tooLarge_ = false;  // ... that --diff does not show (kWholeDiffLimit)
    bool refused_ = false;
    std::vector<Edit> edits_;
    std::uint64_t base_ = 0;
    std::string merged_;
    std::string body_;
    unsigned long long files_ = 0;
    unsigned long long changes_ = 0;
};

}  // namespace

int RunReplace(Command& command, RegularExpression& object)
{
    if (command.operands.empty() && !command.recursive && !command.dereference) {
        Diagnose("replace: missing FILES (or -r for the current directory)");
        return kError;
    }
    // A backup must be asked for with a name that keeps it beside its file.
    if (command.haveBackup && command.backup.empty()) {
        Diagnose("replace: --backup needs an extension ('' would make no backup); nothing was changed");
        return kError;
    }
    if (command.haveBackup && !SafeExtension(command.backup)) {
        Diagnose("replace: --backup " + QuoteName(command.backup) +
                 ": an extension may not hold a path separator, '..' or NUL; nothing was changed");
        return kError;
    }
    Operands operands(command, object);
    if (!operands.Resolve()) {
        Diagnose("nothing was changed");
        return kError;
    }
    for (const WalkTarget& target : operands.Targets()) {
        if (target.standardInput) {
            Diagnose("replace: standard input cannot be changed in place (use merge)");
            return kError;
        }
        if (target.stream) {
            Diagnose(QuoteName(target.operand) + ": not a regular file: it cannot be changed in place");
            return kError;
        }
    }
    if (!PrepareForFiles(object, "replace"))
        return kError;
    if (object.GetFormatString().empty())
        object.SetFormatString(DeletingFormat());
    if (!CheckExpression(object))
        return kError;
    object.SetLineMode(!command.multiline);

    ReplaceWalk walk(command, object);
    object.SetOnWalkingFilesClosure(Bind(&walk, &ReplaceWalk::OnFile));
    bool error = false;

    // First the plan: which files hold a match, and is it safe to change them.
    FileCollector collector;
    object.SetOnFindFilesClosure(Bind(&collector, &FileCollector::OnFile));
    walk.reporting = false;
    operands.ForEach([&](const WalkTarget&) {
        object.FindFiles();
        if (walk.MatchError(object))
            error = true;
        return true;
    });
    object.SetOnFindFilesClosure(RegularExpression::FindFilesEventClosure());
    walk.reporting = true;
    if (error) {
        Diagnose("nothing was changed");
        return kError;
    }
    const bool planOk = CheckPlan(object, collector.files);
    if (!planOk && !command.dryRun && !command.diff) {
        Diagnose("nothing was changed");
        return kError;
    }

    const bool names = operands.ShowNames();
    if (command.diff) {
        Output out(1, false);
        DiffPrinter printer(out, object, command.multiline);
        // Binary files stay out of the diff as they stay out of the change.
        struct Both {
            ReplaceWalk& walk;
            DiffPrinter& printer;
            void OnFile(RegularExpression* sender, const RegularExpression::WalkedFile& file, bool& skip, bool& go)
            {
                walk.OnFile(sender, file, skip, go);
                if (!skip)
                    printer.OnFile(sender, file, skip, go);
            }
        } both{walk, printer};
        object.SetOnWalkingFilesClosure(Bind(&both, &Both::OnFile));
        object.SetOnGreppingFilesClosure(Bind(&printer, &DiffPrinter::OnMatch));
        walk.error = false;
        operands.ForEach([&](const WalkTarget&) {
            object.GrepFiles();
            if (walk.MatchError(object))
                error = true;
            return true;
        });
        if (!out.Flush())
            return kError;
        if (!command.quiet)
            Diagnose(Plural(printer.Changes(), "replacement", "replacements") + " in " +
                     Plural(printer.Files(), "file", "files") + " (diff only: nothing was changed)" +
                     walk.BinarySkipped());
        if (error || walk.error || !planOk || printer.Refused())
            return kError;
        return printer.Changes() > 0 ? kFound : kNothing;
    }
    if (command.dryRun) {
        Output out(1, WantColour(command));
        DryRunPrinter printer(out, object, names, command.quiet);
        object.SetOnGreppingFilesClosure(Bind(&printer, &DryRunPrinter::OnMatch));
        error = !planOk;
        operands.ForEach([&](const WalkTarget&) {
            object.GrepFiles();
            if (walk.MatchError(object))
                error = true;
            return true;
        });
        if (!command.quiet) {
            out.Write(Plural(printer.Replacements(), "replacement", "replacements") + " in " +
                      Plural(printer.Files(), "file", "files") + " (dry run: nothing was changed)" +
                      walk.BinarySkipped() + "\n");
        }
        if (!out.Flush())
            return kError;
        if (error || walk.error)
            return kError;
        return printer.Replacements() > 0 ? kFound : kNothing;
    }

    Progress progress(!command.quiet);
    ChangeMonitor monitor(progress, collector.files.size());
    object.SetOnChangingFilesClosure(Bind(&monitor, &ChangeMonitor::OnMatch));
    walk.error = false;
    operands.ForEach([&](const WalkTarget&) {
        const unsigned changes = object.ChangeFiles();
        monitor.Finish(object, changes);
        progress.Clear();
        ReportProblems(object);
        if (object.GetChangeFilesErrors() != nullptr)
            error = true;
        if (walk.MatchError(object))
            error = true;
        return true;
    });
    // Every file of the plan that was not changed is named: a file that lost
    // its matches, vanished or could not be rewritten is never passed over
    // in silence.
    for (const std::string& file : collector.files) {
        if (!monitor.Changed(file)) {
            Diagnose(QuoteName(file) + ": had matches when the run began, not changed");
            error = true;
        }
    }
    if (!command.quiet) {
        Output out(1, false);
        std::string summary = Plural(monitor.Replacements(), "replacement", "replacements") + " in " +
                              Plural(monitor.FilesChanged(), "file", "files");
        if (monitor.FilesChanged() < collector.files.size())
            summary += "; " + std::to_string(collector.files.size() - monitor.FilesChanged()) + " of " +
                       Plural(collector.files.size(), "file", "files") + " with matches not changed";
        out.Write(summary + walk.BinarySkipped() + "\n");
    }
    if (error || walk.error)
        return kError;
    return monitor.Replacements() > 0 ? kFound : kNothing;
}

}  // namespace QuorvexCli
