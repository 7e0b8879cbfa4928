// Uses the installed library: a search with a handler, a grep count and a
// merge. Prints what it finds; exits 1 when a result is not the expected one.
#include <iostream>
#include <sstream>
#include <string>

#include "Regularexpressionclass.h"

namespace {

std::string found;

void OnSearch(RegexClass::RegularExpression*, const RegexClass::REMatchInfo& matches, unsigned line, unsigned)
{
    found = matches.at(1).Text + "@" + std::to_string(line);
}

}  // namespace

int main()
{
    RegexClass::RegularExpression re;
    re.SetExpression("v(\\d+)");
    re.SetStringToMatch("first\nsecond v12 v3\n");
    re.SetOnSearching(OnSearch);
    bool searched = re.Search();
    unsigned count = re.Grep();
    re.SetFormatString("[$1]");
    re.SetMergeCopy(true);
    std::string merged;
    re.Merge(merged);

    std::ostringstream settings;
    settings << re;
    RegexClass::RegularExpression copy;
    std::istringstream back(settings.str());
    back >> copy;

    std::cout << "search " << searched << " " << found << "\n"
              << "grep " << count << "\n"
              << "merge " << merged;
    bool ok = searched && found == "12@2" && count == 2 && merged == "first\nsecond [12] [3]\n" && copy == re;
    std::cout << (ok ? "consumer ok" : "consumer FAILED") << "\n";
    return ok ? 0 : 1;
}
