// The steps every subcommand shares: where the expression comes from, the
// settings file, the options applied to the object, the expression check.
#include "Command.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "Output.h"
#include "Platform.h"
#include "Posixsyntax.h"

namespace QuorvexCli {

using RegexClass::RegularExpression;

const std::vector<MatchFlag>& MatchFlags()
{
    static const std::vector<MatchFlag> flags = {
        {"not-beginning-of-line", RegularExpression::MatchNotBeginningOfLine,
         "^ does not match at the start of the text"},
        {"not-end-of-line", RegularExpression::MatchNotEndOfLine, "$ does not match at the end of the text"},
        {"not-beginning-of-buffer", RegularExpression::MatchNotBeginningOfBuffer,
         "\\` does not match at the start of the text"},
        {"not-end-of-buffer", RegularExpression::MatchNotEndOfBuffer, "\\' does not match at the end of the text"},
        {"not-beginning-of-word", RegularExpression::MatchNotBeginningOfWord,
         "the start of the text is not the start of a word"},
        {"not-end-of-word", RegularExpression::MatchNotEndOfWord, "the end of the text is not the end of a word"},
        {"dot-not-newline", RegularExpression::MatchNotDotNewline, ". does not match a newline"},
        {"dot-not-null", RegularExpression::MatchNotDotNullCharacter, ". does not match a NUL byte"},
        {"shortest", RegularExpression::MatchShortest, "accept the first match found, not the longest"},
        {"not-empty", RegularExpression::MatchNotNullString, "never accept an empty match"},
        {"continuous", RegularExpression::MatchContinuous, "a match must start where the search starts"},
    };
    return flags;
}

namespace {

bool TakesFormat(Verb verb)
{
    return verb == Verb::Replace || verb == Verb::Merge;
}

bool IsFileVerb(Verb verb)
{
    return verb == Verb::Grep || verb == Verb::Replace;
}

}  // namespace

std::string Assign(Command& command, const RegularExpression& loaded)
{
    std::vector<std::string> all;
    if (command.haveFirstPositional)
        all.push_back(command.firstPositional);
    if (command.haveSecondPositional)
        all.push_back(command.secondPositional);
    all.insert(all.end(), command.operands.begin(), command.operands.end());

    const bool fromSettings = !command.settingsFile.empty();
    std::size_t next = 0;
    if (command.haveExpressionOption) {
        command.expression.clear();  // made of expressionOptions by Configure()
    } else if (fromSettings) {
        command.expression = loaded.GetExpression();
    } else {
        if (next == all.size())
            return "missing EXPR";
        command.expression = all[next++];
    }
    if (TakesFormat(command.verb)) {
        if (command.haveFormatOption) {
            command.format = command.formatOption;
        } else if (fromSettings) {
            command.format = loaded.GetFormatString();
        } else {
            if (next == all.size())
                return "missing FORMAT";
            command.format = all[next++];
        }
    }
    command.operands.assign(all.begin() + static_cast<std::ptrdiff_t>(next), all.end());
    if (!IsFileVerb(command.verb) && command.operands.size() > 1)
        return "too many arguments: the text is one argument (quote it)";
    return std::string();
}

namespace {

// Appends the lines of a pattern file (-f) to `patterns`; a final line feed
// ends the last line, it does not start an empty one.
bool ReadPatternFile(const std::string& name, std::vector<std::string>& patterns)
{
    if (name == "-") {  // standard input
        std::string text;
        if (!ReadStandardInput(text))
            return false;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (!text.empty())
            patterns.push_back(text);  // split at its line feeds by Configure()
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        Diagnose(name + ": " + std::strerror(errno));
        return false;
    }
    std::string line;
    while (std::getline(in, line))
        patterns.push_back(line);
    if (in.bad()) {
        Diagnose(name + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

std::string CombineExpressions(const std::vector<std::string>& expressions, bool literal, bool word, bool line)
{
    std::string combined;
    if (expressions.empty())
        combined = "(?!)";  // no expression: nothing matches
    // Each expression keeps its own back-reference numbers: those of the
    // later ones are moved past the groups of the earlier ones.
    unsigned groups = 0;
    for (std::size_t i = 0; i < expressions.size(); ++i) {
        std::string one = literal ? EscapeLiteral(expressions[i]) : ShiftBackReferences(expressions[i], groups);
        if (!literal)
            groups += CountGroups(expressions[i]);
        if (expressions.size() == 1 && !word && !line) {
            combined = one;
            break;
        }
        combined += (i == 0 ? "(?:" : "|(?:") + one + ")";
    }
    if (line)
        return "^(?:" + combined + ")$";
    if (word)
        return "(?<!\\w)(?:" + combined + ")(?!\\w)";
    return combined;
}

// Whether the locale's character set is UTF-8: the first of LC_ALL,
// LC_CTYPE and LANG that is set and not empty names it (language_TERRITORY.
// charset@modifier); with none set, the system's own setting decides (on
// Windows a UTF-8 console or ANSI code page, elsewhere the C locale).
static bool LocaleIsUtf8()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0')
            continue;
        std::string locale(value);
        const std::size_t dot = locale.find('.');
        if (dot == std::string::npos)
            return false;
        std::string charset = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
        for (char& c : charset)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return charset == "utf-8" || charset == "utf8";
    }
    return RegexPlatform::SystemTextIsUtf8();
}

bool Configure(Command& command, RegularExpression& object)
{
    // Text is UTF-8 in a UTF-8 locale, where the library can read it so. The
    // expressions, the format and the text typed on the command line are
    // made UTF-8 too (on Windows they come in the ANSI code page); file names
    // stay as the system gave them.
    const bool unicode = !command.noUnicode && LocaleIsUtf8() && RegularExpression::IsUnicodeAvailable();
    if (unicode)
        for (std::string& expression : command.expressionOptions)
            expression = RegexPlatform::CommandLineTextToUtf8(expression);
    for (const std::string& file : command.patternFiles)
        if (!ReadPatternFile(file, command.expressionOptions))
            return false;
    if (!command.settingsFile.empty()) {
        std::ifstream in(command.settingsFile, std::ios::binary);
        if (!in) {
            Diagnose(command.settingsFile + ": " + std::strerror(errno));
            return false;
        }
        in >> object;
        if (in.fail()) {
            Diagnose(command.settingsFile + ": not a settings file, or a truncated one");
            return false;
        }
    }
    std::string error = Assign(command, object);
    if (!error.empty()) {
        Diagnose(error);
        return false;
    }
    if (unicode) {
        const bool typed = command.settingsFile.empty();
        if (typed && !command.haveExpressionOption)
            command.expression = RegexPlatform::CommandLineTextToUtf8(command.expression);
        if (typed || command.haveFormatOption)
            command.format = RegexPlatform::CommandLineTextToUtf8(command.format);
        if (!IsFileVerb(command.verb))
            for (std::string& text : command.operands)
                text = RegexPlatform::CommandLineTextToUtf8(text);
    }

    // Several expressions, whole words or whole lines need the normal syntax:
    // literal text is escaped into it.
    const bool literal = command.syntax == "literal" ||
                         (command.syntax.empty() && object.IsExpressionOption(RegularExpression::Literals));
    // grep's basic and extended syntaxes are written in the normal one for
    // the file operations, which search with it only.
    const bool posix = IsFileVerb(command.verb) && (command.syntax == "basic" || command.syntax == "extended");
    // A line feed separates expressions in grep, as -e "$(cat list)" has it.
    const bool split = command.verb == Verb::Grep &&
                       (command.haveExpressionOption || command.expression.find('\n') != std::string::npos);
    // The file operations take grep -P's dialect in the normal syntax: each
    // expression is rewritten on its own (its group numbers are its own).
    const bool perl = IsFileVerb(command.verb) && !literal && !posix &&
                      (command.syntax == "normal" ||
                       (command.syntax.empty() && object.IsExpressionOption(RegularExpression::Normal)));
    if (command.haveExpressionOption || command.wordRegexp || command.lineRegexp || posix || split || perl) {
        std::vector<std::string> expressions = command.expressionOptions;
        if (!command.haveExpressionOption)
            expressions.assign(1, command.expression);
        if (command.verb == Verb::Grep)
            expressions = SplitLines(expressions);
        if (posix) {
            for (std::string& expression : expressions)
                expression = PosixToNormal(expression, command.syntax == "extended");
            command.syntax = "normal";
        }
        for (std::string& expression : expressions) {
            std::string error;
            if (perl && !RegularExpression::TranslatePerlDialect(expression, expression, error, unicode)) {
                Diagnose("bad expression: " + error);
                return false;
            }
        }
        const bool single = expressions.size() == 1 && !command.wordRegexp && !command.lineRegexp;
        if (!single) {
            if (command.syntax == "basic" || command.syntax == "extended") {
                Diagnose("several expressions, -w and -x need the normal or literal syntax");
                return false;
            }
            command.expression = CombineExpressions(expressions, literal, command.wordRegexp, command.lineRegexp);
            if (literal)
                command.syntax = "normal";
        } else {
            command.expression = expressions.front();
        }
    }
    // An empty expression selects every line, as in grep (the library
    // refuses an empty expression).
    if (command.verb == Verb::Grep && command.expression.empty())
        command.expression = literal ? std::string() : "(?:)";
    if (command.verb == Verb::Grep && command.expression.empty() && literal) {
        command.expression = "(?:)";
        command.syntax = "normal";
    }
    object.SetExpression(command.expression);
    if (!command.syntax.empty()) {
        const bool icase = object.IsExpressionOption(RegularExpression::CaseInsensitive);
        object.ClearExpressionOptions();
        if (command.syntax == "normal")
            object.AddExpressionOption(RegularExpression::Normal);
        else if (command.syntax == "extended")
            object.AddExpressionOption(RegularExpression::Extended);
        else if (command.syntax == "basic")
            object.AddExpressionOption(RegularExpression::Basic);
        else
            object.AddExpressionOption(RegularExpression::Literals);
        if (icase)
            object.AddExpressionOption(RegularExpression::CaseInsensitive);
    }
    if (command.ignoreCase)
        object.AddExpressionOption(RegularExpression::CaseInsensitive);
    object.SetUnicode(unicode);
    for (std::size_t i = 0; i < MatchFlags().size(); ++i)
        if (command.matchFlags[i])
            object.AddMatchOption(MatchFlags()[i].option);

    switch (command.verb) {
    case Verb::Grep:
    case Verb::Replace:
        // A loaded file pattern serves when no FILES are given; the
        // one FILES operand given is what a saved settings file keeps.
        if (command.operands.empty() && !object.GetFilesToMatch().empty())
            command.operands.push_back(object.GetFilesToMatch());
        object.SetFilesToMatch(command.operands.size() == 1 ? command.operands.front() : std::string());
        command.recursive = command.recursive || object.GetDirectoryRecursion();
        object.SetDirectoryRecursion(command.recursive);
        if (command.verb == Verb::Replace) {
            // A FORMAT typed on this command line is in the replacement
            // syntax of Perl (or sed's \1); one from a settings file is kept
            // as it was saved.
            const bool typed = command.haveFormatOption || command.haveSecondPositional;
            object.SetFormatString(typed && !command.conditionalFormat ? PerlFormat(command.format) : command.format);
            if (command.haveBackup)
                object.SetSaveExtension(command.backup);
            object.SetBackupAppendsExtension(true);  // a.txt -> a.txt.bak, as sed -i.bak
        }
        break;
    case Verb::Merge:
        object.SetFormatString(command.format);
        object.SetMergeCopy(object.GetMergeCopy() || command.copy);
        if (!command.operands.empty())
            object.SetStringToMatch(command.operands.front());
        break;
    default:
        if (command.haveFormatOption)
            object.SetFormatString(command.formatOption);
        if (!command.operands.empty())
            object.SetStringToMatch(command.operands.front());
        break;
    }
    return true;
}

bool SaveSettings(const Command& command, const RegularExpression& object)
{
    if (command.saveSettingsFile.empty())
        return true;
    std::ofstream out(command.saveSettingsFile, std::ios::binary | std::ios::trunc);
    if (out)
        out << object;
    if (out)
        out.close();
    if (!out) {
        Diagnose(command.saveSettingsFile + ": cannot write the settings: " + std::strerror(errno));
        return false;
    }
    return true;
}

bool CheckExpression(RegularExpression& object)
{
    unsigned char code = object.ParseExpression();
    if (code == 0)
        return true;
    if (object.GetExpression().empty()) {
        Diagnose("empty expression");
    } else {
        std::string message = object.GetExpressionError();
        if (message.empty())
            message = "error code " + std::to_string(code);
        Diagnose("bad expression: " + message);
    }
    return false;
}

std::string EscapeLiteral(const std::string& text)
{
    static const char kSpecial[] = "\\^$.|?*+()[]{}";
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        if (c != '\0' && std::strchr(kSpecial, c) != nullptr)
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

bool PrepareForFiles(RegularExpression& object, const char* verb)
{
    const bool icase = object.IsExpressionOption(RegularExpression::CaseInsensitive);
    if (object.IsExpressionOption(RegularExpression::Literals)) {
        std::string expression = EscapeLiteral(object.GetExpression());
        object.ClearExpressionOptions();
        object.AddExpressionOption(RegularExpression::Normal);
        if (icase)
            object.AddExpressionOption(RegularExpression::CaseInsensitive);
        object.SetExpression(expression);
        return true;
    }
    if (object.IsExpressionOption(RegularExpression::Normal))
        return true;
    const char* name = object.IsExpressionOption(RegularExpression::Basic)      ? "basic"
                       : object.IsExpressionOption(RegularExpression::Extended) ? "extended"
                                                                                 : "other than normal";
    Diagnose(std::string(verb) + ": files are searched with the normal syntax only; the syntax " + name +
             " works with the text commands");
    return false;
}

std::string PerlFormat(const std::string& format)
{
    std::string out;
    out.reserve(format.size() + 8);
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '\\' && next >= '1' && next <= '9') {
            out += "${";  // sed's \1 is $1
            out += next;
            out += '}';
            ++i;
        } else if (c == '\\' && next != '\0') {
            out += c;
            out += next;
            ++i;
        } else if (c == '$' && next == '{') {
            const std::size_t close = format.find('}', i + 2);
            if (close == std::string::npos) {
                out += "\\$";
            } else {
                out += format.substr(i, close + 1 - i);
                i = close;
            }
        } else if (c == '$' && ((next >= '0' && next <= '9') || std::strchr("&`'$+^", next) != nullptr) &&
                   next != '\0') {
            out += c;  // $N, $&, $`, $', $$, $+, $^N: the reference itself
        } else if (c == '$' || c == '(' || c == ')' || c == '?' || c == ':' || c == '\\') {
            out += '\\';  // literal: "$ 5", a trailing backslash, the conditional operators
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DeletingFormat()
{
    // Parentheses group in a format and print nothing themselves.
    return "()";
}

bool WantColour(const Command& command)
{
    if (command.colour == "always")
        return true;
    if (command.colour == "never")
        return false;
    return IsColourTerminal(1);
}

std::string SkipReason(unsigned systemError)
{
    if (systemError == static_cast<unsigned>(std::errc::not_enough_memory))
        return "out of memory";
    return RegularExpression::SystemErrorText(systemError);
}

namespace {

// Reads `stream` to its end; false (after saying why unless `quiet`) on a
// read error.
bool ReadAll(std::FILE* stream, const std::string& name, std::string& text, bool quiet)
{
    text.clear();
    char block[1 << 16];
    for (;;) {
        std::size_t n = std::fread(block, 1, sizeof block, stream);
        text.append(block, n);
        if (n < sizeof block) {
            if (std::ferror(stream)) {
                if (!quiet)
                    Diagnose(name + ": " + std::strerror(errno));
                return false;
            }
            return true;
        }
    }
}

}  // namespace

bool ReadStandardInput(std::string& text)
{
    return ReadAll(stdin, "standard input", text, false);
}

bool ReadStream(const std::string& path, std::string& text, bool quiet)
{
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        if (!quiet)
            Diagnose(path + ": " + std::strerror(errno));
        return false;
    }
    const bool read = ReadAll(stream, path, text, quiet);
    std::fclose(stream);
    return read;
}

}  // namespace QuorvexCli
