// The file operations of RegularExpression and its per-thread object stack:
// each member forwards to the shared algorithm in engine/Fileoperations.h.
// This unit also owns the library's thread-local slot holder.
#include "Regularexpressionclass.h"

#include "Fileoperations.h"
#include "Platform.h"
#include "RegEx.h"
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

// ---- Walk settings and queries for tools ---------------------------------------
// The link rule, line mode and the per-file and filter events reach the engine
// object of each file operation through ConfigureWalk (called by the shared
// walk set-up); the engine's plain callbacks find the object on the thread's
// stack, as the other file callbacks do.

namespace {

using Engine = RegexEngine::RegEx;

Engine::FileAnswer WalkingFilesCallback(const char* file, const Engine& engine)
{
    RegularExpression* object = RegexEngine::TopObject<RegularExpression>();
    if (object == nullptr)
        return Engine::FileAnswer::Stop;
    const RegularExpression::WalkingFilesEventClosure handler = object->OnWalkingFilesClosure;
    const RegularExpression::WalkingFilesEventHandler callable = object->OnWalkingFilesHandler;
    if (!handler && !callable)
        return Engine::FileAnswer::Go;
    RegularExpression::WalkedFile walked;
    walked.FileName = file;
    switch (engine.Stage()) {
    case Engine::FileStage::Started: walked.Stage = RegularExpression::FileStarted; break;
    case Engine::FileStage::Finished: walked.Stage = RegularExpression::FileFinished; break;
    case Engine::FileStage::Skipped: walked.Stage = RegularExpression::FileSkipped; break;
    }
    walked.Data = engine.FileData();
    walked.Size = engine.FileSize();
    walked.SystemError = engine.FileError();
    walked.MatchError = engine.FileMatchError();
    bool skip = false;
    bool go = true;
    if (handler)
        handler(object, walked, skip, go);
    else
        callable(object, walked, skip, go);
    if (!go || RegexEngine::TopBlanked<RegularExpression>())
        return Engine::FileAnswer::Stop;
    return skip && walked.Stage == RegularExpression::FileStarted ? Engine::FileAnswer::SkipFile
                                                                  : Engine::FileAnswer::Go;
}

bool FilteringFilesCallback(const char* path, bool directory)
{
    RegularExpression* object = RegexEngine::TopObject<RegularExpression>();
    if (object == nullptr)
        return false;
    const RegularExpression::FilteringFilesEventClosure handler = object->OnFilteringFilesClosure;
    const RegularExpression::FilteringFilesEventHandler callable = object->OnFilteringFilesHandler;
    bool take = true;
    if (handler)
        handler(object, std::string(path), directory, take);
    else if (callable)
        callable(object, std::string(path), directory, take);
    return take;
}

}  // namespace

void ConfigureWalk(const RegularExpression* object, RegexEngine::RegEx& engine)
{
    engine.SetLineMode(object->LineMode);
    engine.SetFirstMatchOfLine(object->FirstMatchOfLine);
    engine.SetLinkRule(object->Links);
    engine.SetContinueAfterMatchError(object->ContinueAfterMatchError);
    if (object->OnWalkingFilesClosure || object->OnWalkingFilesHandler)
        engine.SetFileCallback(WalkingFilesCallback);
    if (object->OnFilteringFilesClosure || object->OnFilteringFilesHandler)
        engine.SetFilterCallback(FilteringFilesCallback);
}

void RegularExpression::SetContinueAfterMatchError(bool on) { ContinueAfterMatchError = on; }

bool RegularExpression::GetContinueAfterMatchError() const { return ContinueAfterMatchError; }

void RegularExpression::SetLineMode(bool on) { LineMode = on; }

bool RegularExpression::GetLineMode() const { return LineMode; }

void RegularExpression::SetFirstMatchOfLine(bool on) { FirstMatchOfLine = on; }

bool RegularExpression::GetFirstMatchOfLine() const { return FirstMatchOfLine; }

void RegularExpression::SetLinkRule(LinkRule rule) { Links = rule; }

RegularExpression::LinkRule RegularExpression::GetLinkRule() const { return Links; }

void RegularExpression::SetOnWalkingFilesClosure(WalkingFilesEventClosure handler)
{
    OnWalkingFilesClosure = handler;
    if (handler)
        OnWalkingFilesHandler = nullptr;
}

void RegularExpression::SetOnWalkingFilesHandler(WalkingFilesEventHandler handler)
{
    OnWalkingFilesHandler = std::move(handler);
    if (OnWalkingFilesHandler)
        OnWalkingFilesClosure = WalkingFilesEventClosure();
}

RegularExpression::WalkingFilesEventHandler RegularExpression::GetOnWalkingFilesHandler() const
{
    return OnWalkingFilesHandler;
}

void RegularExpression::SetOnFilteringFilesHandler(FilteringFilesEventHandler handler)
{
    OnFilteringFilesHandler = std::move(handler);
    if (OnFilteringFilesHandler)
        OnFilteringFilesClosure = FilteringFilesEventClosure();
}

RegularExpression::FilteringFilesEventHandler RegularExpression::GetOnFilteringFilesHandler() const
{
    return OnFilteringFilesHandler;
}

RegularExpression::WalkingFilesEventClosure RegularExpression::GetOnWalkingFilesClosure() const
{
    return OnWalkingFilesClosure;
}

void RegularExpression::SetOnFilteringFilesClosure(FilteringFilesEventClosure handler)
{
    OnFilteringFilesClosure = handler;
    if (handler)
        OnFilteringFilesHandler = nullptr;
}

RegularExpression::FilteringFilesEventClosure RegularExpression::GetOnFilteringFilesClosure() const
{
    return OnFilteringFilesClosure;
}

RegularExpression::PathType RegularExpression::GetPathType(const std::string& path, unsigned* systemError)
{
    const std::uint32_t attributes = RegexPlatform::GetAttributes(path.c_str());
    if (attributes == RegexPlatform::InvalidAttributes) {
        if (systemError != nullptr)
            *systemError = RegexPlatform::LastError();
        return PathMissing;
    }
    if (systemError != nullptr)
        *systemError = 0;
    if ((attributes & RegexPlatform::AttributeDirectory) != 0)
        return PathDirectory;
    return RegexPlatform::IsRegularFile(path) ? PathFile : PathOther;
}

std::string RegularExpression::GetResolvedPath(const std::string& path)
{
    std::string resolved;
    return RegexPlatform::ResolvePath(path.c_str(), resolved) ? resolved : std::string();
}

std::string RegularExpression::SystemErrorText(unsigned code) { return RegexPlatform::ErrorText(code); }

std::string RegularExpression::GetBackupName(const std::string& file) const
{
    return SaveExtension.empty() ? std::string() : RegexEngine::BackupNameOf(file, SaveExtension, BackupAppends);
}

void RegularExpression::SetBackupAppendsExtension(bool on) { BackupAppends = on; }

bool RegularExpression::GetBackupAppendsExtension() const { return BackupAppends; }

bool AppendsBackupExtension(const RegularExpression* object) { return object->BackupAppends; }

}  // namespace RegexClass
