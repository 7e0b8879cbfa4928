// What the shared algorithms need to know about the class library's object
// (see engine/Objecttraits.h). Internal: not installed.
#ifndef QUORVEX_REGULAREXPRESSIONTRAITS_H
#define QUORVEX_REGULAREXPRESSIONTRAITS_H

#include <string>

#include "Objecttraits.h"
#include "Regularexpressionclass.h"

class RegularExpressionTLSStack;

namespace RegexClass {
// Hands the object's walk settings (link rule, walk and filter events) to the
// engine object of a file operation (Regularexpressionfiles.cpp).
void ConfigureWalk(const RegularExpression* object, RegexEngine::RegEx& engine);
bool AppendsBackupExtension(const RegularExpression* object);
}  // namespace RegexClass

namespace RegexEngine {

template <>
struct ObjectTraits<RegexClass::RegularExpression> {
    using Object = RegexClass::RegularExpression;
    using Record = RegexClass::REMatch;
    using List = RegexClass::REMatchInfo;
    using FileText = std::string;
    using Problem = Object::FileChangeProblem;

    static constexpr int StringPositionBase = 0;

    static std::string MakeText(const char* first, const char* last) { return std::string(first, last); }
    static std::string MakeFileText(const char* file) { return std::string(file); }

    static auto OnMatching(const Object& o) { return MakeHandler(o.OnMatching, o.OnMatchingClosure, o.OnMatchingHandler); }
    static auto OnSearching(const Object& o) { return MakeHandler(o.OnSearching, o.OnSearchingClosure, o.OnSearchingHandler); }
    static auto OnGrepping(const Object& o) { return MakeHandler(o.OnGrepping, o.OnGreppingClosure, o.OnGreppingHandler); }
    static auto OnMerging(const Object& o) { return MakeHandler(o.OnMerging, o.OnMergingClosure, o.OnMergingHandler); }
    static auto OnGreppingFiles(const Object& o)
    {
        return MakeHandler(o.OnGreppingFiles, o.OnGreppingFilesClosure, o.OnGreppingFilesHandler);
    }
    static auto OnFindFiles(const Object& o) { return MakeHandler(o.OnFindFiles, o.OnFindFilesClosure, o.OnFindFilesHandler); }
    static auto OnChangingFiles(const Object& o)
    {
        return MakeHandler(o.OnChangingFiles, o.OnChangingFilesClosure, o.OnChangingFilesHandler);
    }

    static Problem MakeProblem(const std::string& file, unsigned char reason, unsigned position,
                               const std::string& text, unsigned error)
    {
        return Problem{file, static_cast<Object::ProblemReason>(reason), position, text, error};
    }

    // Defined with the per-thread stack, in the class library's own unit.
    static RegularExpressionTLSStack& ThreadStack();
};

}  // namespace RegexEngine

#endif
