// RegularExpression: Match, MatchAll, Search, Grep and the current match.
#include "Regularexpressionclass.h"

#include "Objectmatching.h"
#include "Regularexpressiontraits.h"

namespace RegexClass {

namespace engine = RegexEngine;

bool RegularExpression::Match() { return engine::Match(*this); }
bool RegularExpression::MatchAll() { return engine::MatchAll(*this); }
bool RegularExpression::Search() { return engine::Search(*this); }
REMatchInfo RegularExpression::GetMatchingInformation() { return engine::GetMatchingInformation(*this); }
void RegularExpression::ResetMatches() { engine::ResetMatches(*this); }
unsigned int RegularExpression::Grep() { return engine::Grep(*this); }

}  // namespace RegexClass
