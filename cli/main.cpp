// quorvex: the command-line tool. Parses the command line with CLI11 into a
// Command, configures one RegularExpression from it and runs the subcommand;
// every search, match and replacement is done by the class library.
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <tuple>

#include <CLI/CLI.hpp>

#include "Command.h"
#include "Optionparser.h"
#include "Output.h"

namespace {

using QuorvexCli::Command;
using QuorvexCli::OptionEntry;
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

void AddLineOptions(CLI::App* sub, Command& command)
{
    sub->add_flag("-n,--line-number,!--no-line-number", command.lineNumbers,
                  "Print the line number of each match (--no-line-number: do not)");
    sub->add_flag("-b,--byte-offset", command.byteOffsets, "Print the byte offset of each match");
}


// What the option handlers of grep and replace record besides the Command.
struct FileParse {
    bool help = false;
    bool version = false;
    bool regexpGiven = false;
};

OptionEntry Flag(char shortName, const std::string& longName, const std::string& help,
                std::function<void()> apply)
{
    OptionEntry entry;
    entry.shortName = shortName;
    entry.longName = longName;
    entry.help = help;
    entry.apply = [apply](const std::string&, bool) {
        apply();
        return std::string();
    };
    return entry;
}

OptionEntry Valued(char shortName, const std::string& longName, const std::string& valueName, const std::string& help,
                  std::function<std::string(const std::string&)> apply)
{
    OptionEntry entry;
    entry.shortName = shortName;
    entry.longName = longName;
    entry.argument = QuorvexCli::Argument::Required;
    entry.valueName = valueName;
    entry.help = help;
    entry.apply = [apply](const std::string& value, bool) { return apply(value); };
    return entry;
}

std::function<std::string(const std::string&)> OneOf(std::string& target, std::vector<std::string> allowed,
                                                    std::string message)
{
    return [&target, allowed, message](const std::string& value) {
        for (const std::string& one : allowed)
            if (one == value) {
                target = value;
                return std::string();
            }
        return message.empty() ? "invalid argument '" + value + "'" : message;
    };
}

// A context length (-A, -B, -C, -NUM), refused as grep refuses it.
std::function<std::string(const std::string&)> ContextLength(long long& target)
{
    return [&target](const std::string& value) {
        if (!QuorvexCli::ParseCount(value, target))
            return value + ": invalid context length argument";
        return std::string();
    };
}

// Appends the lines of FILE (each a glob) to `globs`, as --exclude-from.
std::string ReadGlobFile(const std::string& name, std::vector<std::string>& globs)
{
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return name + ": " + std::strerror(errno);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            globs.push_back(line);
    return std::string();
}

// The options of grep (`grep` true) and replace.
void AddFileOptions(QuorvexCli::OptionParser& parser, Command& command, FileParse& state, bool grep)
{
    using QuorvexCli::Argument;
    Command& c = command;
    parser.Group("Expression");
    parser.Add(Flag(0, "no-unicode", "Text is bytes even in a UTF-8 locale", [&c] { c.noUnicode = true; }));
    parser.Add(Valued('e', "regexp", "EXPR",
                      "The expression (then every operand is a file); repeat for several: any matches",
                      [&c, &state](const std::string& v) {
                          c.expressionOptions.push_back(v);
                          state.regexpGiven = true;
                          return std::string();
                      }));
    if (grep)
        parser.Add(Valued('f', "file", "FILE", "Take expressions from FILE, one per line ('-': standard input)",
                          [&c](const std::string& v) {
                              c.patternFiles.push_back(v);
                              return std::string();
                          }));
    parser.Add(Flag('E', "extended-regexp", "EXPR is an extended expression (| + ? ( ) { } operators)",
                    [&c] { c.syntax = "extended"; }));
    parser.Add(Flag('G', "basic-regexp", "EXPR is a basic expression (\\| \\+ \\? \\( \\) \\{ \\} operators)",
                    [&c] { c.syntax = "basic"; }));
    parser.Add(Flag('P', "perl-regexp", "EXPR is in the normal, Perl-like syntax (the default)",
                    [&c] { c.syntax = "normal"; }));
    parser.Add(Flag('F', "fixed-strings", "EXPR is plain text (--syntax literal)", [&c] { c.syntax = "literal"; }));
    parser.Add(Valued(0, "syntax", "SYNTAX", "Expression syntax: normal (default), extended, basic, literal",
                      OneOf(c.syntax, {"normal", "extended", "basic", "literal"}, "")));
    parser.Add(Flag('i', "ignore-case", "Letters match regardless of case", [&c] { c.ignoreCase = true; }));
    parser.Add(Flag('y', "", "", [&c] { c.ignoreCase = true; }));
    parser.Add(Flag(0, "no-ignore-case", "Letters match in their own case (the default)",
                    [&c] { c.ignoreCase = false; }));
    if (grep) {
        parser.Add(Flag('w', "word-regexp", "Match whole words only", [&c] { c.wordRegexp = true; }));
        parser.Add(Flag('x', "line-regexp", "Match whole lines only", [&c] { c.lineRegexp = true; }));
        parser.Add(Flag('v', "invert-match", "Select the lines without a match", [&c] { c.invert = true; }));
    }
    parser.Add(Flag('U', "multiline",
                    "Matches may span lines (the whole file is one text); default: each line on its own",
                    [&c] { c.multiline = true; }));
    for (std::size_t i = 0; i < QuorvexCli::MatchFlags().size(); ++i) {
        const QuorvexCli::MatchFlag& flag = QuorvexCli::MatchFlags()[i];
        parser.Add(Flag(0, flag.name, flag.help, [&c, i] { c.matchFlags[i] = true; }));
    }

    parser.Group("Output");
    if (grep) {
        parser.Add(Valued('m', "max-count", "NUM", "Stop each file after NUM selected lines",
                          [&c](const std::string& v) {
                              return QuorvexCli::ParseCount(v, c.maxCount) ? std::string() : "invalid max count";
                          }));
        parser.Add(Flag('n', "line-number", "Print the line number of each line", [&c] { c.lineNumbers = true; }));
        parser.Add(Flag(0, "no-line-number", "Do not print line numbers", [&c] { c.lineNumbers = false; }));
        parser.Add(Flag('b', "byte-offset", "Print the byte offset of each line", [&c] { c.byteOffsets = true; }));
        parser.Add(Flag('o', "only-matching", "Print each match on a line of its own", [&c] { c.onlyMatching = true; }));
        parser.Add(Flag('T', "initial-tab", "Put a tab before the text of each line", [&c] { c.initialTab = true; }));
        parser.Add(Valued(0, "label", "NAME", "The name of standard input in the output",
                          [&c](const std::string& v) {
                              c.label = v;
                              return std::string();
                          }));
        parser.Add(Flag('Z', "null", "A NUL byte after each file name instead of ':' or a newline",
                        [&c] { c.nullAfterName = true; }));
        parser.Add(Flag('z', "null-data", "Lines end at NUL bytes, in the input and in the output",
                        [&c] { c.nullData = true; }));
        parser.Add(Flag(0, "line-buffered", "Write each output line at once, into a pipe too",
                        [&c] { c.lineBuffered = true; }));
        parser.Add(Flag('c', "count", "Print the number of selected lines of each file", [&c] { c.count = true; }));
        parser.Add(Flag('l', "files-with-matches", "Print only the names of files with a match", [&c] {
            c.filesWithMatches = true;
            c.filesWithoutMatch = false;
        }));
        parser.Add(Flag('L', "files-without-match", "Print only the names of files without a match", [&c] {
            c.filesWithoutMatch = true;
            c.filesWithMatches = false;
        }));
        parser.Add(Flag(0, "json", "One JSON object per line: begin, match, context, end, summary",
                        [&c] { c.json = true; }));
    } else {
        parser.Add(Valued('f', "format", "FORMAT", "The replacement (then every operand is a file)",
                          [&c](const std::string& v) {
                              c.formatOption = v;
                              c.haveFormatOption = true;
                              return std::string();
                          }));
        parser.Add(Flag(0, "conditional-format",
                        "FORMAT uses the conditional syntax: (?Nthen:else), parentheses group",
                        [&c] { c.conditionalFormat = true; }));
        parser.Add(Flag(0, "diff", "Print a unified diff of every change (for patch -p1 or git apply); change nothing",
                        [&c] { c.diff = true; }));
        parser.Add(Flag(0, "dry-run", "Show each replacement (file:line:old => new); change nothing",
                        [&c] { c.dryRun = true; }));
        parser.Add(Valued(0, "backup", "EXT", "Keep a copy of each changed file, named with .EXT appended",
                          [&c](const std::string& v) {
                              c.backup = v;
                              c.haveBackup = true;
                              return std::string();
                          }));
    }
    parser.Add(Flag('H', "with-filename", grep ? "Print the file name of each line" : "Print file names in the dry run",
                    [&c] {
                        c.withFileName = true;
                        c.noFileName = false;
                    }));
    parser.Add(Flag('h', "no-filename", "Never print file names", [&c] {
        c.noFileName = true;
        c.withFileName = false;
    }));
    OptionEntry colour;
    colour.longName = "color";
    colour.alias = "colour";
    colour.argument = Argument::Optional;
    colour.valueName = "WHEN";
    colour.help = "Highlight matches: auto (the default without WHEN: when output is a terminal), always, never";
    colour.apply = [&c](const std::string& v, bool given) {
        if (!given) {
            c.colour = "auto";
            return std::string();
        }
        // grep's synonyms: yes and force for always, no and none for never,
        // tty and if-tty for auto.
        if (v == "always" || v == "yes" || v == "force")
            c.colour = "always";
        else if (v == "never" || v == "no" || v == "none")
            c.colour = "never";
        else if (v == "auto" || v == "tty" || v == "if-tty")
            c.colour = "auto";
        else
            return "invalid argument '" + v + "' for '--color'";
        return std::string();
    };
    parser.Add(colour);
    OptionEntry quiet = Flag('q', "quiet", "Print nothing; the exit status tells", [&c] { c.quiet = true; });
    quiet.alias = "silent";
    parser.Add(quiet);
    parser.Add(Flag('s', "no-messages", "No messages about missing or unreadable files", [&c] { c.noMessages = true; }));

    if (grep) {
        parser.Group("Context");
        parser.Add(Valued('A', "after-context", "NUM", "Print NUM lines after each selected line",
                          ContextLength(c.afterContext)));
        parser.Add(Valued('B', "before-context", "NUM", "Print NUM lines before each selected line",
                          ContextLength(c.beforeContext)));
        parser.Add(Valued('C', "context", "NUM", "Print NUM lines before and after (also -NUM)",
                          ContextLength(c.bothContext)));
        parser.SetNumberOption(ContextLength(c.bothContext));
        parser.Add(Valued(0, "group-separator", "SEP", "Print SEP between groups of lines (default --)",
                          [&c](const std::string& v) {
                              c.groupSeparator = v;
                              c.noGroupSeparator = false;
                              return std::string();
                          }));
        parser.Add(Flag(0, "no-group-separator", "Print nothing between groups of lines",
                        [&c] { c.noGroupSeparator = true; }));
    }

    parser.Group("Files");
    parser.Add(Flag('r', "recursive", grep ? "Search directories and their sub-directories"
                                           : "Change files in sub-directories too",
                    [&c] {
                        c.recursive = true;
                        c.skipDirectories = false;
                    }));
    parser.Add(Flag('R', "dereference-recursive",
                    "As -r, and follow every symbolic link (-r follows none met inside the tree)", [&c] {
                        c.dereference = true;
                        c.skipDirectories = false;
                    }));
    parser.Add(Valued('d', "directories", "ACTION", "Directory operands: read (an error), skip, or recurse (as -r)",
                      [&c](const std::string& v) {
                          if (v == "read" || v == "skip") {
                              c.recursive = c.dereference = false;
                              c.skipDirectories = v == "skip";
                          } else if (v == "recurse") {
                              c.recursive = true;
                              c.skipDirectories = false;
                          } else {
                              return "invalid argument '" + v + "' for '--directories'";
                          }
                          return std::string();
                      }));
    parser.Add(Valued('D', "devices", "ACTION", "Pipes, devices and sockets named as operands: read or skip",
                      [&c](const std::string& v) {
                          if (v != "read" && v != "skip")
                              return "invalid argument '" + v + "' for '--devices'";
                          c.skipDevices = v == "skip";
                          return std::string();
                      }));
    const auto list = [](std::vector<std::string>& target) {
        return [&target](const std::string& v) {
            target.push_back(v);
            return std::string();
        };
    };
    parser.Add(Valued(0, "include", "GLOB", "Search only files whose name (or path, for operands) matches GLOB",
                      list(c.includes)));
    parser.Add(Valued(0, "exclude", "GLOB", "Skip files whose name (or path, for operands) matches GLOB",
                      list(c.excludes)));
    parser.Add(Valued(0, "exclude-from", "FILE", "Skip files matching any glob of FILE, one per line",
                      [&c](const std::string& v) { return ReadGlobFile(v, c.excludes); }));
    parser.Add(Valued(0, "exclude-dir", "GLOB", "Skip directories whose name matches GLOB", list(c.excludeDirs)));
    if (grep)
        parser.Add(Valued('j', "threads", "NUM",
                          "Search NUM files of a walk at once (default: one per core; 1: one after the other)",
                          [&c](const std::string& v) {
                              long long n = 0;
                              if (!QuorvexCli::ParseCount(v, n) || n > 1024)
                                  return std::string("invalid number of threads");
                              c.threads = static_cast<unsigned>(n);
                              return std::string();
                          }));
    parser.Add(Flag('a', "text", "Treat binary files as text", [&c] { c.binaryFiles = "text"; }));
    parser.Add(Flag('I', "", "Skip binary files (--binary-files=without-match)",
                    [&c] { c.binaryFiles = "without-match"; }));
    parser.Add(Valued(0, "binary-files", "TYPE",
                      "binary (default: report the match), text (as -a) or without-match (as -I)",
                      OneOf(c.binaryFiles, {"binary", "text", "without-match"}, "unknown binary-files type")));

    parser.Group("Settings");
    parser.Add(Valued(0, "settings", "FILE", "Load the settings (expression, options, format...) saved in FILE",
                      [&c](const std::string& v) {
                          c.settingsFile = v;
                          return std::string();
                      }));
    parser.Add(Valued(0, "save-settings", "FILE", "Save the settings of this command in FILE",
                      [&c](const std::string& v) {
                          c.saveSettingsFile = v;
                          return std::string();
                      }));
    parser.Group("Miscellaneous");
    parser.Add(Flag('V', "version", "Print the version and exit", [&state] { state.version = true; }));
    parser.Add(Flag(0, "help", "Print this help and exit", [&state] { state.help = true; }));
}

// grep and replace: parsed as grep parses its command line. Returns -1 to go
// on, or the exit status.
int ParseFileCommand(int argc, char** argv, Command& command)
{
    const bool grep = std::strcmp(argv[1], "grep") == 0;
    command.verb = grep ? Verb::Grep : Verb::Replace;
    const std::string usage = grep ? "[OPTION]... EXPR [FILE]..." : "[OPTION]... EXPR FORMAT FILE...";
    QuorvexCli::OptionParser parser(std::string("quorvex ") + argv[1], usage);
    FileParse state;
    AddFileOptions(parser, command, state, grep);
    std::vector<std::string> args(argv + 2, argv + argc);
    std::vector<std::string> positionals;
    const std::string error = parser.Parse(args, positionals);
    if (!error.empty()) {
        QuorvexCli::Diagnose(error);
        if (!parser.ValueError()) {
            std::fprintf(stderr, "Usage: quorvex %s %s\nTry 'quorvex %s --help' for more information.\n", argv[1],
                         usage.c_str(), argv[1]);
        }
        return QuorvexCli::kError;
    }
    if (state.help) {
        const std::string text = grep
            ? parser.Help("Print the lines of FILES that match: file:line:text of the line.\n"
                          "Without FILES, standard input (with -r, the current directory).",
                          "\nExample: quorvex grep -rn 'TODO|FIXME' src" + std::string(kTopFooter))
            : parser.Help("Replace every match in FILES by FORMAT, in place. FORMAT: $1..$9 or ${10} "
                          "sub-expressions (\\1..\\9 too), $& the match, \\n \\t; empty deletes.",
                          "\nExample: quorvex replace -r --backup orig 'colou?r' 'hue' docs\n"
                          "Problems are printed on standard error as: file: Reason at byte N: system error." +
                              std::string(kTopFooter));
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    if (state.version) {
        std::printf("quorvex %s\n", QUORVEX_VERSION);
        return 0;
    }
    // As the CLI11 positionals: EXPR, FORMAT (replace), then FILES; Assign()
    // makes operands of them when -e, --format or --settings provide those.
    std::size_t next = 0;
    if (next < positionals.size()) {
        command.firstPositional = positionals[next++];
        command.haveFirstPositional = true;
    }
    if (!grep && next < positionals.size()) {
        command.secondPositional = positionals[next++];
        command.haveSecondPositional = true;
    }
    command.operands.assign(positionals.begin() + static_cast<std::ptrdiff_t>(next), positionals.end());
    command.haveExpressionOption = state.regexpGiven || !command.patternFiles.empty();
    return -1;
}

// The text subcommands (and the tool's own --help and --version), parsed
// with CLI11. Returns -1 to go on, or the exit status.
int ParseTextCommand(int argc, char** argv, Command& command)
{
    CLI::App app("Search, grep and replace with regular expressions, in files and in text.", "quorvex");
    app.set_version_flag("-V,--version", "quorvex " QUORVEX_VERSION);
    app.require_subcommand(1);
    app.footer(kTopFooter);
    app.get_formatter()->column_width(34);
    bool fixed = false;

    // grep and replace are parsed before CLI11 (see ParseFileCommand); they
    // are listed here for the help.
    app.add_subcommand("grep", "Print the lines of FILES that match: file:line:text of the line");
    app.add_subcommand("replace", "Replace every match in FILES by FORMAT, in place");

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
    std::vector<std::pair<CLI::App*, Verb>> verbs;
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
    merge->add_flag("--line-buffered", command.lineBuffered, "Write each output line at once, into a pipe too");
    merge->add_flag("-z,--null-data", command.nullData, "Lines of standard input end at NUL bytes, in the output too");
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
    command.haveSecondPositional = command.verb == Verb::Merge && chosen->count("FORMAT") > 0;
    command.haveExpressionOption = chosen->count("--regexp") > 0;
    command.haveFormatOption = chosen->get_option_no_throw("--format") != nullptr && chosen->count("--format") > 0;
    if (fixed && command.syntax.empty())
        command.syntax = "literal";
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    Command command;

    static const char* const kSubcommands[] = {"grep", "replace", "search", "match", "match-all", "grep-text",
                                               "merge"};
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const char* name : kSubcommands)
            known = known || std::strcmp(argv[1], name) == 0;
        if (!known) {
            QuorvexCli::Diagnose(std::string("unknown subcommand '") + argv[1] + "'");
            QuorvexCli::Diagnose("run 'quorvex --help' for the subcommands");
            return QuorvexCli::kError;
        }
    }
    const bool fileCommand = argc > 1 && (std::strcmp(argv[1], "grep") == 0 || std::strcmp(argv[1], "replace") == 0);
    if (fileCommand) {
        const int status = ParseFileCommand(argc, argv, command);
        if (status >= 0)
            return status;
    } else {
        const int status = ParseTextCommand(argc, argv, command);
        if (status >= 0)
            return status;
    }

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
