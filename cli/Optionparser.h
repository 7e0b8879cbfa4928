// A command-line parser that reads options as GNU getopt_long does, for the
// grep and replace subcommands whose users type grep's switches: options and
// operands in any order ("--" ends the options), short options bundled
// ("-rn", "-A2", "-e PAT"), long options with "=VALUE" or a separate value,
// any unique prefix of a long option ("--ignore" for "--ignore-case"), an
// optional value only after "=", a repeated option applied again (the last
// value wins), and "-NUM" as a context length.
#ifndef QUORVEX_CLI_OPTIONPARSER_H
#define QUORVEX_CLI_OPTIONPARSER_H

#include <functional>
#include <string>
#include <vector>

namespace QuorvexCli {

enum class Argument { None, Required, Optional };

struct OptionEntry {
    char shortName = 0;           // 0: long only
    std::string longName;         // empty: short only
    std::string alias;            // another long name of the same option (--colour, --silent)
    Argument argument = Argument::None;
    std::string valueName;        // for the help: FILE, NUM, WHEN...
    std::string help;             // empty: accepted, not listed
    // Applies one use of the option; `given` tells whether a value came
    // (only false for an optional one). Returns an error text, or empty.
    std::function<std::string(const std::string& value, bool given)> apply;
};

class OptionParser {
public:
    OptionParser(std::string program, std::string usage) : program_(std::move(program)), usage_(std::move(usage)) {}

    void Add(OptionEntry entry) { entries_.push_back(std::move(entry)); }
    // A heading in the help between groups of options.
    void Group(const std::string& title);
    // Called for -NUM with the number as written.
    void SetNumberOption(std::function<std::string(const std::string&)> apply) { number_ = std::move(apply); }

    // Parses `args` (the program and subcommand names left out). Returns an
    // error text ("unrecognized option '--foo'") or empty; the operands in
    // their order go to `operands`.
    std::string Parse(const std::vector<std::string>& args, std::vector<std::string>& operands);

    // The help text: usage, then every listed option.
    std::string Help(const std::string& description, const std::string& footer) const;
    const std::string& Usage() const { return usage_; }
    // Whether the last error came from an option's value ("invalid context
    // length argument"), not from the command line's form.
    bool ValueError() const { return valueError_; }

private:
    std::string Long(const std::string& word, const std::vector<std::string>& args, std::size_t& i);
    std::string Short(const std::string& word, const std::vector<std::string>& args, std::size_t& i);
    std::string Apply(const OptionEntry& entry, const std::string& value, bool given);

    std::string program_;
    std::string usage_;
    std::vector<OptionEntry> entries_;
    std::vector<std::pair<std::size_t, std::string>> groups_;  // before entry N
    std::function<std::string(const std::string&)> number_;
    bool valueError_ = false;
};

// Reads a count as grep does: a decimal number of digits only (a leading '+'
// is accepted); values beyond the range of long long are taken as its
// maximum. False when `text` is not such a number.
bool ParseCount(const std::string& text, long long& value);

}  // namespace QuorvexCli

#endif
