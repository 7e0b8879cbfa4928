// RegularExpression: Format and Merge.
#include "Regularexpressionclass.h"

#include "Objectsubstitution.h"
#include "Regularexpressiontraits.h"

namespace RegexClass {

namespace engine = RegexEngine;

void RegularExpression::Format(std::string& out) const { engine::Format(*this, out); }
void RegularExpression::Merge(std::string& out) { engine::Merge(*this, out); }

}  // namespace RegexClass
