// The file operations of the expression objects, written once as templates
// over the object type: FindFiles, GrepFiles and ChangeFiles with their
// callbacks, the per-thread object stack, and the small members they use.
// The object's public members are used by name; what differs between the
// class library's object and the component's is asked of ObjectTraits.
//
// How a walk reaches its object: the engine's walkers call plain functions.
// Each operation pushes its object on the calling thread's object stack
// (found through the library's thread-local slot) for the length of the walk;
// the static callbacks forward to the object on top. So nested walks (a
// handler starting another file operation) and walks on several threads each
// reach their own object. The entry is removed however the walk ends.
//
// An object destroyed while one of its walks is in progress on the thread
// (from inside one of its handlers) is blanked out on the stack by its
// destructor (ForgetObject): the walk ends at its next callback and never
// touches the object again. An explicit DeallocateStack() during a walk
// leaves the stack and its entries alone.
#ifndef QUORVEX_ENGINE_FILEOPERATIONS_H
#define QUORVEX_ENGINE_FILEOPERATIONS_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <exception>
#include <iterator>
#include <memory>
#include <stack>
#include <string>
#include <utility>
#include <vector>

#include <boost/regex.hpp>

#include "Currentmatch.h"
#include "Filerewrite.h"
#include "Filesearcher.h"
#include "Objecttraits.h"
#include "Optionrules.h"
#include "Platform.h"
#include "RegEx.h"
#include "Regularexpressiontlsstack.h"
#include "Unicodeobject.h"

namespace RegexEngine {

// ---- Per-thread object stack ------------------------------------------------

template <class Object>
using ObjectStack = std::stack<Object*, std::deque<Object*>>;

// The entries of a stack, bottom first (std::stack keeps them protected).
template <class Object>
std::deque<Object*>& EntriesOf(ObjectStack<Object>& stack)
{
    struct Access : ObjectStack<Object> {
        static std::deque<Object*>& Of(ObjectStack<Object>& s) { return s.*(&Access::c); }
    };
    return Access::Of(stack);
}

// The calling thread's stack, or null.
template <class Object>
ObjectStack<Object>* ThreadObjectStack()
{
    return static_cast<ObjectStack<Object>*>(ObjectTraits<Object>::ThreadStack().GetValue());
}

// Frees a thread's stack when the thread ends.
template <class Object>
void ReleaseObjectStack(void* stack)
{
    delete static_cast<ObjectStack<Object>*>(stack);
}

template <class Object>
void AllocateStack(Object&)
{
    RegularExpressionTLSStack& slot = ObjectTraits<Object>::ThreadStack();
    if (slot.GetValue() != nullptr)
        return;
    auto* stack = new ObjectStack<Object>;
    slot.SetValue(stack);
    if (slot.GetValue() != stack)  // no slot: nothing could be stored
        delete stack;
}

// Frees the calling thread's stack when it is empty. While walks are in
// progress it stays as it is.
template <class Object>
void DeallocateStack(Object&)
{
    ObjectStack<Object>* stack = ThreadObjectStack<Object>();
    if (stack == nullptr || !stack->empty())
        return;
    ObjectTraits<Object>::ThreadStack().SetValue(nullptr);
    delete stack;
}

// For the destructor: blanks the entries of `object` on the calling thread's
// stack, so that walks it started there (it is being destroyed from inside
// one of its own handlers) end at their next callback; its string operations
// in progress on the thread end at their next step too.
template <class Object>
void ForgetObject(Object& object)
{
    LifeGuard::Forget(&object);  // and its string operations end at their next step
    ObjectStack<Object>* stack = ThreadObjectStack<Object>();
    if (stack == nullptr)
        return;
    for (Object*& entry : EntriesOf(*stack))
        if (entry == &object)
            entry = nullptr;
}

// The object whose walk is innermost on this thread, or null.
template <class Object>
Object* TopObject()
{
    ObjectStack<Object>* stack = ThreadObjectStack<Object>();
    return stack == nullptr || stack->empty() ? nullptr : stack->top();
}

// True when the innermost walk's object was destroyed during the walk.
template <class Object>
bool TopBlanked()
{
    ObjectStack<Object>* stack = ThreadObjectStack<Object>();
    return stack != nullptr && !stack->empty() && stack->top() == nullptr;
}

// One entry on the calling thread's stack for the length of a walk.
template <class Object>
class StackEntry {
public:
    explicit StackEntry(Object& object) : stack_(ThreadObjectStack<Object>())
    {
        if (stack_ != nullptr)
            stack_->push(&object);
    }
    ~StackEntry() { Pop(); }
    StackEntry(const StackEntry&) = delete;
    StackEntry& operator=(const StackEntry&) = delete;

