// quorvex: the command-line tool. Parses the command line with CLI11 into a
// Command, configures one RegularExpression from it and runs the subcommand;
// every search, match and replacement is done by the class library.
#include <new>
#include <string>
#include <tuple>

#include <CLI/CLI.hpp>

#include "Command.h"
#include "Output.h"

namespace {

using QuorvexCli::Command;
using QuorvexCli::Verb;

const char kTopFooter[] =
    "\nExit status: 0 when something matched or changed, 1 when nothing did, 2 on an error.\n"
    "Run 'quorvex SUBCOMMAND --help' for the options of a subcommand; 'man quorvex' for the manual.";

// Options that every subcommand takes.
void AddShared(CLI::App* sub, Command& command, bool& fixed)
{
    sub->add_option("-e,--regexp", command.expressionOptions,
                    "The expression (then every positional is an operand); repeat for several: any matches")
        ->type_name("EXPR")
        ->allow_extra_args(false);
    sub->add_flag("-i,--ignore-case", command.ignoreCase, "Letters match regardless of case");
    sub->add_option("--syntax", command.syntax, "Expression syntax: normal (default), extended, basic, literal")
        ->check(CLI::IsMember({"normal", "extended", "basic", "literal"}))
        ->type_name("SYNTAX");
    sub->add_flag("-F,--fixed-strings", fixed, "The expression is plain text (--syntax literal)");
    for (std::size_t i = 0; i < QuorvexCli::MatchFlags().size(); ++i) {
        const QuorvexCli::MatchFlag& flag = QuorvexCli::MatchFlags()[i];
        sub->add_flag_callback(std::string("--") + flag.name, [&command, i] { command.matchFlags[i] = true; },
                               flag.help)
            ->group("Match options");
    }
    sub->add_option("--settings", command.settingsFile,
                    "Load the settings (expression, options, format...) saved in FILE")
        ->type_name("FILE")
        ->group("Settings");
    sub->add_option("--save-settings", command.saveSettingsFile, "Save the settings of this command in FILE")
        ->type_name("FILE")
        ->group("Settings");
    sub->add_option("--color,--colour", command.colour,
                    "Highlight matches: auto (when output is a terminal), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->type_name("WHEN");
    sub->add_flag("-q,--quiet", command.quiet, "Print nothing; the exit status tells");
    sub->add_flag("--no-unicode", command.noUnicode,
                  "Work on bytes, even when the locale's character set is UTF-8 (then text is UTF-8 by default)");
}

// A repeatable option with one value per use.
CLI::Option* AddList(CLI::App* sub, const std::string& name, std::vector<std::string>& values, const std::string& help,
                     const std::string& type)
{
    return sub->add_option(name, values, help)
        ->type_name(type)
        ->allow_extra_args(false);
}

// File selection, shared by grep and replace.
void AddSelection(CLI::App* sub, Command& command)
{
    sub->add_flag("-R,--dereference-recursive", command.dereference,
                  "As -r, and follow every symbolic link (-r follows none met inside the tree)");
    AddList(sub, "--include", command.includes, "Search only files whose name matches GLOB", "GLOB")->group("Files");
    AddList(sub, "--exclude", command.excludes, "Skip files whose name matches GLOB", "GLOB")->group("Files");
    AddList(sub, "--exclude-dir", command.excludeDirs, "Skip directories whose name matches GLOB", "GLOB")
        ->group("Files");
    sub->add_flag("-a,--text", command.text, "Treat binary files as text");
    sub->add_option("--binary-files", command.binaryFiles,
                    "binary (default: 'Binary file NAME matches'), text (as -a) or without-match (skip them)")
        ->check(CLI::IsMember({"binary", "text", "without-match"}))
        ->type_name("TYPE")
        ->group("Files");
    sub->add_flag("-U,--multiline", command.multiline,
                  "Matches may span lines (the whole file is one text); default: each line on its own");
    sub->add_flag("-s,--no-messages", command.noMessages, "No messages about missing or unreadable files");
}

void AddLineOptions(CLI::App* sub, Command& command)
{
    sub->add_flag("-n,--line-number,!--no-line-number", command.lineNumbers,
                  "Print the line number of each match (--no-line-number: do not)");
    sub->add_flag("-b,--byte-offset", command.byteOffsets, "Print the byte offset of each match");
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("Search, grep and replace with regular expressions, in files and in text.", "quorvex");
    app.set_version_flag("-V,--version", "quorvex " QUORVEX_VERSION);
    app.require_subcommand(1);
    app.footer(kTopFooter);
    app.get_formatter()->column_width(34);

    Command command;
    bool fixed = false;

    CLI::App* grep = app.add_subcommand("grep", "Print the lines of FILES that match: file:line:text of the line");
    grep->set_help_flag("--help", "Print this help and exit");  // -h is --no-filename, as in grep
    grep->add_option("EXPR", command.firstPositional, "The expression")->type_name("");
    grep->add_option("FILES", command.operands,
                     "Files, directories (with -r) or wildcard paths such as 'src/*.cpp'; "
                     "without FILES, standard input")
        ->type_name("");
    AddShared(grep, command, fixed);
    AddLineOptions(grep, command);
    grep->add_flag("-r,--recursive", command.recursive, "Search directories and their sub-directories");
    AddSelection(grep, command);
    AddList(grep, "-f,--file", command.patternFiles, "Take expressions from FILE, one per line", "FILE");
    grep->add_flag("-v,--invert-match", command.invert, "Select the lines without a match");
    grep->add_flag("-w,--word-regexp", command.wordRegexp, "Match whole words only");
    grep->add_flag("-x,--line-regexp", command.lineRegexp, "Match whole lines only");
    grep->add_flag("-o,--only-matching", command.onlyMatching, "Print each match on a line of its own");
    grep->add_flag("-H,--with-filename", command.withFileName, "Print the file name of each line");
    grep->add_flag("-h,--no-filename", command.noFileName, "Never print file names");
    grep->add_option("--label", command.label, "The name of standard input in the output")->type_name("NAME");
    grep->add_flag("-Z,--null", command.nullAfterName, "A NUL byte after each file name instead of ':' or a newline");
    grep->add_flag("-c,--count", command.count, "Print the number of selected lines of each file");
    grep->add_flag("-l,--files-with-matches", command.filesWithMatches, "Print only the names of files with a match");
    grep->add_flag("-L,--files-without-match", command.filesWithoutMatch,
                   "Print only the names of files without a match");
    grep->add_option("-m,--max-count", command.maxCount, "Stop each file after N selected lines")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber);
    for (auto context : {std::make_tuple("-A,--after-context", &command.afterContext, "Print N lines after each selected line"),
                         std::make_tuple("-B,--before-context", &command.beforeContext, "Print N lines before each selected line"),
                         std::make_tuple("-C,--context", &command.bothContext, "Print N lines before and after")})
        grep->add_option(std::get<0>(context), *std::get<1>(context), std::get<2>(context))
            ->type_name("N")
            ->check(CLI::NonNegativeNumber)
            ->group("Context");
    grep->add_flag("--json", command.json, "One JSON object per line: begin, match, context, end, summary");
    grep->footer("\nExample: quorvex grep -rn 'TODO|FIXME' src");

    CLI::App* replace = app.add_subcommand("replace", "Replace every match in FILES by FORMAT, in place");
    replace->set_help_flag("--help", "Print this help and exit");
    replace->add_option("EXPR", command.firstPositional, "The expression")->type_name("");
    replace->add_option("FORMAT", command.secondPositional,
                        "The replacement: $1..$9 sub-expressions, $& the match; empty deletes")
        ->type_name("");
    replace->add_option("FILES", command.operands, "Files, directories (with -r) or wildcard paths")->type_name("");
    replace->add_option("-f,--format", command.formatOption, "The replacement (then FORMAT is an operand)");
    AddShared(replace, command, fixed);
    replace->add_flag("-r,--recursive", command.recursive, "Change files in sub-directories too");
    AddSelection(replace, command);
    replace->add_flag("--diff", command.diff,
                      "Print a unified diff of every change (for patch -p1 or git apply); change nothing");
    replace->add_option("--backup", command.backup,
                        "Keep a copy of each changed file, named with extension EXT (report.txt -> report.EXT)")
        ->type_name("EXT");
    replace->add_flag("--dry-run", command.dryRun, "Show each replacement (file:line:old => new); change nothing");
    replace->add_flag("-H,--with-filename", command.withFileName, "Print file names in the dry run");
    replace->add_flag("-h,--no-filename", command.noFileName, "No file names in the dry run");
    replace->footer("\nExample: quorvex replace -r --backup orig 'colou?r' 'hue' docs\n"
                    "Problems are printed on standard error as: file: Reason at byte N: system error.");

    struct TextVerb {
        const char* name;
        Verb verb;
        const char* help;
    };
    const TextVerb textVerbs[] = {
        {"search", Verb::Search, "Print the first match in TEXT (or standard input)"},
        {"match", Verb::Match, "Print the match at the start of TEXT (or standard input)"},
        {"match-all", Verb::MatchAll, "Succeed when the expression matches all of TEXT (or standard input)"},
        {"grep-text", Verb::GrepText, "Print every match in TEXT (or standard input)"},
    };
    std::vector<std::pair<CLI::App*, Verb>> verbs = {{grep, Verb::Grep}, {replace, Verb::Replace}};
    for (const TextVerb& textVerb : textVerbs) {
        CLI::App* sub = app.add_subcommand(textVerb.name, textVerb.help);
        sub->add_option("EXPR", command.firstPositional, "The expression")->type_name("");
        sub->add_option("TEXT", command.operands, "The text; without it, standard input")->expected(0, 1)->type_name("");
        AddShared(sub, command, fixed);
        AddLineOptions(sub, command);
        sub->add_option("--format", command.formatOption,
                        "Print FORMAT expanded for each match ($1 sub-expression 1, $& the match)");
        if (textVerb.verb == Verb::GrepText) {
            sub->add_flag("-c,--count", command.count, "Print the number of matches");
            sub->add_option("-m,--max-count", command.maxCount, "Stop after N matches")
                ->type_name("N")
                ->check(CLI::NonNegativeNumber);
        }
        verbs.emplace_back(sub, textVerb.verb);
    }

    CLI::App* merge = app.add_subcommand(
        "merge", "Replace every match in TEXT by FORMAT; without TEXT, standard input line by line");
    merge->add_option("EXPR", command.firstPositional, "The expression")->type_name("");
    merge->add_option("FORMAT", command.secondPositional, "The replacement; empty deletes the matches")
        ->type_name("");
    merge->add_option("TEXT", command.operands, "The text; without it, standard input")->expected(0, 1)->type_name("");
    merge->add_option("-f,--format", command.formatOption, "The replacement (then FORMAT is the text)");
    merge->add_flag("--copy", command.copy, "Also print the text between matches (without: only the replacements)");
    AddShared(merge, command, fixed);
    merge->footer("\nExample: printf 'a-b\\n' | quorvex merge --copy '(\\w)-(\\w)' '$2-$1'");
    verbs.emplace_back(merge, Verb::Merge);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        QuorvexCli::Diagnose(e.what());
        QuorvexCli::Diagnose("run 'quorvex --help' for the usage");
        return QuorvexCli::kError;
    }

