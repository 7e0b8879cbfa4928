// Fuzzes the settings reader: any bytes go into operator>>; whatever the
// reader made of them must write back and read again to an equal object, and
// the object must still compile and search without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "Regularexpressionclass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using RegexClass::RegularExpression;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    RegularExpression object;
    in >> object;

    std::ostringstream out;
    out << object;
    RegularExpression copy;
    std::istringstream back(out.str());
    back >> copy;
    if (!(copy == object))
        std::abort();  // the writer and the reader disagree

    object.ParseExpression();
    (void)object.GetExpressionError();
    // Keep subjects short so that one run stays fast whatever the expression.
    if (object.StringToMatch.size() > 256)
        object.StringToMatch.resize(256);
    object.Search();
    object.Grep();
    std::string merged;
    object.Merge(merged);
    return 0;
}