    bool Pushed() const { return stack_ != nullptr; }
    // False when the object was destroyed during the walk.
    bool ObjectAlive() const { return stack_ != nullptr && !stack_->empty() && stack_->top() != nullptr; }
    void Pop()
    {
        if (stack_ != nullptr)
            stack_->pop();
        stack_ = nullptr;
    }

private:
    ObjectStack<Object>* stack_;
};

// The static callbacks: forward to the object on top; no object, no walk.
template <class Object>
bool ForwardFindFiles(const char* file)
{
    Object* object = TopObject<Object>();
    return object != nullptr && object->ThisFindFilesCallback(file);
}

template <class Object, class Engine>
bool ForwardGrepFiles(const char* file, const Engine& engine)
{
    Object* object = TopObject<Object>();
    return object != nullptr && object->ThisGrepFilesCallback(file, engine);
}

template <class Object, class Engine>
bool ForwardMergeFiles(const char* file, const Engine& engine)
{
    Object* object = TopObject<Object>();
    return object != nullptr && object->ThisMergeFilesCallback(file, engine);
}

// ---- Reports ------------------------------------------------------------------

// RecordPosition, RecordLine and FileMatchReport: Currentmatch.h.

// ---- FindFiles and GrepFiles ----------------------------------------------------

// An object type may carry walk settings of its own (links, line mode,
// per-file events): an overload of ConfigureWalk taking a pointer to it, found
// by argument-dependent lookup, hands them to the engine. Other objects walk
// with the engine's defaults.
inline void ConfigureWalk(const void*, RegEx&) {}
// Likewise for the naming of backup copies: the documented rule (the
// extension replaced) unless the object's overload says the extension is
// appended.
inline bool AppendsBackupExtension(const void*) { return false; }

// Sets `engine` up as the walk needs it; false when the walk must not run.
// The walk runs the object's own compilation, with all its options (syntax,
// case, collation, locale), so that it finds what the object's string
// operations and replacements find; an expression the object cannot compile
// stops the operation, with the object's text in GetExpressionError().
// The expression compiles up to its first NUL, so one that starts with NUL is
// the empty expression: nothing is walked (it would match at every position
// of every file).
template <class Object>
bool PrepareWalk(Object& object, RegEx& engine)
{
    object.MatchErrorFile.clear();
    if (object.Expression.empty() || object.Expression[0] == '\0' || object.FilesToMatch.empty())
        return false;
    if (object.ParseExpression() != 0)
        return false;
    // The walk searches with the object's own compilation, in Unicode mode
    // its Unicode one.
    if (UnicodeOn(object)) {
        if (engine.SetUnicodeExpression(UnicodeExpressionOf(object)) != 0)
            return false;
    } else if (engine.SetExpression(object.CompiledExpression, object.Expression) != 0) {
        return false;
    }
    ConfigureWalk(&object, engine);
    return true;
}

// Runs one walk with `object` on the thread's stack; `walk` calls the engine.
template <class Object, class Walk>
unsigned RunWalk(Object& object, RegEx& engine, Walk walk)
{
    object.AllocateStack();
    StackEntry<Object> entry(object);
    if (!entry.Pushed())
        return 0;
    const unsigned count = walk();
    if (entry.ObjectAlive() && !engine.MatchError().empty()) {
        object.MatchError = engine.MatchError();
        object.MatchErrorFile = engine.MatchErrorFile();
    }
    return count;
}

// FindFiles and GrepFiles: set the walker up with the object's compilation
// and walk with `start(engine, files, recurse, flags)`.
template <class Object, class Start>
unsigned ReportingWalk(Object& object, Start start)
{
    ClearMatchError(object);
    RegEx engine;
    if (!PrepareWalk(object, engine))
        return 0;
    const unsigned flags = object.GetMatchFlags();
    const std::string files = object.FilesToMatch;
    const bool recurse = object.DirectoryRecursion;
    return RunWalk(object, engine, [&] { return start(engine, files, recurse, flags); });
}

template <class Object>
unsigned FindFiles(Object& object)
{
    return ReportingWalk(object, [](RegEx& engine, const std::string& files, bool recurse, unsigned flags) {
        return engine.FindFiles(&Object::FindFilesCallback, files, recurse, flags);
    });
}

template <class Object>
bool ThisFindFilesCallback(Object& object, const char* file)
{
    using Traits = ObjectTraits<Object>;
    const auto handler = Traits::OnFindFiles(object);
    if (!handler)
        return true;
    bool go = true;
    handler(&object, Traits::MakeFileText(file), go);
    return go;
}

template <class Object>
unsigned GrepFiles(Object& object)
{
    return ReportingWalk(object, [](RegEx& engine, const std::string& files, bool recurse, unsigned flags) {
        return engine.GrepFiles(&Object::GrepFilesCallback, files, recurse, flags);
    });
}

template <class Object, class Engine>
bool ThisGrepFilesCallback(Object& object, const char* file, const Engine& engine)
{
    using Traits = ObjectTraits<Object>;
    const auto handler = Traits::OnGreppingFiles(object);
    if (!handler)
        return true;
    const auto report = FileMatchReport<Object>(engine);
    bool go = true;
    {
        const FileMatchScope<Object> current(object, engine);  // Format() answers for this match
        handler(&object, Traits::MakeFileText(file), report, RecordLine(engine.Line()), go);
    }
    return go;
}

// ---- ChangeFiles ------------------------------------------------------------------

template <class Object>
void ClearPendingFile(Object& object)
{
    object.PendingFile.FileName.clear();
    object.PendingFile.Greps.clear();
    object.PendingFile.ReadState = decltype(object.PendingFile.ReadState)();
}

// A file in which matching failed: what was collected of it is dropped (it
// stays as it was) and it is named in the problem list, with the engine's
// text.
template <class Object>
void RefuseUnmatchedFile(Object& object, const std::string& file, const std::string& error)
{
    using Traits = ObjectTraits<Object>;
    if (object.PendingFile.FileName == file)
        ClearPendingFile(object);
    object.ChangeProblems.push_back(Traits::MakeProblem(file, RewriteMatchFailed, 0, error, 0));
}

// What one ChangeFiles call keeps while it walks: what its rewrites remember
// between files (RewriteRun), the walk's compilation for the rewrites'
// searches, and what the walk reported of the file it is collecting.
struct ChangeState {
    RewriteRun Run;
    std::shared_ptr<const CompiledPattern> Pattern;  // null: the files cannot be searched again
    unsigned SearchFlags = 0;  // the walk's flags (lineModeFlag in line mode)
    boost::regex Expression;   // the compilation the replacements are expanded with
    unsigned Flags = 0;        // its match flags
    std::shared_ptr<const UnicodeExpression> Unicode;  // set in Unicode mode
    RewriteSeen Seen;          // the pending file's matches, as reported
    bool Stopped = false;      // a handler stopped the walk in the pending file
    bool Searched = false;     // the pending file is searched again, not collected
    std::size_t Collected = 0; // bytes collected of the pending file
};

// The ChangeFiles calls in progress on this thread, innermost last, each with
// its state: MergeUpdateFile finds the run of its object here without the
// object carrying it.
struct ActiveRun {
    const void* Object;
    ChangeState* State;
};

inline std::vector<ActiveRun>& ActiveRuns()
{
    static thread_local std::vector<ActiveRun> runs;
    return runs;
}

// The state of `object`'s innermost ChangeFiles on this thread, or null.
inline ChangeState* StateOf(const void* object)
{
    std::vector<ActiveRun>& runs = ActiveRuns();
    for (auto it = runs.rbegin(); it != runs.rend(); ++it)
        if (it->Object == object)
            return it->State;
    return nullptr;
}

// The run of `object`'s innermost ChangeFiles on this thread, or null.
inline RewriteRun* RunOf(const void* object)
{
    ChangeState* state = StateOf(object);
    return state != nullptr ? &state->Run : nullptr;
}

// One entry of ActiveRuns for the length of a ChangeFiles call.
class RunEntry {
public:
    explicit RunEntry(const void* object) { ActiveRuns().push_back(ActiveRun{object, &state_}); }
    ~RunEntry()
    {
        std::vector<ActiveRun>& runs = ActiveRuns();
        for (auto it = runs.rbegin(); it != runs.rend(); ++it)
            if (it->State == &state_) {
                runs.erase(std::next(it).base());
                break;
            }
    }
    RunEntry(const RunEntry&) = delete;
    RunEntry& operator=(const RunEntry&) = delete;