    CLI::App* chosen = nullptr;
    for (const auto& entry : verbs) {
        if (app.got_subcommand(entry.first)) {
            chosen = entry.first;
            command.verb = entry.second;
        }
    }
    if (chosen == nullptr)
        return QuorvexCli::kError;
    command.haveFirstPositional = chosen->count("EXPR") > 0;
    command.haveSecondPositional =
        (command.verb == Verb::Replace || command.verb == Verb::Merge) && chosen->count("FORMAT") > 0;
    command.haveExpressionOption = chosen->count("--regexp") > 0 || !command.patternFiles.empty();
    command.haveFormatOption = chosen->get_option_no_throw("--format") != nullptr && chosen->count("--format") > 0;
    command.haveBackup = command.verb == Verb::Replace && chosen->count("--backup") > 0;
    if (fixed && command.syntax.empty())
        command.syntax = "literal";

    RegexClass::RegularExpression object;
    if (!QuorvexCli::Configure(command, object) || !QuorvexCli::SaveSettings(command, object))
        return QuorvexCli::kError;

    try {
        switch (command.verb) {
        case Verb::Grep: return QuorvexCli::RunGrep(command, object);
        case Verb::Replace: return QuorvexCli::RunReplace(command, object);
        case Verb::GrepText: return QuorvexCli::RunGrepText(command, object, false);
        case Verb::Merge: return QuorvexCli::RunMerge(command, object);
        default: return QuorvexCli::RunString(command, object);
        }
    } catch (const std::bad_alloc&) {
        // A file too large for memory is reported by the walk and skipped;
        // this is what is left (a text, standard input, the output).
        QuorvexCli::Diagnose("out of memory");
        return QuorvexCli::kError;
    }
}
