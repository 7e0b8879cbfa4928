// The file operations of RegularExpression and its per-thread object stack:
// each member forwards to the shared algorithm in engine/Fileoperations.h.
// This unit also owns the library's thread-local slot holder.
#include "Regularexpressionclass.h"

#include "Fileoperations.h"
#include "Regularexpressiontlsstack.h"
#include "Regularexpressiontraits.h"

namespace {

using RegexClass::RegularExpression;

// The library's one slot holder: constructed by this unit's first
// initialisation, destroyed by its last finalisation. A thread's object
// stack still held when the thread ends is freed then.
RegularExpressionTLSStackUnit ClassStackUnit;

struct ClassUnitInitialisation {
    ClassUnitInitialisation() { ClassStackUnit.Initialise(&RegexEngine::ReleaseObjectStack<RegularExpression>); }
    ~ClassUnitInitialisation() { ClassStackUnit.Finalise(); }
    ClassUnitInitialisation(const ClassUnitInitialisation&) = delete;
    ClassUnitInitialisation& operator=(const ClassUnitInitialisation&) = delete;
} Initialisation;

}  // namespace

RegularExpressionTLSStack& RegexEngine::ObjectTraits<RegularExpression>::ThreadStack()
{
    return ClassStackUnit.Stack();
}

namespace RegexClass {

// ---- Per-thread object stack -----------------------------------------------

void RegularExpression::AllocateStack() { RegexEngine::AllocateStack(*this); }

void RegularExpression::DeallocateStack() { RegexEngine::DeallocateStack(*this); }

bool RegularExpression::FindFilesCallback(const char* file)
{
    return RegexEngine::ForwardFindFiles<RegularExpression>(file);
}

bool RegularExpression::GrepFilesCallback(const char* file, const RegexEngine::RegEx& engine)
{
    return RegexEngine::ForwardGrepFiles<RegularExpression>(file, engine);
}

bool RegularExpression::MergeFilesCallback(const char* file, const RegexEngine::RegEx& engine)
{
    return RegexEngine::ForwardMergeFiles<RegularExpression>(file, engine);
}

// ---- File operations ---------------------------------------------------------

unsigned int RegularExpression::FindFiles() { return RegexEngine::FindFiles(*this); }

bool RegularExpression::ThisFindFilesCallback(const char* file)
{
    return RegexEngine::ThisFindFilesCallback(*this, file);
}

unsigned int RegularExpression::GrepFiles() { return RegexEngine::GrepFiles(*this); }

bool RegularExpression::ThisGrepFilesCallback(const char* file, const RegexEngine::RegEx& engine)
{
    return RegexEngine::ThisGrepFilesCallback(*this, file, engine);
}

unsigned int RegularExpression::ChangeFiles() { return RegexEngine::ChangeFiles(*this); }

bool RegularExpression::ThisMergeFilesCallback(const char* file, const RegexEngine::RegEx& engine)
{
    return RegexEngine::ThisMergeFilesCallback(*this, file, engine);
}

const std::vector<RegularExpression::FileChangeProblem>* RegularExpression::GetChangeFilesErrors() const
{
    return RegexEngine::GetChangeFilesErrors(*this);
}

void RegularExpression::MergeUpdateFile() { RegexEngine::MergeUpdateFile(*this); }

void RegularExpression::MergeFileCleanup(void* source, void* temporary, const std::string& temporaryName)
{
    RegexEngine::MergeFileCleanup(*this, source, temporary, temporaryName);
}

unsigned int RegularExpression::GetFilePointer(void* handle) { return RegexEngine::FilePointerOf(handle); }

bool RegularExpression::BackupFile(const std::string& name) { return RegexEngine::BackupFile(*this, name); }

bool RegularExpression::ReadOnlyFile(const std::string& name) { return RegexEngine::IsReadOnlyFile(name); }

std::string RegularExpression::ReplaceExtension() { return RegexEngine::ReplaceExtension(*this); }

}  // namespace RegexClass
