// Keeping the current match of an object safe across nested operations, and
// the file match a file operation reports.
//
// An object's current match (MatchResults for Match/MatchAll/Search,
// ActiveMatch for Grep/Merge) is what GetMatchingInformation and Format read
// inside an event handler. A handler may start another string operation on
// its sender; that inner operation must neither destroy nor hide the outer
// one's match. Each operation that raises events therefore parks the current
// match on entry and puts it back on exit (also when a handler throws), so
// that inside it only its own match is current.
#ifndef QUORVEX_ENGINE_CURRENTMATCH_H
#define QUORVEX_ENGINE_CURRENTMATCH_H

#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include <boost/regex.hpp>

#include "Objecttraits.h"
#include "RegEx.h"

namespace RegexEngine {

// Whether the object an operation runs on still exists. A handler may destroy
// its sender; the operation that raised the event must then end at its next
// step without touching the object again. Each operation that raises events
// keeps a LifeGuard for its length; the guards of the calling thread form a
// chain (operations nest strictly, one inside another's handler), and an
// object's destructor marks every guard of its own as dead (Forget).
class LifeGuard {
public:
    explicit LifeGuard(const void* object) noexcept : object_(object), outer_(Chain()) { Chain() = this; }
    ~LifeGuard() { Chain() = outer_; }
    LifeGuard(const LifeGuard&) = delete;
    LifeGuard& operator=(const LifeGuard&) = delete;

    bool Alive() const noexcept { return alive_; }
    const bool* AliveFlag() const noexcept { return &alive_; }

    // For an object's destructor: the operations running on `object` on the
    // calling thread end at their next step.
    static void Forget(const void* object) noexcept
    {
        for (LifeGuard* guard = Chain(); guard != nullptr; guard = guard->outer_)
            if (guard->object_ == object)
                guard->alive_ = false;
    }

private:
    // The innermost guard of the calling thread (a plain pointer: nothing to
    // destroy when the thread ends).
    static LifeGuard*& Chain() noexcept
    {
        static thread_local LifeGuard* innermost = nullptr;
        return innermost;
    }

    const void* object_;
    LifeGuard* outer_;
    bool alive_ = true;
};

template <class Object>
class CurrentMatchScope {
public:
    explicit CurrentMatchScope(Object& object) noexcept
        : object_(object), life_(&object), results_(std::move(object.MatchResults)), active_(object.ActiveMatch)
    {
        object_.MatchResults = nullptr;
        object_.ActiveMatch = nullptr;
    }
    ~CurrentMatchScope()
    {
        if (!life_.Alive())
            return;  // destroyed by a handler: there is nothing to put back
        object_.MatchResults = std::move(results_);
        object_.ActiveMatch = active_;
    }
    CurrentMatchScope(const CurrentMatchScope&) = delete;
    CurrentMatchScope& operator=(const CurrentMatchScope&) = delete;

