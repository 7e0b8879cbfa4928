// RegularExpression: lifecycle, plain settings, the expression and its
// compilation, and the event slots. The algorithms live in the engine layer.
#include "Regularexpressionclass.h"

#include "Eventslots.h"
#include "Fileoperations.h"
#include "Objectsettings.h"
#include "Regularexpressiontraits.h"

namespace RegexClass {

namespace engine = RegexEngine;

namespace {

// The walk settings of the tool-facing queries travel with the object like
// its event slots; they are not part of the stored settings.
void CopyWalkSettings(RegularExpression& to, const RegularExpression& from)
{
    to.LineMode = from.LineMode;
    to.FirstMatchOfLine = from.FirstMatchOfLine;
    to.BackupAppends = from.BackupAppends;
    to.ContinueAfterMatchError = from.ContinueAfterMatchError;
    to.Links = from.Links;
    to.OnWalkingFilesClosure = from.OnWalkingFilesClosure;
    to.OnFilteringFilesClosure = from.OnFilteringFilesClosure;
    to.OnWalkingFilesHandler = from.OnWalkingFilesHandler;
    to.OnFilteringFilesHandler = from.OnFilteringFilesHandler;
}

}  // namespace

// ---- Lifecycle -----------------------------------------------------------

RegularExpression::RegularExpression()
{
    engine::DefaultSettings(*this);
}

RegularExpression::RegularExpression(const RegularExpression& other)
{
    engine::AssignSettings(*this, other);
    engine::CopyEventSlots(*this, other);
    CopyWalkSettings(*this, other);
}

RegularExpression& RegularExpression::operator=(const RegularExpression& other)
{
    if (this == &other)
        return *this;
    engine::AssignSettings(*this, other);
    engine::CopyEventSlots(*this, other);
    CopyWalkSettings(*this, other);
    return *this;
}

bool RegularExpression::operator==(const RegularExpression& other) const
{
    return engine::SameSettings(*this, other);
}

RegularExpression::~RegularExpression()
{
    engine::ForgetObject(*this);
    DeallocateStack();
}

// ---- Plain settings ------------------------------------------------------

std::string RegularExpression::GetStringToMatch() const { return StringToMatch; }
void RegularExpression::SetStringToMatch(const std::string& text) { StringToMatch = text; }
std::string RegularExpression::GetFilesToMatch() const { return FilesToMatch; }
void RegularExpression::SetFilesToMatch(const std::string& files) { FilesToMatch = files; }
std::string RegularExpression::GetFormatString() const { return FormatString; }
void RegularExpression::SetFormatString(const std::string& format) { FormatString = format; }
std::string RegularExpression::GetSaveExtension() const { return SaveExtension; }
void RegularExpression::SetSaveExtension(const std::string& extension) { SaveExtension = extension; }
bool RegularExpression::GetDirectoryRecursion() const { return DirectoryRecursion; }
void RegularExpression::SetDirectoryRecursion(bool recurse) { DirectoryRecursion = recurse; }
bool RegularExpression::GetMergeCopy() const { return MergeCopy; }
void RegularExpression::SetMergeCopy(bool copy) { MergeCopy = copy; }

// ---- Expression and compilation ------------------------------------------

void RegularExpression::SetUnicode(bool on) { engine::SetUnicode(*this, on); }
bool RegularExpression::GetUnicode() const { return Unicode; }
bool RegularExpression::IsUnicodeAvailable() { return engine::UnicodeAvailable(); }

std::string RegularExpression::GetExpression() const { return Expression; }
void RegularExpression::SetExpression(const std::string& text) { engine::SetExpression(*this, text); }
// The new locale reaches the engine at the next compilation.
void RegularExpression::SetLocale(const std::locale& locale) { ExpressionLocale = locale; }
std::locale RegularExpression::GetLocale() const { return ExpressionLocale; }
unsigned char RegularExpression::ParseExpression() { return engine::ParseExpression(*this); }
unsigned char RegularExpression::ConvertREXResult(unsigned int code) { return engine::ConvertResultCode(code); }
std::string RegularExpression::GetExpressionError() const { return engine::ExpressionError(*this); }
long RegularExpression::GetExpressionErrorPosition() const { return engine::ExpressionErrorPosition(*this); }
int RegularExpression::NumberOfSubexpressions() { return engine::NumberOfSubexpressions(*this); }
int RegularExpression::NumberOfSubexpressions() const { return engine::CompiledSubexpressions(*this); }
std::string RegularExpression::GetMatchError() const { return MatchError; }
std::string RegularExpression::GetMatchErrorFile() const { return MatchErrorFile; }

// ---- Events --------------------------------------------------------------

#define QUORVEX_EVENT_ACCESSORS(Event, Function, ClosureType, HandlerType)                      \
    void RegularExpression::Set##Event(Function handler)                                        \
    {                                                                                           \
        engine::SetFunctionSlot(Event, Event##Closure, handler);                                \
        if (handler != nullptr)                                                                 \
            Event##Handler = nullptr;                                                           \
    }                                                                                           \
    RegularExpression::Function RegularExpression::Get##Event() const { return Event; }          \
    void RegularExpression::Set##Event##Closure(ClosureType handler)                            \
    {                                                                                           \
        engine::SetClosureSlot(Event, Event##Closure, handler);                                 \
        if (handler.IsSet())                                                                    \
            Event##Handler = nullptr;                                                           \
    }                                                                                           \
    RegularExpression::ClosureType RegularExpression::Get##Event##Closure() const { return Event##Closure; } \
    void RegularExpression::Set##Event##Handler(HandlerType handler)                            \
    {                                                                                           \
        engine::SetCallableSlot(Event, Event##Closure, Event##Handler, std::move(handler));     \
    }                                                                                           \
    RegularExpression::HandlerType RegularExpression::Get##Event##Handler() const { return Event##Handler; }

QUORVEX_EVENT_ACCESSORS(OnMatching, MatchingEvent, MatchingEventClosure, MatchingEventHandler)
QUORVEX_EVENT_ACCESSORS(OnSearching, MatchingEvent, MatchingEventClosure, MatchingEventHandler)
QUORVEX_EVENT_ACCESSORS(OnGrepping, GreppingEvent, GreppingEventClosure, GreppingEventHandler)
QUORVEX_EVENT_ACCESSORS(OnGreppingFiles, FileMatchesEvent, FileMatchesEventClosure, FileMatchesEventHandler)
QUORVEX_EVENT_ACCESSORS(OnFindFiles, FindFilesEvent, FindFilesEventClosure, FindFilesEventHandler)
QUORVEX_EVENT_ACCESSORS(OnMerging, GreppingEvent, GreppingEventClosure, GreppingEventHandler)
QUORVEX_EVENT_ACCESSORS(OnChangingFiles, FileMatchesEvent, FileMatchesEventClosure, FileMatchesEventHandler)

#undef QUORVEX_EVENT_ACCESSORS

}  // namespace RegexClass
