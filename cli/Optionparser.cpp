// The getopt_long-compatible parser of grep and replace (see Optionparser.h).
#include "Optionparser.h"

#include <cctype>
#include <climits>

namespace QuorvexCli {

void OptionParser::Group(const std::string& title)
{
    groups_.emplace_back(entries_.size(), title);
}

std::string OptionParser::Apply(const OptionEntry& entry, const std::string& value, bool given)
{
    std::string error = entry.apply(value, given);
    valueError_ = !error.empty();
    return error;
}

std::string OptionParser::Long(const std::string& word, const std::vector<std::string>& args, std::size_t& i)
{
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    // An exact name wins; otherwise a prefix must name one option (several
    // names for the same option, such as --color and --colour, count once).
    const OptionEntry* found = nullptr;
    std::vector<const OptionEntry*> candidates;
    std::vector<std::string> names;
    for (const OptionEntry& entry : entries_) {
        for (const std::string* longName : {&entry.longName, &entry.alias}) {
            if (longName->empty())
                continue;
            if (*longName == name)
                found = &entry;
            else if (longName->compare(0, name.size(), name) == 0) {
                names.push_back(*longName);
                if (candidates.empty() || candidates.back() != &entry)
                    candidates.push_back(&entry);
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
        const OptionEntry* found = nullptr;
        for (const OptionEntry& entry : entries_)
            if (entry.shortName == c && c != 0) {
                found = &entry;
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
    for (std::size_t n = 0; n < entries_.size(); ++n) {
        while (group < groups_.size() && groups_[group].first == n)
            text += "\n" + groups_[group++].second + ":\n";
        const OptionEntry& entry = entries_[n];
        if (entry.help.empty())
            continue;
        std::string left = entry.shortName != 0 ? std::string("  -") + entry.shortName : std::string("    ");
        if (!entry.longName.empty()) {
            left += entry.shortName != 0 ? ", --" : "  --";
            left += entry.longName;
            if (entry.argument == Argument::Required)
                left += "=" + entry.valueName;
            else if (entry.argument == Argument::Optional)
                left += "[=" + entry.valueName + "]";
        } else if (entry.argument != Argument::None) {
            left += " " + entry.valueName;
        }
        if (left.size() < 29)
            left.resize(30, ' ');
        else
            left += "\n" + std::string(30, ' ');
        text += left + entry.help + "\n";
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
