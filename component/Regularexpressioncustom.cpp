// The unit Regularexpressioncustom: the component base class, its type
// information, and the package's per-thread object stack, created by this
// unit's initialisation and released by its finalisation. Every operation
// forwards to the shared algorithm in engine/; what differs from the class
// library is in Regularexpressioncustomtraits.h.
#include "Regularexpressioncustom.h"

#include "Classinfo.h"
#include "Compilation.h"
#include "Eventslots.h"
#include "Fileattributes.h"
#include "Fileoperations.h"
#include "Objectmatching.h"
#include "Objectsettings.h"
#include "Objectsubstitution.h"
#include "Quorvpakunits.h"
#include "Regularexpressioncustomtraits.h"
#include "Regularexpressiontlsstack.h"
#include "Unicodeobject.h"

namespace {

using RegexComponent::RegularExpressionCustom;

// The package's one slot holder (constant-initialised, so valid before any
// constructor runs): constructed by this unit's first initialisation,
// destroyed by its last finalisation. A thread's object stack still held
// when the thread ends is freed then.
RegularExpressionTLSStackUnit ComponentStackUnit;

}  // namespace

RegularExpressionTLSStack& RegexEngine::ObjectTraits<RegularExpressionCustom>::ThreadStack()
{
    return ComponentStackUnit.Stack();
}

void Quorvpak::Units::InitializeRegularexpressioncustom()
{
    ComponentStackUnit.Initialise(&RegexEngine::ReleaseObjectStack<RegularExpressionCustom>);
}

void Quorvpak::Units::FinalizeRegularexpressioncustom()
{
    ComponentStackUnit.Finalise();
}

