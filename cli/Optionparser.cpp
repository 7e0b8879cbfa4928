// The getopt_long-compatible parser of grep and replace (see Optionparser.h).
#include "Optionparser.h"

#include <cctype>
#include <climits>

namespace QuorvexCli {

void OptionParser::Group(const std::string& title)
{
    groups_.emplace_back(specs_.size(), title);
}

std::string OptionParser::Apply(const OptionSpec& spec, const std::string& value, bool given)
{
    std::string error = spec.apply(value, given);
    valueError_ = !error.empty();
    return error;
}

std::string OptionParser::Long(const std::string& word, const std::vector<std::string>& args, std::size_t& i)
{
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    // An exact name wins; otherwise a prefix must name one option (several
    // names for the same option, such as --color and --colour, count once).
    const OptionSpec* found = nullptr;
    std::vector<const OptionSpec*> candidates;
    std::vector<std::string> names;
    for (const OptionSpec& spec : specs_) {
        for (const std::string* longName : {&spec.longName, &spec.alias}) {
            if (longName->empty())
                continue;
            if (*longName == name)
                found = &spec;
            else if (longName->compare(0, name.size(), name) == 0) {
                names.push_back(*longName);
                if (candidates.empty() || candidates.back() != &spec)
                    candidates.push_back(&spec);
            }
        }
        if (found != nullptr)
            break;
    }
    if (found == nullptr) {
        if (candidates.empty())
            return "unrecognized option '--" + name + "'";
        if (candidates.size() > 1) {
            std::string text = "option '--" + name + "' is ambiguous; possibilities:";
            for (const std::string& candidate : names)
                text += " '--" + candidate + "'";
            return text;
        }
        found = candidates.front();
    }
    if (equals != std::string::npos) {
        if (found->argument == Argument::None)
            return "option '--" + found->longName + "' doesn't allow an argument";
        return Apply(*found, word.substr(equals + 1), true);
    }
    if (found->argument == Argument::Required) {
        if (i + 1 >= args.size())
            return "option '--" + found->longName + "' requires an argument";
        return Apply(*found, args[++i], true);
    }
    return Apply(*found, std::string(), false);
}

std::string OptionParser::Short(const std::string& word, const std::vector<std::string>& args, std::size_t& i)
{
    for (std::size_t k = 1; k < word.size(); ++k) {
        const char c = word[k];
        if (number_ && std::isdigit(static_cast<unsigned char>(c))) {
            // -NUM: the digits written together form one number.
            std::size_t end = k;
            while (end < word.size() && std::isdigit(static_cast<unsigned char>(word[end])))
                ++end;
            const std::string error = number_(word.substr(k, end - k));
            if (!error.empty()) {
                valueError_ = true;
                return error;
            }
            k = end - 1;
            continue;
        }
        const OptionSpec* found = nullptr;
        for (const OptionSpec& spec : specs_)
            if (spec.shortName == c && c != 0) {
                found = &spec;
                break;
            }
        if (found == nullptr)
            return std::string("invalid option -- '") + c + "'";
        if (found->argument == Argument::None) {
            const std::string error = Apply(*found, std::string(), false);
            if (!error.empty())
                return error;
            continue;
        }
        // The rest of the word is the value, or else the next argument.
        if (k + 1 < word.size())
            return Apply(*found, word.substr(k + 1), true);
        if (found->argument == Argument::Optional)
            return Apply(*found, std::string(), false);
        if (i + 1 >= args.size())
            return std::string("option requires an argument -- '") + c + "'";
        return Apply(*found, args[++i], true);
    }
    return std::string();
}

std::string OptionParser::Parse(const std::vector<std::string>& args, std::vector<std::string>& operands)
{
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        std::string error;
        if (!options || word.size() < 2 || word[0] != '-') {
            operands.push_back(word);  // "-" too: standard input
        } else if (word == "--") {
            options = false;
        } else if (word[1] == '-') {
            error = Long(word, args, i);
        } else {
            error = Short(word, args, i);
        }
        if (!error.empty())
            return error;
    }
    return std::string();
}

std::string OptionParser::Help(const std::string& description, const std::string& footer) const
{
    std::string text = "Usage: " + program_ + " " + usage_ + "\n" + description + "\n";
    std::size_t group = 0;
    for (std::size_t n = 0; n < specs_.size(); ++n) {
        while (group < groups_.size() && groups_[group].first == n)
            text += "\n" + groups_[group++].second + ":\n";
        const OptionSpec& spec = specs_[n];
        if (spec.help.empty())
            continue;
        std::string left = spec.shortName != 0 ? std::string("  -") + spec.shortName : std::string("    ");
        if (!spec.longName.empty()) {
            left += spec.shortName != 0 ? ", --" : "  --";
            left += spec.longName;
            if (spec.argument == Argument::Required)
                left += "=" + spec.valueName;
            else if (spec.argument == Argument::Optional)
                left += "[=" + spec.valueName + "]";
        } else if (spec.argument != Argument::None) {
            left += " " + spec.valueName;
        }
        if (left.size() < 29)
            left.resize(30, ' ');
        else
            left += "\n" + std::string(30, ' ');
        text += left + spec.help + "\n";
    }
    return text + footer + "\n";
}

bool ParseCount(const std::string& text, long long& value)
{
    std::size_t k = 0;
    if (k < text.size() && text[k] == '+')
        ++k;
    if (k == text.size())
        return false;
    value = 0;
    for (; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k])))
            return false;
        const int digit = text[k] - '0';
        value = value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : value * 10 + digit;
    }
    return true;
}

}  // namespace QuorvexCli
