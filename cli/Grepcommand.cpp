// The grep subcommand: one walk of the library per operand, in line mode
// unless -U, with every file reported by the walk events so that files
// without a match (-c, -L, -v), binary files and unreadable files are known;
// LinePrinter selects and prints the lines.
#include <cerrno>
#include <cstring>

#include "Command.h"
#include "Lineprinter.h"
#include "Operands.h"
#include "Output.h"

namespace QuorvexCli {

using RegexClass::Bind;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

namespace {

// Receives the library's events of the grep walks and feeds the printer.
class GrepWalk {
public:
    GrepWalk(LinePrinter& printer, const Command& command) : printer_(printer), command_(command) {}

    void OnFile(RegularExpression*, const RegularExpression::WalkedFile& file, bool& skip, bool& go)
    {
        switch (file.Stage) {
        case RegularExpression::FileStarted:
            current = file.FileName;
            if (!printer_.Begin(file.FileName, file.Data, static_cast<std::size_t>(file.Size))) {
                skip = true;
                printer_.End();
            }
            break;
        case RegularExpression::FileFinished:
            current.clear();
            printer_.End();
            break;
        case RegularExpression::FileSkipped:
            if (!command_.noMessages)
                Diagnose(file.FileName + ": " + SkipReason(file.SystemError));
            error = true;
            break;
        }
        if (printer_.Done())
            go = false;
    }

    void OnMatch(RegularExpression*, std::string, const REMatchInfo& matches, unsigned line, bool& go)
    {
        if (matches.empty() || matches.front().Position < 0) {
            tooLarge = true;  // an offset beyond what a report can hold
            return;
        }
        const std::uint64_t start = static_cast<unsigned>(matches.front().Position);
        printer_.Match(start, start + matches.front().Text.size(), line);
        if (printer_.Done())
            go = false;
    }

    void OnFound(RegularExpression*, std::string, bool& go)
    {
        printer_.FileMatches();
        if (printer_.Done())
            go = false;
    }

    // Matches of the text grep over standard input, `base` bytes into it.
    void OnText(RegularExpression*, const REMatchInfo& matches, unsigned line, unsigned, bool& go)
    {
        if (matches.empty())
            return;
        const std::uint64_t start = base + static_cast<unsigned>(matches.front().Position);
        if (!printer_.Match(start, start + matches.front().Text.size(), lineBase + line - 1))
            go = wanted = false;
    }

    bool error = false;
    bool tooLarge = false;
    std::string current;  // the file being searched
    std::uint64_t base = 0;
    std::uint64_t lineBase = 1;
    bool wanted = true;

private:
    LinePrinter& printer_;
    const Command& command_;
};

// Standard input, or a pipe or device named as an operand: read whole, then
// searched by the text grep, line by line (or whole with -U), so that it
// gives what a file would.
bool GrepStream(const Command& command, RegularExpression& object, LinePrinter& printer, GrepWalk& walk,
                const WalkTarget& target)
{
    std::string text;
    if (target.standardInput ? !ReadStandardInput(text) : !ReadStream(target.operand, text, command.noMessages))
        return false;
    const std::string& label = target.standardInput ? command.label : target.operand;
    if (!printer.Begin(label, text.data(), text.size())) {
        printer.End();
        return true;
    }
    object.SetOnGreppingClosure(Bind(&walk, &GrepWalk::OnText));
    walk.wanted = true;
    if (command.multiline) {
        walk.base = 0;
        walk.lineBase = 1;
        object.SetStringToMatch(text);
        object.Grep();
    } else {
        std::uint64_t line = 1;
        for (std::size_t start = 0; start < text.size() && walk.wanted && !printer.Done(); ++line) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            walk.base = start;
            walk.lineBase = line;
            object.SetStringToMatch(text.substr(start, end - start));
            object.Grep();
            if (!object.GetMatchError().empty())
                break;
            start = end + 1;
        }
    }
    object.SetStringToMatch(std::string());
    printer.End();
    if (!object.GetMatchError().empty()) {
        Diagnose(label + ": matching stopped: " + object.GetMatchError());
        return false;
    }
    return true;
}

}  // namespace

int RunGrep(Command& command, RegularExpression& object)
{
    if (command.maxCount == 0)
        return kNothing;  // as grep: nothing is read
    Operands operands(command, object);
    bool error = !operands.Resolve();
    if (!PrepareForFiles(object, "grep") || !CheckExpression(object))
        return kError;
    object.SetLineMode(!command.multiline);

    Output out(1, WantColour(command) && !command.json);
    LinePrinter printer(out, command, operands.ShowNames());
    // Whole lines printed: the first match selects a line, the rest of it
    // need not be searched.
    object.SetFirstMatchOfLine(!printer.WantsEveryMatch());
    GrepWalk walk(printer, command);
    // Whether a file matches is all -l, -L and -q need: the walk stops
    // searching a file at its first match.
    const bool firstOnly =
        !command.invert && !command.json && (command.filesWithMatches || command.filesWithoutMatch || command.quiet);
    object.SetOnWalkingFilesClosure(Bind(&walk, &GrepWalk::OnFile));
    if (firstOnly)
        object.SetOnFindFilesClosure(Bind(&walk, &GrepWalk::OnFound));
    else
        object.SetOnGreppingFilesClosure(Bind(&walk, &GrepWalk::OnMatch));

    operands.ForEach([&](const WalkTarget& target) {
        if (target.standardInput || target.stream) {
            if (!GrepStream(command, object, printer, walk, target))
                error = true;
        } else {
            if (firstOnly)
                object.FindFiles();
            else
                object.GrepFiles();
            if (!object.GetMatchError().empty()) {
                Diagnose((walk.current.empty() ? std::string() : walk.current + ": ") +
                         "matching stopped: " + object.GetMatchError());
                walk.current.clear();
                error = true;
            }
        }
        return !printer.Done();
    });
    printer.Summary();
    if (walk.tooLarge) {
        Diagnose("matches beyond 4 GiB into a file were left out");
        error = true;
    }
    if (!out.Flush()) {
        Diagnose(std::string("write error: ") + std::strerror(errno));
        return kError;
    }
    if (command.quiet && printer.SelectedLines() > 0)
        return kFound;
    if (error || walk.error)
        return kError;
    return printer.SelectedLines() > 0 ? kFound : kNothing;
}

}  // namespace QuorvexCli