namespace RegexComponent {

namespace engine = RegexEngine;

// ---- Type information ------------------------------------------------------

using Vcl::TOrdType;
using Vcl::TParamMode;
using Vcl::TTypeInfo;

const TTypeInfo& OptionsType()
{
    static const auto type = TTypeInfo::Enumeration(
        "Options", TOrdType::SByte,
        {QUORVEX_COMPILE_OPTIONS(QUORVEX_VALUE_NAME)});
    return type;
}

const TTypeInfo& OptionSetType()
{
    static const auto type = TTypeInfo::SetOf(
        "Set<Options, 0, " + std::to_string(RegexValues::CompileOptionCount - 1) + ">", TOrdType::UWord,
        OptionsType());
    return type;
}

const TTypeInfo& MatchesType()
{
    static const auto type = TTypeInfo::Enumeration(
        "Matches", TOrdType::SByte,
        {QUORVEX_MATCH_OPTIONS(QUORVEX_VALUE_NAME)});
    return type;
}

const TTypeInfo& MatchSetType()
{
    static const auto type = TTypeInfo::SetOf(
        "Set<Matches, 0, " + std::to_string(RegexValues::MatchOptionCount - 1) + ">", TOrdType::UWord,
        MatchesType());
    return type;
}

namespace {

// The parameters every event starts with and those of the file events.
const Vcl::TParamInfo SenderParam{"Sender", "RegularExpressionCustom", TParamMode::Pointer};
const Vcl::TParamInfo MatchesParam{"Matches", "REMatchInfo", TParamMode::ConstReference};
const Vcl::TParamInfo LineIndexParam{"LineIndex", "unsigned", TParamMode::Value};
const Vcl::TParamInfo StartOfLineParam{"StartOfLine", "unsigned", TParamMode::Value};
const Vcl::TParamInfo ContinueParam{"bcontinue", "bool", TParamMode::Reference};
const Vcl::TParamInfo FileParam{"file", "AnsiString", TParamMode::Value};

}  // namespace

const TTypeInfo& MatchingEventType()
{
    static const auto type =
        TTypeInfo::MethodType("MatchingEvent", {SenderParam, MatchesParam, LineIndexParam, StartOfLineParam});
    return type;
}

const TTypeInfo& GreppingEventType()
{
    static const auto type = TTypeInfo::MethodType(
        "GreppingEvent", {SenderParam, MatchesParam, LineIndexParam, StartOfLineParam, ContinueParam});
    return type;
}

const TTypeInfo& FileMatchesEventType()
{
    static const auto type = TTypeInfo::MethodType(
        "FileMatchesEvent", {SenderParam, FileParam, MatchesParam, LineIndexParam, ContinueParam});
    return type;
}

const TTypeInfo& FindFilesEventType()
{
    static const auto type = TTypeInfo::MethodType("FindFilesEvent", {SenderParam, FileParam, ContinueParam});
    return type;
}

// Publishes nothing of its own.
Vcl::TClass RegularExpressionCustom::StaticClass()
{
    static const Vcl::TMetaClass meta =
        Vcl::ClassInfo<RegularExpressionCustom>("RegularExpressionCustom", "Regularexpressioncustom",
                                                Vcl::TComponent::StaticClass())
            .Constructible()
            .Build();
    return &meta;
}

Vcl::TClass RegularExpressionCustom::ClassType() const { return StaticClass(); }

// ---- Lifecycle -----------------------------------------------------------------

RegularExpressionCustom::RegularExpressionCustom(Vcl::TComponent* Owner) : TComponent(Owner)
{
    engine::DefaultSettings(*this);
}

RegularExpressionCustom::RegularExpressionCustom(const RegularExpressionCustom& other)
    : TComponent(other.GetOwner())
{
    *this = other;
}

RegularExpressionCustom& RegularExpressionCustom::operator=(const RegularExpressionCustom& other)
{
    if (this == &other)
        return *this;
    engine::AssignSettings(*this, other);
    engine::CopyEventSlots(*this, other);
    return *this;
}

bool RegularExpressionCustom::operator==(const RegularExpressionCustom& other) const
{
    return engine::SameSettings(*this, other);
}

RegularExpressionCustom::~RegularExpressionCustom()
{
    engine::ForgetObject(*this);
    DeallocateStack();
}

// ---- Framework -------------------------------------------------------------------

void RegularExpressionCustom::Assign(Vcl::TPersistent* Source)
{
    RegularExpressionCustom* source = Vcl::DownCast<RegularExpressionCustom>(Source);
    if (source == this)
        return;  // like operator=: a component already holds its own settings
    if (source == nullptr) {
        TPersistent::Assign(Source);  // raises the assignment error
        return;
    }
    RegularExpressionCustom::operator=(*source);
}

void RegularExpressionCustom::UpdateRegistry(bool Register, const System::AnsiString ClassID,
                                             const System::AnsiString ProgID)
{
    TComponent::UpdateRegistry(Register, ClassID, ProgID);
}

// ---- Option sets -------------------------------------------------------------------

void RegularExpressionCustom::SetOptions(OptionSet Options)
{
    if (Loading())
        engine::RestoreOptions(*this, Options);
    else
        engine::SetOptions(*this, Options);
}

void RegularExpressionCustom::SetMatches(MatchSet Matches) { engine::SetMatches(*this, Matches); }
unsigned int RegularExpressionCustom::GetFlagOptions() { return engine::CompileFlagWord(ExpressionOptions); }
unsigned int RegularExpressionCustom::GetMatchFlags() { return engine::MatchFlagWord(MatchOptions); }
void RegularExpressionCustom::SetUnicode(bool on) { engine::SetUnicode(*this, on); }

// ---- Texts -------------------------------------------------------------------------

System::AnsiString RegularExpressionCustom::GetExpression() const { return System::AnsiString(Expression); }
void RegularExpressionCustom::SetExpression(System::AnsiString Text)
{
    engine::SetExpression(*this, Text.ToStdString());
}
System::AnsiString RegularExpressionCustom::GetFormatString() const { return System::AnsiString(FormatString); }
void RegularExpressionCustom::SetFormatString(System::AnsiString Text) { FormatString = Text.ToStdString(); }
System::AnsiString RegularExpressionCustom::GetStringToMatch() const { return System::AnsiString(StringToMatch); }
void RegularExpressionCustom::SetStringToMatch(System::AnsiString Text) { StringToMatch = Text.ToStdString(); }
System::AnsiString RegularExpressionCustom::GetFilesToMatch() const { return System::AnsiString(FilesToMatch); }
void RegularExpressionCustom::SetFilesToMatch(System::AnsiString Text) { FilesToMatch = Text.ToStdString(); }
System::AnsiString RegularExpressionCustom::GetSaveExtension() const { return System::AnsiString(SaveExtension); }
void RegularExpressionCustom::SetSaveExtension(System::AnsiString Text) { SaveExtension = Text.ToStdString(); }

// ---- Expression and compilation ------------------------------------------------------

// The new locale reaches the engine at the next compilation.
void RegularExpressionCustom::SetExpressionLocale(const std::locale& Locale) { ExpressionLocale = Locale; }
unsigned char RegularExpressionCustom::ParseExpression() { return engine::ParseExpression(*this); }
unsigned char RegularExpressionCustom::ConvertREXResult(unsigned int code) { return engine::ConvertResultCode(code); }

long RegularExpressionCustom::GetExpressionErrorPosition() const { return engine::ExpressionErrorPosition(*this); }

System::AnsiString RegularExpressionCustom::GetExpressionError() const
{
    return System::AnsiString(engine::ExpressionError(*this));
}

int RegularExpressionCustom::NumberOfSubexpressions() { return engine::NumberOfSubexpressions(*this); }
int RegularExpressionCustom::NumberOfSubexpressions() const { return engine::CompiledSubexpressions(*this); }
System::AnsiString RegularExpressionCustom::GetMatchError() const { return System::AnsiString(MatchError); }
System::AnsiString RegularExpressionCustom::GetMatchErrorFile() const { return System::AnsiString(MatchErrorFile); }

// ---- String matching -------------------------------------------------------------------

bool RegularExpressionCustom::Match() { return engine::Match(*this); }
bool RegularExpressionCustom::MatchAll() { return engine::MatchAll(*this); }
bool RegularExpressionCustom::Search() { return engine::Search(*this); }
REMatchInfo RegularExpressionCustom::GetMatchingInformation() { return engine::GetMatchingInformation(*this); }
void RegularExpressionCustom::ResetMatches() { engine::ResetMatches(*this); }
unsigned int RegularExpressionCustom::Grep() { return engine::Grep(*this); }

bool RegularExpressionCustom::GrepCallbackPredicate(const reg_match<const char*>& Match)
{
    return engine::ContinueScan<engine::GrepScan<RegularExpressionCustom>>(*this, Match);
}

bool RegularExpressionCustom::MergeCallbackPredicate(const reg_match<const char*>& Match)
{
    return engine::ContinueScan<engine::MergeScan<RegularExpressionCustom>>(*this, Match);
}

// ---- Substitution ------------------------------------------------------------------------

void RegularExpressionCustom::Format(System::AnsiString& Result) const
{
    std::string text;
    engine::Format(*this, text);
    Result = System::AnsiString(text);
}

void RegularExpressionCustom::Merge(System::AnsiString& Result)
{
    Result = System::AnsiString();
    std::string text;
    engine::Merge(*this, text);
    Result = System::AnsiString(text);
}

// ---- Per-thread object stack ---------------------------------------------------------------

void RegularExpressionCustom::AllocateStack() { engine::AllocateStack(*this); }
void RegularExpressionCustom::DeallocateStack() { engine::DeallocateStack(*this); }

bool RegularExpressionCustom::FindFilesCallback(const char* file)
{
    return engine::ForwardFindFiles<RegularExpressionCustom>(file);
}

bool RegularExpressionCustom::GrepFilesCallback(const char* file, const RegexEngine::RegEx& walker)
{
    return engine::ForwardGrepFiles<RegularExpressionCustom>(file, walker);
}

bool RegularExpressionCustom::MergeFilesCallback(const char* file, const RegexEngine::RegEx& walker)
{
    return engine::ForwardMergeFiles<RegularExpressionCustom>(file, walker);
}

// ---- File operations -------------------------------------------------------------------------

unsigned int RegularExpressionCustom::FindFiles() { return engine::FindFiles(*this); }
bool RegularExpressionCustom::ThisFindFilesCallback(const char* file)
{
    return engine::ThisFindFilesCallback(*this, file);
}
unsigned int RegularExpressionCustom::GrepFiles() { return engine::GrepFiles(*this); }

bool RegularExpressionCustom::ThisGrepFilesCallback(const char* file, const RegexEngine::RegEx& walker)
{
    return engine::ThisGrepFilesCallback(*this, file, walker);
}

unsigned int RegularExpressionCustom::ChangeFiles() { return engine::ChangeFiles(*this); }

bool RegularExpressionCustom::ThisMergeFilesCallback(const char* file, const RegexEngine::RegEx& walker)
{
    return engine::ThisMergeFilesCallback(*this, file, walker);
}

const std::vector<RegularExpressionCustom::FileChangeProblem>* RegularExpressionCustom::GetChangeFilesErrors() const
{
    return engine::GetChangeFilesErrors(*this);
}

void RegularExpressionCustom::MergeUpdateFile() { engine::MergeUpdateFile(*this); }

void RegularExpressionCustom::MergeFileCleanup(void* source, void* temporary, const std::string& temporaryName)
{
    engine::MergeFileCleanup(*this, source, temporary, temporaryName);
}

unsigned int RegularExpressionCustom::GetFilePointer(void* handle) { return engine::FilePointerOf(handle); }
bool RegularExpressionCustom::BackupFile(const std::string& name) { return engine::BackupFile(*this, name); }

bool RegularExpressionCustom::ReadOnlyFile(const std::string& name)
{
    return (Vcl::FileGetAttr(System::AnsiString(name)) & Vcl::faReadOnly) != 0;
}

std::string RegularExpressionCustom::ReplaceExtension() { return engine::ReplaceExtension(*this); }

}  // namespace RegexComponent
