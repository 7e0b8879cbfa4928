// The text subcommands: search, match, match-all and grep-text report matches
// in one text; merge replaces them (a whole TEXT, or standard input line by
// line, like sed).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <cstdint>
#include <vector>

#include "Command.h"
#include "Output.h"
#include "Platform.h"

namespace QuorvexCli {

using RegexClass::Bind;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

namespace {

// Writes the reported matches of the text commands, one line each:
// [name:][line:][offset:]text, where text is the match or, when the object
// has a format string, its expansion for the match.
class TextPrinter {
public:
    TextPrinter(Output& out, const Command& command, bool useFormat, const char* name)
        : out_(out), command_(command), useFormat_(useFormat), name_(name)
    {
    }

    void OnMatch(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned)
    {
        ++total_;
        if (!command_.quiet && !command_.count && !command_.filesWithMatches)
            Print(*sender, matches, line);
    }

    void OnGrep(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned start, bool& go)
    {
        OnMatch(sender, matches, line, start);
        if (command_.quiet || (command_.filesWithMatches && total_ > 0) ||
            (command_.maxCount >= 0 && total_ >= static_cast<unsigned long long>(command_.maxCount)))
            go = false;
    }

    unsigned long long Total() const { return total_; }

private:
    void Print(RegularExpression& sender, const REMatchInfo& matches, unsigned line)
    {
        if (name_ != nullptr) {
            out_.Painted(Paint::FileName, name_);
            out_.Separator(':');
        }
        if (command_.lineNumbers) {
            out_.Painted(Paint::LineNumber, std::to_string(line));
            out_.Separator(':');
        }
        if (command_.byteOffsets && !matches.empty()) {
            out_.Number(static_cast<unsigned>(matches.front().Position));
            out_.Separator(':');
        }
        if (useFormat_) {
            sender.Format(formatted_);
            out_.Write(formatted_);
        } else if (!matches.empty()) {
            out_.Painted(Paint::Match, matches.front().Text);
        }
        out_.Put('\n');
    }

