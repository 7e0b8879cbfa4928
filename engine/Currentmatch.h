// Keeping the current match of an object safe across nested operations.
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

#include <string>
#include <utility>

namespace RegexEngine {

template <class Object>
class CurrentMatchScope {
public:
    explicit CurrentMatchScope(Object& object) noexcept
        : object_(object), results_(std::move(object.MatchResults)), active_(object.ActiveMatch)
    {
        object_.MatchResults = nullptr;
        object_.ActiveMatch = nullptr;
    }
    ~CurrentMatchScope()
    {
        object_.MatchResults = std::move(results_);
        object_.ActiveMatch = active_;
    }
    CurrentMatchScope(const CurrentMatchScope&) = delete;
    CurrentMatchScope& operator=(const CurrentMatchScope&) = delete;

    // True when the operation was started from inside another one's event.
    bool Nested() const noexcept { return results_ != nullptr || active_ != nullptr; }

private:
    Object& object_;
    decltype(Object::MatchResults) results_;
    decltype(Object::ActiveMatch) active_;
};

// The event-driven merge keeps its output in the object (MergeOutput,
// MergePosition). A merge started from inside an event parks the outer
// merge's output and position and puts them back when it ends, so that the
// outer merge goes on with its own output.
template <class Object>
class MergeStateScope {
public:
    MergeStateScope(Object& object, bool nested) : object_(object), nested_(nested)
    {
        if (nested_) {
            output_.swap(object_.MergeOutput);
            position_ = object_.MergePosition;
        }
    }
    ~MergeStateScope()
    {
        if (nested_) {
            output_.swap(object_.MergeOutput);
            object_.MergePosition = position_;
        }
    }
    MergeStateScope(const MergeStateScope&) = delete;
    MergeStateScope& operator=(const MergeStateScope&) = delete;

private:
    Object& object_;
    bool nested_;
    std::string output_;
    unsigned position_ = 0;
};

}  // namespace RegexEngine

#endif