    ChangeState& State() { return state_; }

private:
    ChangeState state_;
};

// Whether the object walks in line mode (objects without the setting walk
// whole files, as ConfigureWalk leaves them).
template <class Object>
auto WalkLineMode(const Object& object, int) -> decltype(bool(object.GetLineMode()))
{
    return object.GetLineMode();
}
template <class Object>
bool WalkLineMode(const Object&, long)
{
    return false;
}

template <class Object>
bool ChangeWalkCallback(const char* file, const RegEx& engine);
template <class Object>
bool FinishChange(Object& object, ChangeState& state);

// What a ChangeFiles nested in another one on the same object keeps apart:
// the file the outer call is collecting and its count of changes. (The outer
// call still notices when the inner one changed its pending file: the rewrite
// finds the text changed and leaves the file as it is.)
template <class Object>
struct OuterChange {
    typename Object::MergeFileInformation Pending;
    unsigned Changes = 0;
};

template <class Object>
unsigned ChangeFiles(Object& object)
{
    const bool nested = !object.MergeSaves.empty();
    if (!nested)
        object.ChangeProblems.clear();
    object.MatchError.clear();
    if (object.FormatString.empty())
        return 0;
    RegEx engine;
    if (!PrepareWalk(object, engine))
        return 0;
    engine.SetFirstMatchOfLine(false);  // a rewrite replaces every match
    engine.SetContinueAfterMatchError(false);  // a file it cannot match ends the rewrite
    // The replacements use the object's own compilation; without one there is
    // nothing to write, so nothing is walked.
    if (object.ParseExpression() != 0)
        return 0;

    OuterChange<Object> outer;
    if (nested) {
        outer.Pending = std::move(object.PendingFile);
        ClearPendingFile(object);
        outer.Changes = object.NumberOfChanges;
    }
    object.NumberOfChanges = 0;

    typename Object::MergeSave save;
    save.CompiledExpression = object.CompiledExpression;
    save.Flags = object.GetMatchFlags();
    if constexpr (HasUnicodeMode<Object>::value)
        save.Unicode = UnicodeExpressionOf(object);
    const unsigned flags = save.Flags;
    RunEntry run(&object);
    ChangeState& state = run.State();
    state.Expression = save.CompiledExpression;
    state.Flags = save.Flags;
    state.SearchFlags = SearchFlags(flags) | (WalkLineMode(object, 0) ? lineModeFlag : 0u);
    unsigned patternError = 0;
    if constexpr (HasUnicodeMode<Object>::value) {
        state.Unicode = save.Unicode;
        if (state.Unicode)
            state.Pattern = UnicodePattern(state.Unicode, patternError);
    }
    if (!state.Unicode)
        state.Pattern = AdoptPattern(state.Expression, object.Expression, patternError);
    object.MergeSaves.push(std::move(save));
    const std::string files = object.FilesToMatch;
    const bool recurse = object.DirectoryRecursion;

    object.AllocateStack();
    StackEntry<Object> entry(object);
    if (!entry.Pushed()) {
        object.MergeSaves.pop();
        if (nested)
            object.PendingFile = std::move(outer.Pending);
        return 0;
    }
    try {
        engine.GrepFiles(&ChangeWalkCallback<Object>, files, recurse, flags);
    } catch (...) {
        // A handler threw: what was collected for the current file is dropped
        // (the file stays as it is); files already rewritten stay rewritten.
        if (entry.ObjectAlive()) {
            object.MergeSaves.pop();
            ClearPendingFile(object);
            if (nested) {
                object.PendingFile = std::move(outer.Pending);
                object.NumberOfChanges = outer.Changes;
            }
        }
        throw;
    }
    const bool alive = entry.ObjectAlive();
    entry.Pop();
    if (!alive)
        return 0;
    if (!engine.MatchError().empty()) {
        // Matching failed inside a file: whatever was collected of it is
        // dropped, so it stays exactly as it was; files before it stay
        // rewritten.
        if (object.MatchError.empty())
            object.MatchError = engine.MatchError();
        RefuseUnmatchedFile(object, engine.MatchErrorFile(), engine.MatchError());
    }
    FinishChange(object, state);
    object.MergeSaves.pop();
    const unsigned changes = object.NumberOfChanges;
    if (nested) {
        object.PendingFile = std::move(outer.Pending);
        object.NumberOfChanges = outer.Changes;
    }
    return changes;
}

// The reason recorded for a file whose matches lie beyond what the 32-bit
// position of a collected match can hold: it is left unchanged.
template <class Object>
void RefuseLargeFile(Object& object, const char* file)
{
    using Traits = ObjectTraits<Object>;
    object.ChangeProblems.push_back(Traits::MakeProblem(file, RewriteReadFailed, UINT_MAX, std::string(),
                                                        RegexPlatform::ValueTooLargeError()));
}

// The state of the file as the walk read it, in the object's record and back.
template <class Record>
void StoreState(Record& record, const RegexPlatform::FileState& state)
{
    record.Device = state.Device;
    record.Identity = state.Identity;
    record.Size = state.Size;
    record.ModifiedSeconds = state.ModifiedSeconds;
    record.ModifiedNanoseconds = state.ModifiedNanoseconds;
    record.Known = state.Known;
}

template <class Record>
RegexPlatform::FileState LoadState(const Record& record)
{
    RegexPlatform::FileState state;
    state.Device = record.Device;
    state.Identity = record.Identity;
    state.Size = record.Size;
    state.ModifiedSeconds = record.ModifiedSeconds;
    state.ModifiedNanoseconds = record.ModifiedNanoseconds;
    state.Known = record.Known;
    return state;
}

// The replacement of the current match, expanded against the match as it
// stands in the file: the object's own compilation (all its options) is run
// anchored at the match's start over the file's bytes, with the text before
// it visible (look-behind, ^, \b, \< see it) and the text after it (look-ahead,
// $). Where that compilation does not match the same span (its syntax options
// differ from the walk's), the format is merged over the match text alone.
// The expansion of `format` for the match [start, end) of the bytes [data,
// data + size): `compiled` run anchored at the match's start, with the bytes
// before it visible (look-behind, ^, \b, \< see them) and those after it
// (look-ahead, $); `atStart` when data[0] begins the subject. Where that run
// does not match the same span, the format is merged over the match text
// alone.
inline std::string ReplacementIn(const boost::regex& compiled, const std::string& format, unsigned matchFlags,
                                 const char* data, std::size_t size, std::size_t start, std::size_t end, bool atStart)
{
    namespace rc = boost::regex_constants;
    const auto flags = static_cast<rc::match_flag_type>(matchFlags);
    const bool valid = data != nullptr && start <= end && end <= size;
    if (valid) {
        const char* first = data + start;
        boost::cmatch found;
        auto anchored = flags | rc::match_continuous | (start > 0 ? rc::match_prev_avail : rc::match_default);
        if (!atStart)
            anchored |= rc::match_not_bob;
        if (boost::regex_search(first, data + size, found, compiled, anchored, data) && found[0].first == first &&
            found[0].second == data + end) {
            std::string out;
            found.format(std::back_inserter(out), format, flags | rc::format_all, compiled);
            return out;
        }
    }
    const std::string match = valid ? std::string(data + start, end - start) : std::string();
    return boost::regex_replace(match, compiled, format, flags | rc::format_all);
}

// The replacement of the current match, expanded against the match as it
// stands in the file: the object's own compilation (all its options) is run
// anchored at the match's start over the file's bytes, with the text before
// it visible (look-behind, ^, \b, \< see it) and the text after it (look-ahead,
// $). Where that compilation does not match the same span (its syntax options
// differ from the walk's), the format is merged over the match text alone.
template <class Object, class Engine>
std::string ContextReplacement(Object& object, const Engine& engine, std::uint64_t position,
                               const std::string& match)
{
    namespace rc = boost::regex_constants;
    const auto& save = object.MergeSaves.top();
    const auto flags = static_cast<rc::match_flag_type>(save.Flags);
    const char* data = engine.FileData();
    const std::uint64_t size = engine.FileSize();
    if constexpr (HasUnicodeMode<Object>::value) {
        if (save.Unicode)
            return UnicodeContextReplacement(*save.Unicode, object.FormatString, object.ExpressionLocale, flags,
                                             data, static_cast<std::size_t>(size), static_cast<std::size_t>(position),
                                             match);
    }
    if (data != nullptr && position <= size && match.size() <= size - position)
        return ReplacementIn(save.CompiledExpression, object.FormatString, save.Flags, data,
                             static_cast<std::size_t>(size), static_cast<std::size_t>(position),
                             static_cast<std::size_t>(position + match.size()), true);
    return boost::regex_replace(match, save.CompiledExpression, object.FormatString, flags | rc::format_all);
}

// Checked once per file, at its first match: a backup copy or a read-only
// file ends the walk, and is named in the problem list.
template <class Object>
bool StopsAtFile(Object& object, const char* file)
{
    if (!object.BackupFile(file) && !object.ReadOnlyFile(file))
        return false;
    object.ChangeProblems.push_back(
        ObjectTraits<Object>::MakeProblem(file, RewriteStoppedHere, 0, std::string(), 0));
    return true;
}

// The OnChangingFiles event for the current match, when a handler is set;
// `go` is its answer. False when the handler destroyed the object.
template <class Object, class Engine>
bool AskChangingFiles(Object& object, const char* file, const Engine& engine, bool& go)
{
    using Traits = ObjectTraits<Object>;
    const auto handler = Traits::OnChangingFiles(object);
    if (!handler)
        return true;
    const auto report = FileMatchReport<Object>(engine);
    {
        const FileMatchScope<Object> current(object, engine);  // Format() answers for this match
        handler(&object, Traits::MakeFileText(file), report, RecordLine(engine.Line()), go);
    }
    return !TopBlanked<Object>();
}

template <class Object, class Engine>
bool ThisMergeFilesCallback(Object& object, const char* file, const Engine& engine)
{
    if (object.PendingFile.FileName != file) {
        object.MergeUpdateFile();
        if (StopsAtFile(object, file))
            return false;
    }
    bool go = true;
    if (!AskChangingFiles(object, file, engine, go))
        return false;  // the object was destroyed by its handler
    if (!go)
        return false;

    const bool first = object.PendingFile.FileName.empty();
    if (first) {
        object.PendingFile.FileName = file;
        StoreState(object.PendingFile.ReadState, engine.FileState());
    }
    const std::uint64_t position = engine.Position(0);
    if (position > UINT_MAX) {
        // Refused once per file; what was collected of it is dropped so that
        // it stays exactly as it is.
        if (first || !object.PendingFile.Greps.empty())
            RefuseLargeFile(object, file);
        object.PendingFile.Greps.clear();
        return true;
    }
    if (!first && object.PendingFile.Greps.empty())
        return true;  // refused earlier

    std::string match = engine.What(0);
    std::string replacement;
    try {
        if (object.MergeSaves.empty())
            return false;
        replacement = ContextReplacement(object, engine, position, match);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        // The engine gave up on the match (complexity or memory limits): the
        // walk ends as if a handler had stopped it, and this file stays as
        // it was.
        object.MatchError = error.what();
        RefuseUnmatchedFile(object, file, object.MatchError);
        return false;
    }
    typename Object::MergeFileInformation::GrepInformation grep;
    grep.Position = static_cast<unsigned>(position);
    grep.Match = std::move(match);
    grep.Replacement = std::move(replacement);
    object.PendingFile.Greps.push_back(std::move(grep));
    return true;
}

template <class Object>
void MergeUpdateFile(Object& object)
{
    using Traits = ObjectTraits<Object>;
    if (object.PendingFile.FileName.empty() || object.PendingFile.Greps.empty()) {
        ClearPendingFile(object);
        return;
    }
    const std::string backup = object.SaveExtension.empty() ? std::string() : object.ReplaceExtension();
    typename Object::MergeFileInformation pending = std::move(object.PendingFile);
    ClearPendingFile(object);
    if (!backup.empty() && !IsSafeSaveExtension(object.SaveExtension)) {
        // The backup would be written somewhere else than beside the file:
        // the file stays as it is.
        object.ChangeProblems.push_back(
            Traits::MakeProblem(backup, RewriteBackupFailed, 0, std::string(), RegexPlatform::InvalidArgumentError()));
        return;
    }

    std::vector<RewriteEdit> edits;
    edits.reserve(pending.Greps.size());
    for (const auto& grep : pending.Greps) {
        RewriteEdit edit;
        edit.Position = grep.Position;
        edit.Match = grep.Match;
        edit.Replacement = grep.Replacement;
        edits.push_back(edit);
    }
    const RegexPlatform::FileState read = LoadState(pending.ReadState);
    const RewriteOutcome outcome = RewriteFile(pending.FileName, edits, backup, &read, RunOf(&object));
    if (outcome.Replaced)
        object.NumberOfChanges += static_cast<unsigned>(pending.Greps.size());
    for (const RewriteProblem& problem : outcome.Problems) {
        const unsigned position = problem.Position > UINT_MAX ? UINT_MAX : static_cast<unsigned>(problem.Position);
        object.ChangeProblems.push_back(
            Traits::MakeProblem(problem.FileName, problem.Reason, position, problem.Text, problem.SystemError));
    }
}

// ---- ChangeFiles' walk and rewrites -------------------------------------------
//
// The walk reports every match (the OnChangingFiles event). While a file's
// matches are few, each is collected with its replacement (PendingFile) and
// the rewrite checks every one against the file's bytes as it copies them.
// Once what is collected of a file passes CollectedBytes, or a match lies
// beyond what a collected position holds (4 GiB), the file is searched
// instead: what was collected is dropped, the walk remembers only how many
// matches it reported and a digest of their spans, and the rewrite searches
// the file again under its lock, with the same compilation and flags,
// writing each replacement into the new file as it finds the match. Then
// nothing grows with the file or its number of matches. A searched file whose
// matches are no longer those the walk reported stays as it is (TextChanged
// at position 0); a walk stopped by a handler in a file replaces the matches
// reported before the stop, either way.

// What may be collected of one file (match and replacement texts) before it
// is searched instead.
constexpr std::size_t CollectedBytes = std::size_t(4) << 20;

// Expands the replacements of a searched rewrite with the object's format.
template <class Object>
class ChangeFormatter final : public RewriteFormatter {
public:
    ChangeFormatter(const Object& object, const ChangeState& state) : object_(object), state_(state) {}

