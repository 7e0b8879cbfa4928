// The values of one command line, as parsed, and the steps shared by every
// subcommand: preparing the RegularExpression from them, checking the
// expression, and the exit codes.
#ifndef QUORVEX_CLI_COMMAND_H
#define QUORVEX_CLI_COMMAND_H

#include <string>
#include <vector>

#include "Regularexpressionclass.h"

namespace QuorvexCli {

// Exit codes, as grep uses them.
enum ExitCode { kFound = 0, kNothing = 1, kError = 2 };

// One match option that has a long option name of its own.
struct MatchFlag {
    const char* name;  // long option name without the dashes
    RegexClass::RegularExpression::Matches option;
    const char* help;
};
// All of them, in the order of their numeric values.
const std::vector<MatchFlag>& MatchFlags();

enum class Verb { Grep, Replace, Search, Match, MatchAll, GrepText, Merge };

struct Command {
    Verb verb = Verb::Search;

    // Positionals as given; `expression` and `format` may be taken from
    // the settings file or the -e / --format options instead (see Assign()).
    std::string firstPositional;   // EXPR
    bool haveFirstPositional = false;
    std::string secondPositional;  // FORMAT of replace and merge
    bool haveSecondPositional = false;
    std::vector<std::string> operands;  // FILES, or the TEXT of a string command

    std::vector<std::string> expressionOptions;  // -e, repeatable: any of them matches
    std::vector<std::string> patternFiles;       // -f of grep: one expression per line
    bool haveExpressionOption = false;           // -e or -f given
    std::string formatOption;      // --format
    bool haveFormatOption = false;

    // Shared by all subcommands.
    bool ignoreCase = false;
    std::string syntax;  // normal, extended, basic, literal; empty: unchanged
    std::vector<bool> matchFlags = std::vector<bool>(MatchFlags().size(), false);
    std::string settingsFile;
    std::string saveSettingsFile;
    std::string colour = "auto";
    bool quiet = false;
    bool noUnicode = false;  // --no-unicode: bytes even in a UTF-8 locale

    // Grep family.
    bool recursive = false;
    bool dereference = false;  // -R: follow every symbolic link
    bool invert = false;       // -v
    bool wordRegexp = false;   // -w
    bool lineRegexp = false;   // -x
    bool onlyMatching = false; // -o
    bool filesWithoutMatch = false;  // -L
    long long afterContext = -1;     // -A; -1: not given
    long long beforeContext = -1;    // -B
    long long bothContext = -1;      // -C
    bool noMessages = false;   // -s
    bool initialTab = false;   // -T: a tab before the line, fields padded
    bool skipDirectories = false;  // -d skip: directory operands are left out
    bool skipDevices = false;      // -D skip: pipes, devices and sockets are left out
    std::string groupSeparator = "--";  // between context groups
    bool noGroupSeparator = false;
    bool nullAfterName = false;  // -Z
    std::vector<std::string> includes, excludes, excludeDirs;
    std::string label = "(standard input)";
    bool text = false;         // -a
    std::string binaryFiles = "binary";  // binary, text, without-match
    bool json = false;
    bool multiline = false;    // -U
    bool nullData = false;     // -z: lines end at NUL
    bool lineBuffered = false; // --line-buffered
    bool lineNumbers = false;
    bool byteOffsets = false;
    bool withFileName = false;
    bool noFileName = false;
    bool count = false;
    bool filesWithMatches = false;
    long long maxCount = -1;  // -1: no limit
    unsigned threads = 0;     // -j: files of a walk searched at once; 0: one per core

    // replace.
    std::string backup;
    bool haveBackup = false;
    bool conditionalFormat = false;  // --conditional-format: ?N, (...) and : are operators of FORMAT
    bool dryRun = false;
    bool diff = false;

    // merge.
    bool copy = false;

    // After Assign(): the expression and format to use, and the operands
    // that remain (FILES or TEXT).
    std::string expression;
    std::string format;
};

// Decides where the expression and the format come from, and which
// positionals are operands: -e and --format win; with --settings the file
// provides them and every positional is an operand; otherwise EXPR (and
// FORMAT) are the first positionals. Returns an error text, or empty.
std::string Assign(Command& command, const RegexClass::RegularExpression& loaded);

// Loads the settings file (when given) and applies the command line on top.
// Returns false after printing a diagnostic.
bool Configure(Command& command, RegexClass::RegularExpression& object);

// Writes the object's settings when --save-settings was given.
bool SaveSettings(const Command& command, const RegexClass::RegularExpression& object);

// Compiles the object's expression; prints "bad expression: ..." and returns
// false when it does not compile.
bool CheckExpression(RegexClass::RegularExpression& object);

// The file operations search with the engine's normal syntax and only the
// case option. Makes the object agree with that: literal text becomes an
// escaped expression; the basic and extended syntaxes are refused.
bool PrepareForFiles(RegexClass::RegularExpression& object, const char* verb);

// The expression text that matches `text` literally in the normal syntax.
std::string EscapeLiteral(const std::string& text);

// One expression from several (any of them matches), each literal text when
// `literal`, wrapped for whole words (-w) or whole lines (-x).
std::string CombineExpressions(const std::vector<std::string>& expressions, bool literal, bool word, bool line);

// The library's format (its conditional syntax) for a FORMAT in Perl's
// replacement syntax: $1, ${10}, $&, \n, \t and \1..\9 (as $1..$9) refer
// and escape as in Perl; ( ) ? : and a '$' that starts no reference ("$ 5")
// are plain text.
std::string PerlFormat(const std::string& format);

// A format that expands to nothing, used for an empty FORMAT (delete the
// matches), which the library would otherwise refuse.
std::string DeletingFormat();

// True when colour is to be used on standard output.
bool WantColour(const Command& command);

// Subcommands.
int RunGrep(Command& command, RegexClass::RegularExpression& object);
int RunReplace(Command& command, RegexClass::RegularExpression& object);
int RunString(Command& command, RegexClass::RegularExpression& object);
int RunGrepText(Command& command, RegexClass::RegularExpression& object, bool standardInput);
int RunMerge(Command& command, RegexClass::RegularExpression& object);

// Why a file was skipped, from the platform's error code ("Permission
// denied"; "out of memory" for a file too large for memory).
std::string SkipReason(unsigned systemError);

// Reads all of standard input. Returns false on a read error.
bool ReadStandardInput(std::string& text);
// Reads all of the pipe or device `path` (read as a stream, not walked).
// Returns false, after saying why unless `quiet`, when it cannot be read.
bool ReadStream(const std::string& path, std::string& text, bool quiet);

}  // namespace QuorvexCli

#endif
