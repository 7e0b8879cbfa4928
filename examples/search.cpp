// The streaming search on any input: counts the lines of FILE (or standard
// input with "-") that match EXPR and prints the first few with their line
// number and byte offset, 64-bit both. Usage: quorvex-search EXPR [FILE|-]
#include <iostream>
#include <string>

#include "Quorvexsearch.h"

using RegexClass::SearchAnswer;
using RegexClass::SearchMatch;

namespace {

// A sink: one call per matching line (FirstMatchOfLine), views valid for
// the call only, so what is kept is copied.
class FirstLines final : public RegexClass::SearchSink {
public:
    SearchAnswer OnMatch(const SearchMatch& match) override
    {
        if (++count <= 5)
            std::cout << match.Line << ':' << match.LineOffset << ": " << match.LineText << '\n';
        return SearchAnswer::Continue;
    }
    unsigned long long count = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: quorvex-search EXPR [FILE|-]\n";
        return 2;
    }
    RegexClass::Searcher searcher(argv[1]);
    if (!searcher.Ok()) {
        std::cerr << "bad expression: " << searcher.Error() << '\n';
        return 2;
    }
    searcher.Options().LineNumbers = true;
    searcher.Options().FirstMatchOfLine = true;
    FirstLines sink;
    const std::string input = argc > 2 ? argv[2] : "-";
    const RegexClass::SearchResult result =
        input == "-" ? searcher.SearchDescriptor(0, "(standard input)", sink) : searcher.SearchPath(input, sink);
    if (result.End == RegexClass::SearchResult::ReadFailed || result.End == RegexClass::SearchResult::MatchFailed) {
        std::cerr << input << ": " << result.Error << '\n';
        return 2;
    }
    std::cout << sink.count << " matching lines in " << result.Bytes << " bytes\n";

    // The same with a callable: the offset of the first match only.
    searcher.SearchText("no match here, then a match", [](const SearchMatch& m) {
        std::cout << "first in text at " << m.Offset << '\n';
        return SearchAnswer::Stop;
    });
    return sink.count > 0 ? 0 : 1;
}
