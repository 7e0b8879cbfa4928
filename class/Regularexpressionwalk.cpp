// The walk settings of RegularExpression that tools need (link rule, the
// per-file and filter events) and the small path queries that go with them.
// The engine's plain callbacks reach the object through the per-thread stack,
// as the other file callbacks do.
#include "Regularexpressionclass.h"

#include "Fileoperations.h"
#include "Platform.h"
#include "RegEx.h"
#include "Regularexpressiontraits.h"

namespace RegexClass {

namespace {

using Engine = RegexEngine::RegEx;

Engine::FileAnswer WalkingFilesCallback(const char* file, const Engine& engine)
{
    RegularExpression* object = RegexEngine::TopObject<RegularExpression>();
    if (object == nullptr)
        return Engine::FileAnswer::Stop;
    const RegularExpression::WalkingFilesEventClosure handler = object->OnWalkingFilesClosure;
    if (!handler)
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
    bool skip = false;
    bool go = true;
    handler(object, walked, skip, go);
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
    bool take = true;
    if (handler)
        handler(object, std::string(path), directory, take);
    return take;
}

}  // namespace

void ConfigureWalk(const RegularExpression* object, RegexEngine::RegEx& engine)
{
    engine.SetLineMode(object->LineMode);
    engine.SetLinkRule(object->Links);
    if (object->OnWalkingFilesClosure)
        engine.SetFileCallback(WalkingFilesCallback);
    if (object->OnFilteringFilesClosure)
        engine.SetFilterCallback(FilteringFilesCallback);
}

void RegularExpression::SetLineMode(bool on) { LineMode = on; }

bool RegularExpression::GetLineMode() const { return LineMode; }

void RegularExpression::SetLinkRule(LinkRule rule) { Links = rule; }

RegularExpression::LinkRule RegularExpression::GetLinkRule() const { return Links; }

void RegularExpression::SetOnWalkingFilesClosure(WalkingFilesEventClosure handler)
{
    OnWalkingFilesClosure = handler;
}

RegularExpression::WalkingFilesEventClosure RegularExpression::GetOnWalkingFilesClosure() const
{
    return OnWalkingFilesClosure;
}

void RegularExpression::SetOnFilteringFilesClosure(FilteringFilesEventClosure handler)
{
    OnFilteringFilesClosure = handler;
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
    return (attributes & RegexPlatform::AttributeDirectory) != 0 ? PathDirectory : PathFile;
}

std::string RegularExpression::GetResolvedPath(const std::string& path)
{
    std::string resolved;
    return RegexPlatform::ResolvePath(path.c_str(), resolved) ? resolved : std::string();
}

std::string RegularExpression::SystemErrorText(unsigned code) { return RegexPlatform::ErrorText(code); }

std::string RegularExpression::GetBackupName(const std::string& file) const
{
    return SaveExtension.empty() ? std::string() : RegexEngine::BackupNameOf(file, SaveExtension);
}

}  // namespace RegexClass