    // True when the operation was started from inside another one's event.
    bool Nested() const noexcept { return results_ != nullptr || active_ != nullptr; }
    // False once a handler destroyed the object.
    bool Alive() const noexcept { return life_.Alive(); }
    const LifeGuard& Life() const noexcept { return life_; }

private:
    Object& object_;
    LifeGuard life_;
    decltype(Object::MatchResults) results_;
    decltype(Object::ActiveMatch) active_;
};

// Every operation starts with no matching error.
template <class Object>
void ClearMatchError(Object& object)
{
    object.MatchError.clear();
    object.MatchErrorFile.clear();
}

// ---- The file match a file operation reports ----------------------------

// A file offset in a signed 32-bit record field: -1 for a sub-match that took
// no part and for an offset that no 32-bit field can hold.
inline int RecordPosition(std::uint64_t position)
{
    return position > static_cast<std::uint64_t>(INT_MAX) ? -1 : static_cast<int>(position);
}

inline unsigned RecordLine(std::uint64_t line) { return line > UINT_MAX ? UINT_MAX : static_cast<unsigned>(line); }

// The report of the engine's current match: the whole match and each
// sub-expression, with file offsets.
template <class Object, class Engine>
typename ObjectTraits<Object>::List FileMatchReport(const Engine& engine)
{
    using Traits = ObjectTraits<Object>;
    typename Traits::List list;
    const unsigned marks = engine.Marks();
    list.reserve(marks);
    for (unsigned i = 0; i < marks; ++i) {
        const std::string text = engine.What(i);
        typename Traits::Record record;
        record.Text = Traits::MakeText(text.data(), text.data() + text.size());
        record.Position = RecordPosition(engine.Position(i));
        list.push_back(std::move(record));
    }
    return list;
}

// The file match a file operation is reporting to a handler of an object, so
// that the object's Format and GetMatchingInformation answer for it. The
// frames of the calling thread form a chain, innermost first, as the guards
// above do.
class FileMatchFrame {
public:
    // A null engine pushes nothing (an engine that offers no file match).
    FileMatchFrame(const void* object, const RegEx* engine) noexcept
        : object_(object), engine_(engine), outer_(Chain())
    {
        if (engine_ != nullptr)
            Chain() = this;
    }
    ~FileMatchFrame()
    {
        if (engine_ != nullptr)
            Chain() = outer_;
    }
    FileMatchFrame(const FileMatchFrame&) = delete;
    FileMatchFrame& operator=(const FileMatchFrame&) = delete;

    // The innermost frame of `object` on the calling thread, or null.
    static FileMatchFrame* Of(const void* object) noexcept
    {
        for (FileMatchFrame* frame = Chain(); frame != nullptr; frame = frame->outer_)
            if (frame->object_ == object)
                return frame;
        return nullptr;
    }

    const RegEx& Engine() const noexcept { return *engine_; }
    // The match as the engine's result, found on first use; null when the
    // engine cannot give it.
    const boost::cmatch* Result()
    {
        if (!tried_) {
            tried_ = true;
            found_ = engine_->CurrentMatchResult(result_);
        }
        return found_ ? &result_ : nullptr;
    }

private:
    static FileMatchFrame*& Chain() noexcept
    {
        static thread_local FileMatchFrame* innermost = nullptr;
        return innermost;
    }

    const void* object_;
    const RegEx* engine_;
    FileMatchFrame* outer_;
    boost::cmatch result_;
    bool tried_ = false;
    bool found_ = false;
};

// For the length of one file event: the object's string match parked (the
// file match is the current one; an operation the handler starts on the
// object has its own), the frame pushed, and the object's life watched.
template <class Object>
class FileMatchScope {
public:
    FileMatchScope(Object& object, const RegEx& engine) : current_(object), frame_(&object, &engine) {}
    // Another engine (a stand-in) offers no file match: only the string match is parked.
    template <class OtherEngine>
    FileMatchScope(Object& object, const OtherEngine&) : current_(object), frame_(&object, nullptr)
    {
    }
    bool Alive() const noexcept { return current_.Alive(); }

private:
    CurrentMatchScope<Object> current_;
    FileMatchFrame frame_;
};

// The event-driven merge keeps its output in the object (MergeOutput,
// MergePosition). A merge started from inside an event parks the outer
// merge's output and position and puts them back when it ends, so that the
// outer merge goes on with its own output.
template <class Object>
class MergeStateScope {
public:
    MergeStateScope(Object& object, bool nested, const LifeGuard& life)
        : object_(object), nested_(nested), life_(life)
    {
        if (nested_) {
            output_.swap(object_.MergeOutput);
            position_ = object_.MergePosition;
        }
    }
    ~MergeStateScope()
    {
        if (nested_ && life_.Alive()) {
            output_.swap(object_.MergeOutput);
            object_.MergePosition = position_;
        }
    }
    MergeStateScope(const MergeStateScope&) = delete;
    MergeStateScope& operator=(const MergeStateScope&) = delete;

private:
    Object& object_;
    bool nested_;
    const LifeGuard& life_;
    std::string output_;
    unsigned position_ = 0;
};

}  // namespace RegexEngine

#endif
