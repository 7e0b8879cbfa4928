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

// Which symbolic links met while listing directories take part.
enum class LinkRule {
    FileLinks,  // links to regular files are listed; links to directories never entered
    NoLinks,    // no symbolic link met in a directory takes part
    AllLinks    // links to files are listed and links to directories entered (a link
                // back to a directory above is not entered, so a link cycle ends)
};

// Asked about each file and sub-directory the listing meets (files after the
// mask accepted them), with the name it would be reported by; false leaves it
// out (a directory left out is not entered).
using ListFilter = bool (*)(const char* path, bool directory, void* context);

// A directory the listing could not read: its name, the platform's error
// code, and the number of files listed before it was met.
struct ListProblem {
    std::size_t Before = 0;
    std::string Name;
    unsigned SystemError = 0;
};

// ListFiles with a link rule, an optional filter and an optional record of the
// directories that could not be read. With FileLinks, no filter and no record,
// the same as ListFiles above.
std::vector<std::string> ListFiles(const std::string& files, bool recurse, LinkRule links, ListFilter filter,
                                   void* filterContext, std::vector<ListProblem>* problems);

}  // namespace RegexEngine

#endif
