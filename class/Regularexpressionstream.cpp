// RegularExpression: its settings to and from a stream.
#include <istream>
#include <ostream>

#include "Regularexpressionclass.h"

#include "Settingsstream.h"

namespace RegexClass {

int RegularExpression::StreamVersion = 1;

std::ostream& operator<<(std::ostream& os, const RegularExpression& object)
{
    return RegexEngine::WriteSettings(os, object, RegularExpression::StreamVersion);
}

std::istream& operator>>(std::istream& is, RegularExpression& object)
{
    return RegexEngine::ReadSettings(is, object, RegularExpression::StreamVersion);
}

}  // namespace RegexClass
