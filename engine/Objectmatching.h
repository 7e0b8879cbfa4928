// The string operations of the expression object: Match, MatchAll, Search
// and Grep over the subject string, the current match that their handlers can
// read, and the end of an operation's match. Algorithms over any object type
// with the members of the expression object (see Objecttraits.h).
//
// Events are raised synchronously. While a handler runs, the operation's
// match is the object's current match; when a handler is attached the
// operation works on private copies of the subject and of the compiled
// expression, so a handler that assigns a new subject or expression, or starts
// another operation on its sender, never pulls text from under the running
// scan. A handler may even destroy its sender: the operation ends at its next
// step without touching the object again (LifeGuard). A matching error (an
// expression too complex for the engine) ends the
// operation where it is, raises nothing for the failed attempt and leaves the
// engine's text in MatchError.
#ifndef QUORVEX_ENGINE_OBJECTMATCHING_H
#define QUORVEX_ENGINE_OBJECTMATCHING_H

#include <memory>
#include <string>
#include <utility>

#include "Currentmatch.h"
#include "Linecounter.h"
#include "Matchlist.h"
#include "Objecttraits.h"
#include "Scanpredicate.h"
#include "Stringgrep.h"
#include "Syntaxflags.h"
#include "Unicodeobject.h"

namespace RegexEngine {

// The list of the object's current match: the match a running Grep or Merge
// reports, else the result of a running Match, MatchAll or Search, else the
// file match a running file operation reports (in the shape of its event:
// whole match and sub-expressions, file offsets), else empty.
template <class Object>
typename ObjectTraits<Object>::List GetMatchingInformation(const Object& o)
{
    using Traits = ObjectTraits<Object>;
    if (o.ActiveMatch != nullptr)
        return MatchList<Traits>(*o.ActiveMatch);
    if (o.MatchResults != nullptr)
        return MatchList<Traits>(*o.MatchResults);
    if (const FileMatchFrame* frame = FileMatchFrame::Of(&o))
        return FileMatchReport<Object>(frame->Engine());
    return typename Traits::List();
}

template <class Object>
void ResetMatches(Object& o)
{
    o.MatchResults.reset();
}

namespace MatchingDetail {

template <class Object, class Handler>
bool RunSingle(Object& o, Anchoring anchoring, const Handler& handler)
{
    ClearMatchError(o);
    if (o.ParseExpression() != 0)
        return false;
    const auto flags = TranslateMatchFlags(o.GetMatchFlags());
    const auto unicode = UnicodeExpressionOf(o);

    if (!handler) {
        // Nobody can see the result: match in place into a local result.
        boost::cmatch m;
        const char* first = o.StringToMatch.data();
        if (unicode)
            return MatchUnicode(*unicode, first, first + o.StringToMatch.size(), flags, anchoring, m, o.MatchError);
        return MatchRange(first, first + o.StringToMatch.size(), o.CompiledExpression, flags, anchoring, m,
                          o.MatchError);
    }

    CurrentMatchScope<Object> scope(o);
    const boost::regex expression = o.CompiledExpression;
    const std::string subject = o.StringToMatch;
    const char* const first = subject.data();
    std::string error;
    o.MatchResults.reset(new boost::cmatch);
    const bool found =
        unicode ? MatchUnicode(*unicode, first, first + subject.size(), flags, anchoring, *o.MatchResults, error)
                : MatchRange(first, first + subject.size(), expression, flags, anchoring, *o.MatchResults, error);
    if (found) {
        LineCounter lines(first);
        lines.AdvanceTo((*o.MatchResults)[0].first);
        const auto list = o.GetMatchingInformation();
        handler(&o, list, lines.LineIndex(), lines.StartOfLine());
        if (!scope.Alive())
            return found;  // the handler destroyed the object
    }
    o.ResetMatches();
    o.MatchError = std::move(error);
    return found;
}

}  // namespace MatchingDetail

// The expression matches at the first character of the subject; OnMatching.
template <class Object>
bool Match(Object& o)
{
    return MatchingDetail::RunSingle(o, Anchoring::AtStart, ObjectTraits<Object>::OnMatching(o));
}

// The expression matches the whole subject; OnMatching.
template <class Object>
bool MatchAll(Object& o)
{
    return MatchingDetail::RunSingle(o, Anchoring::Whole, ObjectTraits<Object>::OnMatching(o));
}

// The leftmost match anywhere in the subject; OnSearching.
template <class Object>
bool Search(Object& o)
{
    return MatchingDetail::RunSingle(o, Anchoring::Anywhere, ObjectTraits<Object>::OnSearching(o));
}

// The state of one event-driven Grep, and the step it takes for each match:
// make the match current, report it to OnGrepping with its line number and
// line start, and answer whether to go on.
template <class Object>
struct GrepScan : ScanState {
    using Traits = ObjectTraits<Object>;
    using Handler = decltype(Traits::OnGrepping(std::declval<const Object&>()));
    static constexpr ScanState::Kind ThisKind = ScanState::Kind::Grep;

    GrepScan(Handler h, const char* subject, const LifeGuard& life)
        : ScanState(ThisKind, life.AliveFlag()), handler(std::move(h)), lines(subject)
    {
    }

    Handler handler;
    LineCounter lines;
    typename Traits::List list;  // refilled for every match

    static bool Step(Object& o, GrepScan& scan, const boost::cmatch& m)
    {
        bool goOn = true;
        o.ActiveMatch = &m;
        BuildMatchList<Traits>(scan.list, m);
        scan.lines.AdvanceTo(m[0].first);
        scan.handler(&o, static_cast<const typename Traits::List&>(scan.list), scan.lines.LineIndex(),
                     scan.lines.StartOfLine(), goOn);
        if (!scan.ObjectAlive())
            return false;  // the handler destroyed the object: the scan ends here
        o.ActiveMatch = nullptr;
        return goOn;
    }
    static auto PredicateMember() { return &Object::GrepCallbackPredicate; }
};

// Every match of the subject, left to right, each reported to OnGrepping with
// its line number and line start; a handler that clears its flag stops the
// scan. Returns the number of matches reported (without a handler: found).
template <class Object>
unsigned Grep(Object& o)
{
    using Traits = ObjectTraits<Object>;
    ClearMatchError(o);
    if (o.StringToMatch.empty())
        return 0;
    if (o.ParseExpression() != 0)
        return 0;
    const auto flags = TranslateMatchFlags(o.GetMatchFlags());
    const auto handler = Traits::OnGrepping(o);
    const auto unicode = UnicodeExpressionOf(o);

    if (!handler) {
        const char* first = o.StringToMatch.data();
        if (unicode)
            return CountUnicodeMatches(*unicode, first, first + o.StringToMatch.size(), flags, o.MatchError);
        return CountMatches(first, first + o.StringToMatch.size(), o.CompiledExpression, o.Expression, flags,
                            o.MatchError);
    }

    CurrentMatchScope<Object> scope(o);
    const boost::regex expression = o.CompiledExpression;
    const std::string subject = o.StringToMatch;
    const char* const first = subject.data();
    GrepScan<Object> scan(handler, first, scope.Life());
    std::string error;
    const unsigned count = RunScan(o, scan, [&](const auto& predicate) {
        if (unicode)
            return GrepUnicode(*unicode, first, first + subject.size(), flags, std::cref(predicate), error);
        return GrepRange(first, first + subject.size(), expression, flags, predicate, error);
    });
    if (scope.Alive())
        o.MatchError = std::move(error);
    return count;
}

}  // namespace RegexEngine

#endif