    std::string Format(const RewriteMatch& match) override
    {
        if constexpr (HasUnicodeMode<Object>::value) {
            if (state_.Unicode) {
                const std::string text(match.Data + match.Start, match.End - match.Start);
                return UnicodeContextReplacement(*state_.Unicode, object_.FormatString, object_.ExpressionLocale,
                                                 static_cast<boost::regex_constants::match_flag_type>(state_.Flags),
                                                 match.Data, match.Size, match.Start, text);
            }
        }
        return ReplacementIn(state_.Expression, object_.FormatString, state_.Flags, match.Data, match.Size,
                             match.Start, match.End, match.AtFileStart);
    }

private:
    const Object& object_;
    const ChangeState& state_;
};

// Rewrites the pending file. False when the engine gave up on a replacement
// there: the walk ends, as it did when a replacement failed during the walk.
template <class Object>
bool FinishChange(Object& object, ChangeState& state)
{
    using Traits = ObjectTraits<Object>;
    const RewriteSeen seen = state.Seen;
    const bool stopped = state.Stopped;
    const bool searched = state.Searched;
    state.Seen = RewriteSeen();
    state.Stopped = false;
    state.Searched = false;
    state.Collected = 0;
    if (!searched) {
        object.MergeUpdateFile();
        return true;
    }
    if (object.PendingFile.FileName.empty() || seen.Matches == 0) {
        ClearPendingFile(object);
        return true;
    }
    const std::string backup = object.SaveExtension.empty() ? std::string() : object.ReplaceExtension();
    const std::string file = object.PendingFile.FileName;
    const RegexPlatform::FileState read = LoadState(object.PendingFile.ReadState);
    ClearPendingFile(object);
    if (!backup.empty() && !IsSafeSaveExtension(object.SaveExtension)) {
        // The backup would be written somewhere else than beside the file:
        // the file stays as it is.
        object.ChangeProblems.push_back(
            Traits::MakeProblem(backup, RewriteBackupFailed, 0, std::string(), RegexPlatform::InvalidArgumentError()));
        return true;
    }
    if (!state.Pattern) {
        object.ChangeProblems.push_back(Traits::MakeProblem(file, RewriteMatchFailed, 0, std::string(), 0));
        return true;
    }
    ChangeFormatter<Object> formatter(object, state);
    SearchedEdits edits(*state.Pattern, state.SearchFlags, formatter);
    edits.Expected = &seen;
    if (stopped)
        edits.Limit = seen.Matches;
    edits.NeedsWholeFile = FormatReadsAroundMatch(object.FormatString);
    const RewriteOutcome outcome = RewriteFile(file, edits, backup, &read, &state.Run);
    if (outcome.Replaced)
        object.NumberOfChanges += static_cast<unsigned>(outcome.Edits);
    bool go = true;
    for (const RewriteProblem& problem : outcome.Problems) {
        const unsigned position = problem.Position > UINT_MAX ? UINT_MAX : static_cast<unsigned>(problem.Position);
        object.ChangeProblems.push_back(
            Traits::MakeProblem(problem.FileName, problem.Reason, position, problem.Text, problem.SystemError));
        if (problem.Reason == RewriteMatchFailed) {
            if (object.MatchError.empty())
                object.MatchError = problem.Text;
            go = false;
        }
    }
    return go;
}

// One match of ChangeFiles' walk.
template <class Object, class Engine>
bool ThisChangeCallback(Object& object, ChangeState& state, const char* file, const Engine& engine)
{
    if (object.PendingFile.FileName != file) {
        if (!FinishChange(object, state))
            return false;
        if (StopsAtFile(object, file))
            return false;
    }
    bool go = true;
    if (!AskChangingFiles(object, file, engine, go))
        return false;  // the object was destroyed by its handler
    if (!go) {
        // The matches reported before this one are replaced.
        if (object.PendingFile.FileName == file)
            state.Stopped = true;
        return false;
    }
    if (object.PendingFile.FileName.empty()) {
        object.PendingFile.FileName = file;
        StoreState(object.PendingFile.ReadState, engine.FileState());
        state.Seen = RewriteSeen();
        state.Stopped = false;
        state.Collected = 0;
        state.Searched = RewriteWindow() != 0;
    }
    const std::uint64_t position = engine.Position(0);
    std::string match = engine.What(0);
    state.Seen.Add(position, position + match.size());
    if (state.Searched)
        return true;
    if (position > UINT_MAX || state.Collected + match.size() > CollectedBytes) {
        // Too much to collect, or beyond what a collected position holds:
        // the file is searched again by its rewrite.
        state.Searched = true;
        decltype(object.PendingFile.Greps)().swap(object.PendingFile.Greps);
        return true;
    }
    std::string replacement;
    try {
        if (object.MergeSaves.empty())
            return false;
        replacement = ContextReplacement(object, engine, position, match);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        // The engine gave up on the match (complexity or memory limits): the
        // walk ends as if a handler had stopped it, and this file stays as
        // it was.
        object.MatchError = error.what();
        RefuseUnmatchedFile(object, file, object.MatchError);
        state.Seen = RewriteSeen();
        return false;
    }
    state.Collected += match.size() + replacement.size() + sizeof(typename Object::MergeFileInformation::GrepInformation);
    typename Object::MergeFileInformation::GrepInformation grep;
    grep.Position = static_cast<unsigned>(position);
    grep.Match = std::move(match);
    grep.Replacement = std::move(replacement);
    object.PendingFile.Greps.push_back(std::move(grep));
    return true;
}

template <class Object>
bool ChangeWalkCallback(const char* file, const RegEx& engine)
{
    Object* object = TopObject<Object>();
    ChangeState* state = object != nullptr ? StateOf(object) : nullptr;
    return state != nullptr && ThisChangeCallback(*object, *state, file, engine);
}

template <class Object>
void MergeFileCleanup(Object& object, void* source, void* temporary, const std::string& temporaryName)
{
    CloseAndRemove(source, temporary, temporaryName);
    ClearPendingFile(object);
}

template <class Object>
auto GetChangeFilesErrors(const Object& object) -> decltype(&object.ChangeProblems)
{
    return object.ChangeProblems.empty() ? nullptr : &object.ChangeProblems;
}

template <class Object>
std::string ReplaceExtension(const Object& object)
{
    return BackupNameOf(object.PendingFile.FileName, object.SaveExtension, AppendsBackupExtension(&object));
}

template <class Object>
bool BackupFile(const Object& object, const std::string& name)
{
    return HasSaveExtension(name, object.SaveExtension);
}

}  // namespace RegexEngine

#endif
