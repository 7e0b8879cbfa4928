// FILES operands, file selection and the loop over the walks (see Operands.h).
#include "Operands.h"

#include "Output.h"

namespace QuorvexCli {

using RegexClass::RegularExpression;

namespace {

bool HasWildcard(const std::string& text)
{
    return text.find_first_of("*?") != std::string::npos;
}

// Matches one bracket expression at glob[g] ('[' already seen at g - 1)
// against `c`; `g` moves past the closing ']'. False in `valid` when the
// bracket is not closed (then '[' is an ordinary character).
bool BracketMatches(const std::string& glob, std::size_t& g, char c, bool& valid)
{
    std::size_t i = g;
    bool negate = false;
    if (i < glob.size() && (glob[i] == '!' || glob[i] == '^')) {
        negate = true;
        ++i;
    }
    bool matched = false;
    bool first = true;
    while (i < glob.size() && (glob[i] != ']' || first)) {
        first = false;
        char low = glob[i];
        if (low == '\\' && i + 1 < glob.size())
            low = glob[++i];
        char high = low;
        if (i + 2 < glob.size() && glob[i + 1] == '-' && glob[i + 2] != ']') {
            high = glob[i + 2];
            i += 2;
        }
        if (static_cast<unsigned char>(low) <= static_cast<unsigned char>(c) &&
            static_cast<unsigned char>(c) <= static_cast<unsigned char>(high))
            matched = true;
        ++i;
    }
    valid = i < glob.size();
    if (valid)
        g = i + 1;
    return matched != negate;
}

}  // namespace

bool GlobMatches(const std::string& glob, const std::string& name)
{
    // Backtracking over the last `*` only: linear in practice.
    std::size_t g = 0, n = 0;
    std::size_t starGlob = std::string::npos, starName = 0;
    while (n < name.size()) {
        bool advanced = false;
        if (g < glob.size()) {
            const char p = glob[g];
            if (p == '*') {
                starGlob = ++g;
                starName = n;
                continue;
            }
            if (p == '?') {
                ++g;
                ++n;
                advanced = true;
            } else if (p == '[') {
                std::size_t next = g + 1;
                bool valid = true;
                const bool matched = BracketMatches(glob, next, name[n], valid);
                if (!valid) {
                    if (name[n] == '[') {
                        ++g;
                        ++n;
                        advanced = true;
                    }
                } else if (matched) {
                    g = next;
                    ++n;
                    advanced = true;
                }
            } else {
                const char literal = p == '\\' && g + 1 < glob.size() ? glob[g + 1] : p;
                if (literal == name[n]) {
                    g += p == '\\' && g + 1 < glob.size() ? 2 : 1;
                    ++n;
                    advanced = true;
                }
            }
        }
        if (advanced)
            continue;
        if (starGlob == std::string::npos)
            return false;
        g = starGlob;
        n = ++starName;
    }
    while (g < glob.size() && glob[g] == '*')
        ++g;
    return g == glob.size();
}

bool GlobMatchesPath(const std::string& glob, const std::string& path)
{
    if (GlobMatches(glob, path))
        return true;
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (GlobMatches(glob, path.substr(slash + 1)))
            return true;
    return false;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Operands::Operands(const Command& command, RegularExpression& object) : command_(command), object_(object) {}

bool Operands::ResolveOne(const std::string& operand, WalkTarget& target)
{
    target = WalkTarget();
    target.operand = operand;
    if (operand == "-") {
        target.standardInput = true;
        target.single = true;
        return true;
    }
    if (operand.empty()) {
        if (!command_.noMessages)
            Diagnose(": No such file or directory");
        return false;
    }
    unsigned error = 0;
    const RegularExpression::PathType type = RegularExpression::GetPathType(operand, &error);
    const bool recursive = command_.recursive || command_.dereference;
    if (type == RegularExpression::PathDirectory) {
        if (recursive) {
            // --exclude-dir applies to a directory named as an operand too,
            // by its last component as given (so "sub/" is searched), as grep
            // has it: left out silently.
            const std::string base = BaseName(operand);
            for (const std::string& glob : command_.excludeDirs)
                if (GlobMatches(glob, base))
                    return true;  // with no files: nothing to walk
        }
        if (!recursive && command_.skipDirectories)
            return true;  // -d skip: left out silently
        if (!recursive) {
            if (!command_.noMessages)
                Diagnose(operand + ": Is a directory");
            return false;
        }
        std::string base = operand;
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        target.files = base == "/" ? "/*" : base + "/*";
        target.recurse = true;
        return true;
    }
    if (type == RegularExpression::PathFile) {
        // Taken literally, even when the name holds * or ?.
        target.files = operand;
        target.literal = HasWildcard(BaseName(operand));
        target.single = true;
        return true;
    }
    if (type == RegularExpression::PathOther) {
        if (command_.skipDevices)
            return true;  // -D skip: left out silently
        // A pipe or device named on the command line is read as grep reads
        // it (/dev/null, a FIFO, a process substitution); walks never open one.
        target.stream = true;
        target.single = true;
        return true;
    }
    const std::size_t slash = operand.rfind('/');
    if (HasWildcard(operand.substr(slash == std::string::npos ? 0 : slash + 1))) {
        const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : operand.substr(0, slash);
        unsigned directoryError = 0;
        const RegularExpression::PathType directoryType = RegularExpression::GetPathType(directory, &directoryError);
        if (directoryType == RegularExpression::PathDirectory) {
            target.files = operand;
            target.recurse = recursive;
            return true;
        }
        if (!command_.noMessages)
            Diagnose(directory + ": " +
                     (directoryType == RegularExpression::PathMissing ? RegularExpression::SystemErrorText(directoryError)
                                                                       : std::string("Not a directory")));
        return false;
    }
    if (!command_.noMessages)
        Diagnose(operand + ": " + RegularExpression::SystemErrorText(error));
    return false;
}

bool Operands::Resolve()
{
    targets_.clear();
    const bool recursive = command_.recursive || command_.dereference;
    if (command_.operands.empty()) {
        WalkTarget here;
        if (recursive) {
            here.files = "*";  // bare names, as grep -r prints them
            here.recurse = true;
        } else {
            here.standardInput = true;
            here.single = true;
        }
        targets_.push_back(here);
        return true;
    }
    bool ok = true;
    for (const std::string& operand : command_.operands) {
        WalkTarget target;
        if (ResolveOne(operand, target)) {
            if (!target.files.empty() || target.standardInput || target.stream)
                targets_.push_back(target);  // else excluded
        } else
            ok = false;
    }
    return ok;
}

bool Operands::ShowNames() const
{
    if (command_.noFileName)
        return false;
    if (command_.withFileName || command_.operands.size() > 1)
        return true;
    return !targets_.empty() && !targets_.front().single;
}

void Operands::OnFilter(RegularExpression*, const std::string& path, bool directory, bool& take)
{
    if (current_ != nullptr && current_->literal) {
        take = path == current_->files;
        return;
    }
    // A file named as an operand is matched by its whole path or any part
    // after a '/' (so 'a.txt', '*.txt' and 'src/*.txt' all name src/a.txt);
    // a file found in a directory by its name.
    const bool operand = current_ != nullptr && current_->single && !directory;
    const std::string name = operand ? current_->operand : BaseName(path);
    const auto matches = [&](const std::string& glob) {
        return operand ? GlobMatchesPath(glob, name) : GlobMatches(glob, name);
    };
    const std::vector<std::string>& excluded = directory ? command_.excludeDirs : command_.excludes;
    for (const std::string& glob : excluded) {
        if (matches(glob)) {
            take = false;
            return;
        }
    }
    if (directory || command_.includes.empty())
        return;
    for (const std::string& glob : command_.includes)
        if (matches(glob))
            return;
    take = false;
}

void Operands::ForEach(const std::function<bool(const WalkTarget&)>& walk)
{
    const bool filtering = !command_.includes.empty() || !command_.excludes.empty() || !command_.excludeDirs.empty();
    for (const WalkTarget& target : targets_) {
        current_ = &target;
        if (!target.standardInput && !target.stream) {
            object_.SetFilesToMatch(target.files);
            object_.SetDirectoryRecursion(target.recurse);
            // grep -r does not follow links met inside the tree, -R follows all;
            // a wildcard path without either keeps the library's rule.
            object_.SetLinkRule(command_.dereference ? RegularExpression::FollowAllLinks
                                : command_.recursive ? RegularExpression::FollowNoLinks
                                                     : RegularExpression::FollowFileLinks);
            object_.SetOnFilteringFilesClosure(filtering || target.literal
                                                   ? RegexClass::Bind(this, &Operands::OnFilter)
                                                   : RegularExpression::FilteringFilesEventClosure());
        }
        const bool more = walk(target);
        current_ = nullptr;
        if (!more)
            break;
    }
    object_.SetOnFilteringFilesClosure(RegularExpression::FilteringFilesEventClosure());
}

}  // namespace QuorvexCli
