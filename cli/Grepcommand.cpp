// The grep subcommand. Every operand is searched through the library's
// streaming searcher: files and walks, standard input, pipes and devices,
// read block by block as they arrive (line mode), or with -U mapped or read
// in windows, the matches spanning lines. LinePrinter selects and prints the
// lines from the searcher's blocks of whole lines and its matches.
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "Command.h"
#include "Lineprinter.h"
#include "Operands.h"
#include "Output.h"
#include "Platform.h"
#include "Quorvexsearch.h"

namespace QuorvexCli {

using RegexClass::RegularExpression;

namespace {

// The streaming searcher's sink: each input block by block into the printer,
// and what the printer wants back as the searcher's answers.
class StreamPrinter : public RegexClass::SearchSink {
public:
    StreamPrinter(LinePrinter& printer, Output& out, const Command& command, bool flushEachBlock)
        : printer_(printer), out_(out), command_(command), flushEachBlock_(flushEachBlock)
    {
    }

    RegexClass::SearchAnswer OnInputStart(const std::string& name) override
    {
        // The file the output goes to is never read: its lines would match
        // again and again, filling the disk.
        RegexPlatform::FileState state;
        if (output_ != nullptr && RegexPlatform::QueryNameState(name.c_str(), state) &&
            RegexPlatform::SameFile(state, *output_)) {
            if (!command_.noMessages)
                out_.Diagnostic(name + ": input file is also the output");
            failed = true;
            return RegexClass::SearchAnswer::SkipInput;
        }
        printer_.Begin(name);
        return RegexClass::SearchAnswer::Continue;
    }
    RegexClass::SearchAnswer OnBlock(const RegexClass::SearchBlock& block) override
    {
        return printer_.Block(block.Bytes.data(), block.Offset, block.Bytes.size(), block.Kept, block.Line,
                              block.Binary)
                   ? RegexClass::SearchAnswer::Continue
                   : RegexClass::SearchAnswer::SkipInput;
    }
    RegexClass::SearchAnswer OnMatch(const RegexClass::SearchMatch& match) override
    {
        if (printer_.Match(match.Offset, match.End, match.Line, match.LineOffset, match.LineText.size()))
            return RegexClass::SearchAnswer::Continue;
        // Lines after the last one wanted may still be printed as context.
        return printer_.Done() ? RegexClass::SearchAnswer::Stop
               : wantsAfter_   ? RegexClass::SearchAnswer::Continue
                               : RegexClass::SearchAnswer::SkipInput;
    }
    RegexClass::SearchAnswer OnBlockEnd(const RegexClass::SearchBlock& block) override
    {
        if (printer_.CountsOnly())
            printer_.CountedLines(block.Matched);
        const bool more = printer_.BlockEnd();
        if (flushEachBlock_)
            out_.Flush();  // what arrived is printed before the next read waits
        if (printer_.Done())
            return RegexClass::SearchAnswer::Stop;
        return more ? RegexClass::SearchAnswer::Continue : RegexClass::SearchAnswer::SkipInput;
    }
    RegexClass::SearchAnswer OnInputEnd(const std::string&) override
    {
        printer_.End();
        if (flushEachBlock_)
            out_.Flush();
        return printer_.Done() ? RegexClass::SearchAnswer::Stop : RegexClass::SearchAnswer::Continue;
    }
    RegexClass::SearchAnswer OnInputFailed(const std::string& name, unsigned error, const std::string& reason) override
    {
        if (error == 0)
            out_.Diagnostic(name + ": matching stopped: " + reason);
        else if (!command_.noMessages)
            out_.Diagnostic(name + ": " + SkipReason(error));
        failed = true;
        return RegexClass::SearchAnswer::Continue;
    }

