// RegularExpression: the compile and match option sets and their flag words.
#include "Regularexpressionclass.h"

#include "Objectsettings.h"
#include "Perldialect.h"

namespace RegexClass {

namespace engine = RegexEngine;

void RegularExpression::AddExpressionOption(Options option) { engine::AddExpressionOption(*this, option); }
void RegularExpression::DeleteExpressionOption(Options option) { engine::DeleteExpressionOption(*this, option); }
bool RegularExpression::IsExpressionOption(Options option) const { return ExpressionOptions.count(option) != 0; }
void RegularExpression::ClearExpressionOptions() { engine::ClearExpressionOptions(*this); }
unsigned int RegularExpression::GetFlagOptions() { return engine::CompileFlagWord(ExpressionOptions); }

void RegularExpression::AddMatchOption(Matches option) { engine::AddMatchingOption(MatchOptions, option); }
void RegularExpression::DeleteMatchOption(Matches option) { engine::DeleteMatchingOption(MatchOptions, option); }
bool RegularExpression::IsMatchOption(Matches option) const { return MatchOptions.count(option) != 0; }
void RegularExpression::ClearMatchOptions() { MatchOptions.clear(); }
unsigned int RegularExpression::GetMatchFlags() { return engine::MatchFlagWord(MatchOptions); }

bool RegularExpression::TranslatePerlDialect(const std::string& expression, std::string& translated,
                                             std::string& error)
{
    return engine::TranslatePerlDialect(expression, translated, error);
}

bool RegularExpression::TranslatePerlDialect(const std::string& expression, std::string& translated,
                                             std::string& error, bool unicode)
{
    return engine::TranslatePerlDialect(expression, translated, error, unicode);
}

}  // namespace RegexClass
