// A small tour of the expression object on a text file: Search for the first
// date, Grep every mail address with its line number, and Merge the dates
// into another format. Usage: quorvex-example FILE
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "Regularexpressionclass.h"

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

namespace {

// Prints each mail address as it is found, with its line and column.
struct AddressPrinter {
    unsigned found = 0;
    void OnGrepping(RegularExpression*, const REMatchInfo& matches, unsigned line, unsigned lineStart,
                    bool& bcontinue)
    {
        ++found;
        const auto column = static_cast<unsigned>(matches[0].Position) - lineStart + 1;
        std::cout << "  line " << line << ", column " << column << ": " << matches[0].Text << "  (user "
                  << matches[1].Text << ", domain " << matches[2].Text << ")\n";
        bcontinue = true;
    }
};

void OnFirstDate(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned)
{
    std::string rewritten;
    sender->Format(rewritten);
    std::cout << "  first date " << matches[0].Text << " on line " << line << " (" << rewritten << ")\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: quorvex-example FILE\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "quorvex-example: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    RegularExpression re;
    re.SetStringToMatch(text.str());

    std::cout << "Search for a date:\n";
    re.SetExpression("(\\d{4})-(\\d{2})-(\\d{2})");
    re.SetFormatString("day $3 of month $2, $1");
    re.SetOnSearching(&OnFirstDate);
    if (!re.Search())
        std::cout << "  no date found\n";

    std::cout << "Grep for mail addresses:\n";
    AddressPrinter printer;
    re.SetExpression("([a-z]+)@([a-z]+\\.[a-z]+)");
    if (re.ParseExpression() != 0) {
        std::cerr << "quorvex-example: " << re.GetExpressionError() << "\n";
        return 1;
    }
    re.SetOnGreppingClosure(RegexClass::Bind(&printer, &AddressPrinter::OnGrepping));
    const unsigned count = re.Grep();
    std::cout << "  " << count << " addresses\n";

    std::cout << "Merge the dates into day.month.year:\n";
    re.SetExpression("(\\d{4})-(\\d{2})-(\\d{2})");
    re.SetFormatString("$3.$2.$1");
    re.SetMergeCopy(true);
    std::string merged;
    re.Merge(merged);
    std::cout << merged;
    return 0;
}
