// The FILES operands of grep and replace, and the one loop over them: each
// operand becomes one walk of the library (a file, a directory with -r/-R, a
// wildcard path, or standard input), with the file-selection switches
// (--include, --exclude, --exclude-dir, links) applied by the library's
// filter event while the walk lists its files.
#ifndef QUORVEX_CLI_OPERANDS_H
#define QUORVEX_CLI_OPERANDS_H

#include <functional>
#include <string>
#include <vector>

#include "Command.h"

namespace QuorvexCli {

// True when `name` matches the shell pattern `glob`: `*`, `?`, `[...]` with
// ranges and `!` or `^` negation, `\` quoting the next character.
bool GlobMatches(const std::string& glob, const std::string& name);

struct WalkTarget {
    std::string operand;         // as given
    std::string files;           // the library's file pattern (SetFilesToMatch)
    bool recurse = false;
    bool literal = false;        // an existing file whose name holds * or ?: that name only
    bool standardInput = false;  // "-", or no FILES without -r
    bool stream = false;         // a pipe or device named as an operand: read whole, not walked
    bool single = false;         // names one file (not a directory or a wildcard)
};

class Operands {
public:
    Operands(const Command& command, RegexClass::RegularExpression& object);

    // Resolves the operands; each one that names nothing usable is
    // diagnosed (unless -s) and left out. False when any was left out.
    bool Resolve();
    const std::vector<WalkTarget>& Targets() const { return targets_; }
    // Whether output lines carry the file name (grep's -H/-h rules).
    bool ShowNames() const;

    // Runs `walk` once per target (standard input and streams included) after
    // setting the object up for it; `walk` answers false to end the loop.
    void ForEach(const std::function<bool(const WalkTarget&)>& walk);

    // The filter event: --include, --exclude, --exclude-dir, literal names.
    void OnFilter(RegexClass::RegularExpression*, const std::string& path, bool directory, bool& take);

private:
    bool ResolveOne(const std::string& operand, WalkTarget& target);

    const Command& command_;
    RegexClass::RegularExpression& object_;
    std::vector<WalkTarget> targets_;
    const WalkTarget* current_ = nullptr;
};

// True when `glob` matches the whole `path` or the part after one of its
// slashes, as grep matches the files named on its command line.
bool GlobMatchesPath(const std::string& glob, const std::string& path);

// The last path component.
std::string BaseName(const std::string& path);

}  // namespace QuorvexCli

#endif