    bool failed = false;
    bool wantsAfter_ = false;
    // Where standard output writes when it is a regular file that a search
    // must not read (null: any input is read).
    const RegexPlatform::FileState* output_ = nullptr;

private:
    LinePrinter& printer_;
    Output& out_;
    const Command& command_;
    const bool flushEachBlock_;
};

// A file of a walk searched on a worker thread: a printer of its own, as for
// the first file of a run, printing into memory.
struct HeldPrinter {
    HeldPrinter(const Command& command, bool colour, bool names, BufferStock& stock)
        : held(Stocked(stock)), out(held, colour), printer(out, command, names)
    {
    }
    static HeldOutput Stocked(BufferStock& stock)
    {
        HeldOutput held;
        held.stock = &stock;
        return held;
    }
    HeldOutput held;
    Output out;
    LinePrinter printer;
};

class HeldFile final : private HeldPrinter, public StreamPrinter {
public:
    // A file's sink, with the run's settings of the caller's sink `like`.
    HeldFile(const StreamPrinter& like, const Command& command, bool colour, bool names, BufferStock& stock)
        : HeldPrinter(command, colour, names, stock), StreamPrinter(HeldPrinter::printer, out, command, false)
    {
        wantsAfter_ = like.wantsAfter_;
        output_ = like.output_;
    }
    const LinePrinter& Printer() const { return printer; }
    const HeldOutput& Held()
    {
        out.Flush();
        return held;
    }
    // Once written out: its buffers go back to the stock.
    void Recycle() { held.Recycle(); }
};

// The walk's files on several threads: each printed into memory by a
// HeldFile, written out on the caller's thread in walk order, so that the
// output is the one thread's, byte for byte.
class HeldFiles final : public RegexClass::SearchSinkFactory {
public:
    HeldFiles(const Command& command, LinePrinter& printer, Output& out, StreamPrinter& sink, bool names,
              bool flushEachFile)
        : command_(command), printer_(printer), out_(out), sink_(sink), names_(names), flushEachFile_(flushEachFile)
    {
    }
    std::unique_ptr<RegexClass::SearchSink> MakeSink(const std::string&) override
    {
        return std::unique_ptr<RegexClass::SearchSink>(
            new HeldFile(sink_, command_, out_.Colour(), names_, stock_));
    }
    RegexClass::SearchAnswer OnFileDone(std::unique_ptr<RegexClass::SearchSink> sink,
                                        const RegexClass::SearchResult&) override
    {
        HeldFile& file = static_cast<HeldFile&>(*sink);
        printer_.Join(file.Printer());
        out_.Release(file.Held());
        file.Recycle();
        if (file.failed)
            sink_.failed = true;
        if (flushEachFile_)
            out_.Flush();
        return printer_.Done() ? RegexClass::SearchAnswer::Stop : RegexClass::SearchAnswer::Continue;
    }
    RegexClass::SearchAnswer OnWalkFailed(const std::string& name, unsigned error, const std::string& reason) override
    {
        return sink_.OnInputFailed(name, error, reason);
    }

private:
    const Command& command_;
    LinePrinter& printer_;
    Output& out_;
    StreamPrinter& sink_;
    const bool names_;
    const bool flushEachFile_;
    BufferStock stock_;  // the held files' buffers, from one file to the next
};

// Every operand through the streaming searcher.
bool StreamOperands(Command& command, RegularExpression& object, Operands& operands, LinePrinter& printer,
                    Output& out)
{
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned threads = command.threads != 0 ? command.threads : cores != 0 ? cores : 1;
    RegexClass::Searcher searcher(object);
    if (!searcher.Ok()) {
        Diagnose(searcher.Error());
        return false;
    }
    RegexClass::SearchOptions& options = searcher.Options();
    // -U: each input one subject, matches spanning lines, handed out with
    // the whole lines they touch.
    options.LineMode = !command.multiline;
    // -c: the searcher counts the lines holding a match, block by block
    // (the printer asks for it in line mode only).
    options.CountOnly = printer.CountsOnly();
    options.LineNumbers = (command.lineNumbers || command.json) && !options.CountOnly;
    options.FirstMatchOfLine = !printer.WantsEveryMatch();
    options.NullData = command.nullData;
    // Binary data is only reported, never printed: a NUL ends a line there,
    // so that a long run of them never fills memory (as grep has it).
    options.NulEndsLine = !command.nullData && !command.text && command.binaryFiles != "text" && !command.json &&
                          !command.multiline;
    const long long before = command.beforeContext >= 0 ? command.beforeContext : command.bothContext;
    const long long after = command.afterContext >= 0 ? command.afterContext : command.bothContext;
    options.ContextLines = before > 0 ? static_cast<std::size_t>(before) : 0;

    const bool flushEachBlock = command.lineBuffered || RegexPlatform::IsTerminal(1);
    StreamPrinter sink(printer, out, command, flushEachBlock);
    sink.wantsAfter_ = after > 0 && !command.count && !command.filesWithMatches && !command.filesWithoutMatch && !command.quiet;
    // An input that is the file standard output writes to is left out, as
    // grep does, unless the output cannot grow with it (-q, -l, -L, -c, -m1).
    RegexPlatform::FileState output;
    if (!command.quiet && !command.filesWithMatches && !command.filesWithoutMatch && !command.count &&
        (command.maxCount < 0 || command.maxCount > 1) && RegexPlatform::StandardFileState(1, output))
        sink.output_ = &output;
    HeldFiles held(command, printer, out, sink, operands.ShowNames(), flushEachBlock);
    operands.ForEach([&](const WalkTarget& target) {
        RegexClass::SearchResult result;
        if (target.standardInput) {
            // Standard input is compared by what it is, not by its label.
            RegexPlatform::FileState input;
            if (sink.output_ != nullptr && RegexPlatform::StandardFileState(0, input) &&
                RegexPlatform::SameFile(input, output)) {
                if (!command.noMessages)
                    out.Diagnostic(command.label + ": input file is also the output");
                sink.failed = true;
                return true;
            }
            const RegexPlatform::FileState* const output = sink.output_;
            sink.output_ = nullptr;
            result = searcher.SearchDescriptor(0, command.label, sink);
            sink.output_ = output;
            if (result.End == RegexClass::SearchResult::ReadFailed) {
                Diagnose(command.label + ": " + result.Error);
                sink.failed = true;
            } else if (result.End == RegexClass::SearchResult::MatchFailed) {
                Diagnose(command.label + ": matching stopped: " + result.Error);
                sink.failed = true;
            }
        } else if (target.stream || (target.single && !target.recurse)) {
            // One file or pipe named as an operand: the file selection
            // switches apply to it too, as in a walk.
            bool take = true;
            if (!target.stream)
                operands.OnFilter(&object, target.files, false, take);
            if (take)
                result = searcher.SearchPath(target.stream ? target.operand : target.files, sink);
        } else {
            RegexClass::WalkOptions walk;
            walk.Recurse = target.recurse;
            walk.LinkRule = command.dereference ? RegexClass::WalkOptions::AllLinks
                            : command.recursive ? RegexClass::WalkOptions::NoLinks
                                                : RegexClass::WalkOptions::FileLinks;
            const bool filtering =
                !command.includes.empty() || !command.excludes.empty() || !command.excludeDirs.empty();
            if (filtering || target.literal)
                walk.Filter = [&](const std::string& path, bool directory) {
                    bool take = true;
                    operands.OnFilter(&object, path, directory, take);
                    return take;
                };
            // On several threads each file is printed into memory and
            // written out here, in walk order.
            walk.Threads = threads;
            // The colours are read (and a deprecated GREP_COLOR warned
            // about) on the caller's thread, not by the first worker to paint.
            if (threads > 1 && out.Colour())
                HasColour(Paint::Match);
            result = threads > 1 ? searcher.SearchFiles(target.files, walk, held)
                                 : searcher.SearchFiles(target.files, walk, sink);
        }
        return result.End != RegexClass::SearchResult::Stopped && !printer.Done();
    });
    return !sink.failed;
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

    Output out(1, WantColour(command) && !command.json);
    LinePrinter printer(out, command, operands.ShowNames());
    if (!StreamOperands(command, object, operands, printer, out))
        error = true;
    printer.Summary();
    if (!out.Flush()) {
        Diagnose(std::string("write error: ") + std::strerror(errno));
        return kError;
    }
    if (command.quiet && printer.SelectedLines() > 0)
        return kFound;
    if (error)
        return kError;
    return printer.SelectedLines() > 0 ? kFound : kNothing;
}

}  // namespace QuorvexCli
