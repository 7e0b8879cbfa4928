// How the event-driven scans of the subject string (Grep, and Merge with a
// handler) reach the engine's grep: through a callable of the engine's, or
// through a predicate closure that the object carries itself.
//
// The engine's grep calls a predicate for every match. For most objects that
// predicate is a lambda around the scan's step. An object may instead carry
// a member `EnginePredicate` (a closure taking the match result and answering
// whether to go on) together with a member `ActiveScan` (a ScanState*): for
// such an object the scan binds EnginePredicate to the object and to one of
// its predicate members (GrepCallbackPredicate, MergeCallbackPredicate), points
// ActiveScan at the scan's state, and hands the engine that closure. The
// predicate members go on with ContinueScan, which runs the same step.
//
// Both members are set for the length of one scan and put back when it ends
// (also when a handler throws), so a scan started from inside a handler on
// the same object leaves the outer scan's predicate and state as they were.
#ifndef QUORVEX_ENGINE_SCANPREDICATE_H
#define QUORVEX_ENGINE_SCANPREDICATE_H

#include <type_traits>
#include <utility>

#include <boost/regex.hpp>

namespace RegexEngine {

// The common part of every scan's state: which scan it is, so that a
// predicate member called during another kind of scan can refuse.
struct ScanState {
    enum class Kind { Grep, Merge };
    explicit ScanState(Kind kind, const bool* alive = nullptr) noexcept : ScanKind(kind), Alive(alive) {}
    Kind ScanKind;
    // While true the object exists; false once a handler destroyed it (then
    // nothing of the object is touched again). Null: always alive.
    const bool* Alive;
    bool ObjectAlive() const noexcept { return Alive == nullptr || *Alive; }
};

// Whether an object routes its scans through its own predicate closure.
template <class Object, class = void>
struct UsesEnginePredicate : std::false_type {};
template <class Object>
struct UsesEnginePredicate<Object, std::void_t<decltype(std::declval<Object&>().EnginePredicate),
                                               decltype(std::declval<Object&>().ActiveScan)>>
    : std::true_type {};

// EnginePredicate and ActiveScan of one object for the length of one scan.
template <class Object>
class PredicateRoute {
public:
    using Predicate = decltype(Object::EnginePredicate);

    template <class Member>
    PredicateRoute(Object& object, ScanState& scan, Member member)
        : object_(object), scan_(scan), savedPredicate_(object.EnginePredicate), savedScan_(object.ActiveScan)
    {
        object_.EnginePredicate = Predicate(&object_, member);
        object_.ActiveScan = &scan;
        predicate_ = object_.EnginePredicate;
    }
    ~PredicateRoute()
    {
        if (!scan_.ObjectAlive())
            return;  // destroyed by a handler
        object_.EnginePredicate = savedPredicate_;
        object_.ActiveScan = savedScan_;
    }
    PredicateRoute(const PredicateRoute&) = delete;
    PredicateRoute& operator=(const PredicateRoute&) = delete;

    // What the engine's grep calls: the closure as it was set for this scan.
    bool operator()(const boost::cmatch& m) const { return scan_.ObjectAlive() && predicate_(m); }

private:
    Object& object_;
    const ScanState& scan_;
    Predicate savedPredicate_;
    decltype(Object::ActiveScan) savedScan_;
    Predicate predicate_;
};

// Runs `run(predicate)`, where `run` starts the engine's grep with the
// predicate it is given, and returns what `run` returns. `Scan` derives from
// ScanState and provides
//   static constexpr ScanState::Kind ThisKind;
//   static bool Step(Object&, Scan&, const boost::cmatch&);
//   static auto PredicateMember();   // only for objects with EnginePredicate
template <class Object, class Scan, class Run>
auto RunScan(Object& object, Scan& scan, Run&& run)
{
    if constexpr (UsesEnginePredicate<Object>::value) {
        PredicateRoute<Object> route(object, scan, Scan::PredicateMember());
        return run(route);
    } else {
        return run([&](const boost::cmatch& m) { return Scan::Step(object, scan, m); });
    }
}

// The step of the running scan of the object, when it is a `Scan`; false
// (stop) when no such scan is running.
template <class Scan, class Object>
bool ContinueScan(Object& object, const boost::cmatch& m)
{
    ScanState* state = object.ActiveScan;
    if (state == nullptr || state->ScanKind != Scan::ThisKind)
        return false;
    return Scan::Step(object, static_cast<Scan&>(*state), m);
}

}  // namespace RegexEngine

#endif
