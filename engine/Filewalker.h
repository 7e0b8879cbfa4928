// The walker: turns one wildcard path into the sorted list of files a walk
// visits. Paths of any length are handled by the platform layer.
#ifndef QUORVEX_ENGINE_FILEWALKER_H
#define QUORVEX_ENGINE_FILEWALKER_H

#include <string>
#include <vector>

namespace RegexEngine {

// True when `name` as a whole matches `mask`: `*` matches any run of
// characters (none included, a leading dot included), `?` exactly one
// character, every other character itself (brackets included), bytes compared
// case-sensitively.
bool MaskMatches(const std::string& mask, const std::string& name);

// The files named by `files`: the text before its last `/` is a directory
// taken literally (the current directory when there is no `/`), the text after
// it a mask. Each name is the directory part as spelled, a `/`, and the entry
// name (bare names when `files` has no `/`). Regular files and symbolic links
// to regular files are listed; everything else is left out. In each directory
// the matching files come first, sorted by name in byte order, then each
// sub-directory (sorted by name) with everything below it when `recurse` is
// set; symbolic links to directories are never entered. A directory that
// cannot be read contributes nothing.
std::vector<std::string> ListFiles(const std::string& files, bool recurse);

}  // namespace RegexEngine

#endif