    Output& out_;
    const Command& command_;
    bool useFormat_;
    const char* name_;
    std::string formatted_;
    unsigned long long total_ = 0;
};

// Counts the replacements of a merge (the event runs once per match).
struct MergeCounter {
    void OnMerge(RegularExpression*, const REMatchInfo&, unsigned, unsigned, bool&) { ++count; }
    unsigned long long count = 0;
};

// The subject of a text command: the TEXT operand, or standard input.
bool Subject(const Command& command, bool stripNewline, std::string& text)
{
    if (!command.operands.empty()) {
        text = command.operands.front();
        return true;
    }
    if (!ReadStandardInput(text))
        return false;
    // "echo abc | quorvex match-all abc" should match: the newline that ends
    // the input is not part of the text.
    if (stripNewline && !text.empty() && text.back() == '\n')
        text.pop_back();
    return true;
}

bool WriteFailed(Output& out)
{
    if (out.Flush())
        return false;
    Diagnose(std::string("write error: ") + std::strerror(errno));
    return true;
}

}  // namespace

int RunString(Command& command, RegularExpression& object)
{
    std::string text;
    if (!Subject(command, true, text))
        return kError;
    object.SetStringToMatch(text);
    if (!CheckExpression(object))
        return kError;
    Output out(1, WantColour(command));
    TextPrinter printer(out, command, !object.GetFormatString().empty(), nullptr);
    bool found;
    if (command.verb == Verb::Search) {
        object.SetOnSearchingClosure(Bind(&printer, &TextPrinter::OnMatch));
        found = object.Search();
    } else {
        object.SetOnMatchingClosure(Bind(&printer, &TextPrinter::OnMatch));
        found = command.verb == Verb::Match ? object.Match() : object.MatchAll();
    }
    if (WriteFailed(out))
        return kError;
    if (!object.GetMatchError().empty()) {
        Diagnose("matching stopped: " + object.GetMatchError());
        return kError;
    }
    return found ? kFound : kNothing;
}

int RunGrepText(Command& command, RegularExpression& object, bool standardInput)
{
    std::string text;
    if (standardInput) {
        if (!ReadStandardInput(text))
            return kError;
    } else if (!Subject(command, false, text)) {
        return kError;
    }
    if (command.maxCount == 0)
        return kNothing;
    object.SetStringToMatch(text);
    if (!CheckExpression(object))
        return kError;
    const char* name = standardInput && command.withFileName ? "(standard input)" : nullptr;
    Output out(1, WantColour(command));
    TextPrinter printer(out, command, !standardInput && !object.GetFormatString().empty(), name);
    object.SetOnGreppingClosure(Bind(&printer, &TextPrinter::OnGrep));
    object.Grep();
    if (!command.quiet) {
        if (command.filesWithMatches && printer.Total() > 0) {
            out.Painted(Paint::FileName, "(standard input)");
            out.Put('\n');
        } else if (command.count && !command.filesWithMatches) {
            if (name != nullptr) {
                out.Painted(Paint::FileName, name);
                out.Separator(':');
            }
            out.Number(printer.Total());
            out.Put('\n');
        }
    }
    if (WriteFailed(out))
        return kError;
    if (command.quiet && printer.Total() > 0)
        return kFound;
    if (!object.GetMatchError().empty()) {
        Diagnose("matching stopped: " + object.GetMatchError());
        return kError;
    }
    return printer.Total() > 0 ? kFound : kNothing;
}

int RunMerge(Command& command, RegularExpression& object)
{
    if (object.GetFormatString().empty())
        object.SetFormatString(DeletingFormat());
    // A syntax check needs a subject only to be run; compile first so that a
    // bad expression is reported even for empty input.
    if (!CheckExpression(object))
        return kError;
    MergeCounter counter;
    object.SetOnMergingClosure(Bind(&counter, &MergeCounter::OnMerge));
    const bool copy = object.GetMergeCopy();
    Output out(1, false);
    std::string merged;

    if (!command.operands.empty()) {
        object.SetStringToMatch(command.operands.front());
        object.Merge(merged);
        if (!command.quiet && (copy || counter.count > 0)) {
            out.Write(merged);
            out.Put('\n');
        }
    } else {
        // Standard input, one line at a time; each line is merged without
        // its terminator (a line feed, NUL with -z), which is written back
        // after it.
        // Read as the bytes arrive (not in full stdio blocks), so that the
        // lines of a slow writer are merged and, to a terminal or with
        // --line-buffered, printed at once.
        RegexPlatform::InputKind kind;
        std::uint64_t reported = 0;
        const RegexPlatform::FileHandle input = RegexPlatform::InputFromDescriptor(0, kind, reported);
        if (input == nullptr) {
            Diagnose("standard input: " + RegexPlatform::ErrorText(RegexPlatform::LastError()));
            return kError;
        }
        const bool flushEachRead = command.lineBuffered || RegexPlatform::IsTerminal(1);
        const char terminator = command.nullData ? '\0' : '\n';
        std::string pending;
        std::vector<char> block(1 << 16);
        bool atEnd = false;
        while (!atEnd) {
            std::size_t n = 0;
            if (!RegexPlatform::ReadInput(input, block.data(), block.size(), n)) {
                Diagnose("standard input: " + RegexPlatform::ErrorText(RegexPlatform::LastError()));
                return kError;
            }
            atEnd = n == 0;
            pending.append(block.data(), n);
            std::size_t start = 0;
            for (;;) {
                std::size_t end = pending.find(terminator, start);
                bool complete = end != std::string::npos;
                if (!complete && !(atEnd && start < pending.size()))
                    break;
                if (!complete)
                    end = pending.size();
                unsigned long long before = counter.count;
                object.SetStringToMatch(pending.substr(start, end - start));
                object.Merge(merged);
                if (!command.quiet) {
                    if (copy) {
                        out.Write(merged);
                        if (complete)
                            out.Put(terminator);
                    } else if (counter.count > before) {
                        out.Write(merged);
                        out.Put(terminator);
                    }
                }
                start = complete ? end + 1 : pending.size();
                if (!object.GetMatchError().empty())
                    break;
            }
            pending.erase(0, start);
            if (flushEachRead)
                out.Flush();
            if (!object.GetMatchError().empty())
                break;
        }
    }
    if (WriteFailed(out))
        return kError;
    if (!object.GetMatchError().empty()) {
        Diagnose("matching stopped: " + object.GetMatchError());
        return kError;
    }
    return counter.count > 0 ? kFound : kNothing;
}

}  // namespace QuorvexCli
