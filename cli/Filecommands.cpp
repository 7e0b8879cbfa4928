// The file subcommands: grep (GrepFiles, FindFiles for -l) and replace
// (ChangeFiles, or GrepFiles with a computed replacement for --dry-run).
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "Command.h"
#include "Output.h"

namespace QuorvexCli {

using RegexClass::Bind;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

namespace {

// One FILES operand turned into the library's file pattern: a path
// whose last component may hold the wildcards * and ?.
struct FileTarget {
    std::string operand;  // as given on the command line
    std::string wildcard;    // handed to SetFilesToMatch
    bool recurse = false;
    bool single = false;  // names exactly one regular file
};

bool HasWildcard(const std::string& text)
{
    return text.find_first_of("*?") != std::string::npos;
}

// Resolves an operand: a wildcard path as it stands, a directory (with -r)
// as all files under it, a regular file as itself.
bool Resolve(const std::string& operand, bool recursive, FileTarget& out)
{
    out = FileTarget();
    out.operand = operand;
    if (operand.empty()) {
        Diagnose("'': No such file or directory");
        return false;
    }
    std::size_t slash = operand.rfind('/');
    std::string last = slash == std::string::npos ? operand : operand.substr(slash + 1);
    struct stat info;
    if (HasWildcard(last)) {
        std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : operand.substr(0, slash);
        if (::stat(directory.c_str(), &info) != 0) {
            Diagnose(directory + ": " + std::strerror(errno));
            return false;
        }
        if (!S_ISDIR(info.st_mode)) {
            Diagnose(directory + ": Not a directory");
            return false;
        }
        out.wildcard = operand;
        out.recurse = recursive;
        return true;
    }
    if (::stat(operand.c_str(), &info) != 0) {
        Diagnose(operand + ": " + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        if (!recursive) {
            Diagnose(operand + ": Is a directory");
            return false;
        }
        std::string base = operand;
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        out.wildcard = base == "/" ? "/*" : base + "/*";
        out.recurse = true;
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        Diagnose(operand + ": not a regular file");
        return false;
    }
    out.wildcard = operand;
    out.single = true;
    return true;
}

// Resolves every operand; with -r and no operand, the current directory.
// Returns false when any operand failed (each one is diagnosed).
bool ResolveAll(const Command& command, std::vector<FileTarget>& targets)
{
    targets.clear();
    if (command.operands.empty()) {
        FileTarget here;
        here.wildcard = "*";  // bare names, as grep -r prints them
        here.recurse = true;
        targets.push_back(here);
        return true;
    }
    bool ok = true;
    for (const std::string& operand : command.operands) {
        FileTarget target;
        if (Resolve(operand, command.recursive, target))
            targets.push_back(target);
        else
            ok = false;
    }
    return ok;
}

bool ShowNames(const Command& command, const std::vector<FileTarget>& targets)
{
    if (command.noFileName)
        return false;
    if (command.withFileName || command.operands.size() > 1)
        return true;
    return !targets.empty() && !targets.front().single;
}

// A matching error ends a walk early; the library keeps the reason.
bool ReportMatchError(const RegularExpression& object)
{
    std::string error = object.GetMatchError();
    if (error.empty())
        return false;
    Diagnose("matching stopped: " + error);
    return true;
}

// Receives the matches of grep and writes one line each.
class GrepPrinter {
public:
    GrepPrinter(Output& out, const Command& command, bool names)
        : out_(out), command_(command), names_(names)
    {
    }

    void OnMatch(RegularExpression*, std::string file, const REMatchInfo& matches, unsigned line, bool& go)
    {
        ++total_;
        if (command_.quiet) {
            go = false;
            stopped_ = true;
            return;
        }
        if (command_.count) {
            if (file != countFile_) {
                EmitCount();
                countFile_ = std::move(file);
            }
            ++fileCount_;
        } else {
            if (names_) {
                out_.Painted(Paint::FileName, file);
                out_.Separator(':');
            }
            if (command_.lineNumbers) {
                PaintNumber(line);
                out_.Separator(':');
            }
            if (command_.byteOffsets && !matches.empty()) {
                PaintNumber(static_cast<unsigned>(matches.front().Position));
                out_.Separator(':');
            }
            if (!matches.empty())
                out_.Painted(Paint::Match, matches.front().Text);
            out_.Put('\n');
        }
        if (command_.maxCount >= 0 && total_ >= static_cast<unsigned long long>(command_.maxCount)) {
            go = false;
            stopped_ = true;
        }
    }

    void OnFile(RegularExpression*, std::string file, bool& go)
    {
        ++total_;
        if (command_.quiet) {
            go = false;
            stopped_ = true;
            return;
        }
        out_.Painted(Paint::FileName, file);
        out_.Put('\n');
        if (command_.maxCount >= 0 && total_ >= static_cast<unsigned long long>(command_.maxCount)) {
            go = false;
            stopped_ = true;
        }
    }

    // Called after each operand's walk: emits the pending count, and a count
    // of 0 for a named file without matches (as grep -c does).
    void EndOperand(const FileTarget& target)
    {
        if (!command_.count || command_.quiet)
            return;
        if (countFile_.empty() && target.single)
            countFile_ = target.wildcard;
        EmitCount();
    }

    unsigned long long Total() const { return total_; }
    bool Stopped() const { return stopped_; }

private:
    void PaintNumber(unsigned long long value)
    {
        if (out_.Colour())
            out_.Painted(Paint::LineNumber, std::to_string(value));
        else
            out_.Number(value);
    }

    void EmitCount()
    {
        if (countFile_.empty())
            return;
        if (names_) {
            out_.Painted(Paint::FileName, countFile_);
            out_.Separator(':');
        }
        out_.Number(fileCount_);
        out_.Put('\n');
        countFile_.clear();
        fileCount_ = 0;
    }

    Output& out_;
    const Command& command_;
    bool names_;
    unsigned long long total_ = 0;
    bool stopped_ = false;
    std::string countFile_;
    unsigned long long fileCount_ = 0;
};

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

    unsigned long long FilesChanged() const { return filesChanged_; }
    unsigned long long Replacements() const { return done_; }

private:
    void Boundary(const RegularExpression& object)
    {
        if (!current_.empty() && object.NumberOfChanges > snapshot_)
            ++filesChanged_;
        snapshot_ = object.NumberOfChanges;
    }

    Progress& progress_;
    std::size_t planned_;
    std::string current_;
    std::size_t seen_ = 0;
    unsigned snapshot_ = 0;
    unsigned long long done_ = 0;
    unsigned long long filesChanged_ = 0;
};

const char* ReasonName(RegularExpression::ProblemReason reason)
{
    static const char* const names[] = {"OpenFailed",  "CreateTemporaryFailed", "ReadFailed",
                                        "WriteFailed", "TextChanged",           "BackupFailed",
                                        "ReplaceFailed", "AttributesFailed",    "MatchFailed"};
    unsigned index = reason;
    return index < sizeof names / sizeof names[0] ? names[index] : "UnknownProblem";
}

std::string Plural(unsigned long long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Looks for what would make a change run unsafe before any file is touched:
// files the library would stop at (backup-named or read-only), one file
// reached under two names (it would be changed twice), and two files whose
// backup copies would share a name (the second would overwrite the first).
bool CheckPlan(RegularExpression& object, const std::vector<std::string>& files)
{
    bool ok = true;
    const std::string extension = object.GetSaveExtension();
    std::map<std::pair<dev_t, ino_t>, std::string> identities;
    std::map<std::string, std::string> backups;
    for (const std::string& file : files) {
        if (object.BackupFile(file)) {
            Diagnose(file + ": carries the backup extension '" + extension +
                     "' (remove it or choose another --backup)");
            ok = false;
            continue;
        }
        if (object.ReadOnlyFile(file)) {
            Diagnose(file + ": read-only file");
            ok = false;
            continue;
        }
        struct stat info;
        if (::stat(file.c_str(), &info) == 0) {
            auto inserted = identities.emplace(std::make_pair(info.st_dev, info.st_ino), file);
            if (!inserted.second) {
                Diagnose(file + ": the same file as " + inserted.first->second + " (it would be changed twice)");
                ok = false;
                continue;
            }
        }
        if (!extension.empty()) {
            object.PendingFile.FileName = file;
            std::string backup = object.ReplaceExtension();
            auto inserted = backups.emplace(backup, file);
            if (!inserted.second) {
                Diagnose(file + ": its backup " + backup + " would overwrite the backup of " +
                         inserted.first->second);
                ok = false;
            }
        }
    }
    object.PendingFile = RegularExpression::MergeFileInformation();
    return ok;
}

void ReportProblems(const RegularExpression& object)
{
    const std::vector<RegularExpression::FileChangeProblem>* problems = object.GetChangeFilesErrors();
    if (problems == nullptr)
        return;
    for (const RegularExpression::FileChangeProblem& problem : *problems) {
        std::string line = problem.FileName + ": " + ReasonName(problem.Reason) + " at byte " +
                           std::to_string(problem.FilePosition);
        if (problem.Reason == RegularExpression::TextChanged)
            line += ": the file no longer holds \"" + problem.Text + "\" there; left unchanged";
        else if (problem.SystemError != 0)
            line += std::string(": ") + std::strerror(static_cast<int>(problem.SystemError));
        Diagnose(line);
    }
}

}  // namespace

int RunGrep(Command& command, RegularExpression& object)
{
    if (command.operands.empty() && !command.recursive)
        return RunGrepText(command, object, true);
    if (command.maxCount == 0)
        return kNothing;
    std::vector<FileTarget> targets;
    bool error = !ResolveAll(command, targets);
    if (!PrepareForFiles(object, "grep") || !CheckExpression(object))
        return kError;

    Output out(1, WantColour(command));
    GrepPrinter printer(out, command, ShowNames(command, targets));
    if (command.filesWithMatches)
        object.SetOnFindFilesClosure(Bind(&printer, &GrepPrinter::OnFile));
    else
        object.SetOnGreppingFilesClosure(Bind(&printer, &GrepPrinter::OnMatch));
    for (const FileTarget& target : targets) {
        object.SetFilesToMatch(target.wildcard);
        object.SetDirectoryRecursion(target.recurse);
        if (command.filesWithMatches)
            object.FindFiles();
        else
            object.GrepFiles();
        printer.EndOperand(target);
        if (ReportMatchError(object))
            error = true;
        if (printer.Stopped())
            break;
    }
    if (!out.Flush()) {
        Diagnose(std::string("write error: ") + std::strerror(errno));
        return kError;
    }
    if (command.quiet && printer.Total() > 0)
        return kFound;
    if (error)
        return kError;
    return printer.Total() > 0 ? kFound : kNothing;
}

int RunReplace(Command& command, RegularExpression& object)
{
    if (command.operands.empty() && !command.recursive) {
        Diagnose("replace: missing FILES (or -r for the current directory)");
        return kError;
    }
    std::vector<FileTarget> targets;
    if (!ResolveAll(command, targets)) {
        Diagnose("nothing was changed");
        return kError;
    }
    if (!PrepareForFiles(object, "replace"))
        return kError;
    if (object.GetFormatString().empty())
        object.SetFormatString(DeletingFormat());
    if (!CheckExpression(object))
        return kError;

    // First the plan: which files hold a match, and is it safe to change them.
    FileCollector collector;
    object.SetOnFindFilesClosure(Bind(&collector, &FileCollector::OnFile));
    for (const FileTarget& target : targets) {
        object.SetFilesToMatch(target.wildcard);
        object.SetDirectoryRecursion(target.recurse);
        object.FindFiles();
        if (ReportMatchError(object)) {
            Diagnose("nothing was changed");
            return kError;
        }
    }
    object.SetOnFindFilesClosure(RegularExpression::FindFilesEventClosure());
    bool planOk = CheckPlan(object, collector.files);
    if (!planOk && !command.dryRun) {
        Diagnose("nothing was changed");
        return kError;
    }

    const bool names = ShowNames(command, targets);
    if (command.dryRun) {
        Output out(1, WantColour(command));
        DryRunPrinter printer(out, object, names, command.quiet);
        object.SetOnGreppingFilesClosure(Bind(&printer, &DryRunPrinter::OnMatch));
        bool error = !planOk;
        for (const FileTarget& target : targets) {
            object.SetFilesToMatch(target.wildcard);
            object.SetDirectoryRecursion(target.recurse);
            object.GrepFiles();
            if (ReportMatchError(object))
                error = true;
        }
        if (!command.quiet) {
            out.Write(Plural(printer.Replacements(), "replacement", "replacements") + " in " +
                      Plural(printer.Files(), "file", "files") + " (dry run: nothing was changed)\n");
        }
        if (!out.Flush())
            return kError;
        if (error)
            return kError;
        return printer.Replacements() > 0 ? kFound : kNothing;
    }

    Progress progress(!command.quiet);
    ChangeMonitor monitor(progress, collector.files.size());
    object.SetOnChangingFilesClosure(Bind(&monitor, &ChangeMonitor::OnMatch));
    bool error = false;
    for (const FileTarget& target : targets) {
        object.SetFilesToMatch(target.wildcard);
        object.SetDirectoryRecursion(target.recurse);
        unsigned changes = object.ChangeFiles();
        monitor.Finish(object, changes);
        progress.Clear();
        ReportProblems(object);
        if (object.GetChangeFilesErrors() != nullptr)
            error = true;
        if (ReportMatchError(object))
            error = true;
    }
    if (!command.quiet) {
        Output out(1, false);
        out.Write(Plural(monitor.Replacements(), "replacement", "replacements") + " in " +
                  Plural(monitor.FilesChanged(), "file", "files") + "\n");
    }
    if (error)
        return kError;
    return monitor.Replacements() > 0 ? kFound : kNothing;
}

}  // namespace QuorvexCli
