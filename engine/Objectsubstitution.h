// Format and Merge of the expression object, as algorithms over any object
// type with the members of the expression object (see Objecttraits.h).
//
// Format expands FormatString against the current match (there is one only
// inside the handler of a string operation or of a file operation's
// OnGreppingFiles or OnChangingFiles). Merge replaces every match of
// the subject by the expansion: without an OnMerging handler in one engine
// call straight into the output; with a handler through the object's own
// loop, which raises OnMerging before each replacement and lets the handler
// skip it and stop.
#ifndef QUORVEX_ENGINE_OBJECTSUBSTITUTION_H
#define QUORVEX_ENGINE_OBJECTSUBSTITUTION_H

#include <string>
#include <utility>

#include "Currentmatch.h"
#include "Linecounter.h"
#include "Matchlist.h"
#include "Objecttraits.h"
#include "Scanpredicate.h"
#include "Stringgrep.h"
#include "Substitution.h"
#include "Syntaxflags.h"
#include "Unicodeobject.h"

namespace RegexEngine {

// Replaces `out` by the expansion of FormatString against the current match,
// or by the empty string when there is no current match or no format.
template <class Object>
void Format(const Object& o, std::string& out)
{
    out.clear();
    if (o.FormatString.empty())
        return;
    const boost::cmatch* current = o.ActiveMatch;
    if (current == nullptr)
        current = o.MatchResults.get();
    if (current == nullptr) {
        // In a file event: the file match, with the expression the walk runs.
        if (FileMatchFrame* frame = FileMatchFrame::Of(&o)) {
            const boost::cmatch* match = frame->Result();
            const boost::regex* walked = frame->Engine().WalkExpression();
            if (match != nullptr && walked != nullptr)
                AppendFormat(out, *match, o.FormatString, o.ExpressionLocale, *walked);
        }
        return;
    }
    if (current->empty())
        return;
    AppendFormat(out, *current, o.FormatString, o.ExpressionLocale, o.CompiledExpression);
}

// The state of one event-driven Merge, and the step it takes for each match:
// copy the text since the last match (with MergeCopy), report the match to
// OnMerging, and unless the handler said stop append the expansion of the
// format string; answer whether to go on.
template <class Object>
struct MergeScan : ScanState {
    using Traits = ObjectTraits<Object>;
    using Handler = decltype(Traits::OnMerging(std::declval<const Object&>()));
    static constexpr ScanState::Kind ThisKind = ScanState::Kind::Merge;

    MergeScan(Handler h, const char* subject, const LifeGuard& life)
        : ScanState(ThisKind, life.AliveFlag()), handler(std::move(h)), first(subject), lines(subject)
    {
    }

    Handler handler;
    const char* first;  // the subject being merged (offsets count from here)
    LineCounter lines;
    typename Traits::List list;  // refilled for every match
    std::string replacement;

    // Copies the subject from MergePosition up to `to` (never backwards).
    static void CopyUpTo(Object& o, const MergeScan& scan, unsigned to)
    {
        if (o.MergePosition < to)
            o.MergeOutput.append(scan.first + o.MergePosition, to - o.MergePosition);
        o.MergePosition = to;
    }

    static bool Step(Object& o, MergeScan& scan, const boost::cmatch& m)
    {
        bool goOn = true;
        o.ActiveMatch = &m;
        BuildMatchList<Traits>(scan.list, m);
        const unsigned start = static_cast<unsigned>(m[0].first - scan.first);
        if (o.MergeCopy && o.MergePosition != start)
            CopyUpTo(o, scan, start);
        scan.lines.AdvanceTo(m[0].first);
        scan.handler(&o, static_cast<const typename Traits::List&>(scan.list), scan.lines.LineIndex(),
                     scan.lines.StartOfLine(), goOn);
        if (!scan.ObjectAlive())
            return false;  // the handler destroyed the object: the merge ends here
        if (goOn) {
            Format(o, scan.replacement);
            o.MergeOutput += scan.replacement;
            if (o.MergeCopy)
                o.MergePosition += static_cast<unsigned>(m.length(0));
        }
        o.ActiveMatch = nullptr;
        return goOn;
    }
    static auto PredicateMember() { return &Object::MergeCallbackPredicate; }
};

template <class Object>
void Merge(Object& o, std::string& out)
{
    using Traits = ObjectTraits<Object>;
    out.clear();
    ClearMatchError(o);
    if (o.FormatString.empty() || o.StringToMatch.empty())
        return;
    if (o.ParseExpression() != 0)
        return;
    const auto flags = TranslateMatchFlags(o.GetMatchFlags());
    const auto handler = Traits::OnMerging(o);
    const auto unicode = UnicodeExpressionOf(o);

    if (!handler) {
        // No handler can run, so nothing can change the subject meanwhile.
        const char* first = o.StringToMatch.data();
        if (unicode)
            UnicodeReplace(out, first, first + o.StringToMatch.size(), *unicode, o.FormatString, o.ExpressionLocale,
                           flags, o.MergeCopy, o.MatchError);
        else if (!ReplaceThroughDriver(out, first, first + o.StringToMatch.size(), o.CompiledExpression, o.Expression,
                                  o.FormatString, flags, o.MergeCopy, o.MatchError))
            ReplaceRange(out, first, first + o.StringToMatch.size(), o.CompiledExpression, o.FormatString, flags,
                         o.MergeCopy, o.MatchError);
        return;
    }

    CurrentMatchScope<Object> scope(o);
    MergeStateScope<Object> mergeState(o, scope.Nested(), scope.Life());
    const boost::regex expression = o.CompiledExpression;
    const std::string subject = o.StringToMatch;
    const char* const first = subject.data();
    const unsigned size = static_cast<unsigned>(subject.size());
    o.MergeOutput.clear();
    o.MergePosition = 0;

    MergeScan<Object> scan(handler, first, scope.Life());
    std::string error;
    RunScan(o, scan, [&](const auto& predicate) {
        if (unicode)
            return unicode->Grep(first, first + size, flags, std::cref(predicate), error);
        return GrepRange(first, first + size, expression, flags, predicate, error);
    });
    if (!scope.Alive())
        return;  // the handler destroyed the object; `out` stays empty

    // After a matching error the output ends with the last replacement made.
    if (error.empty() && o.MergeCopy && o.MergePosition < size)
        MergeScan<Object>::CopyUpTo(o, scan, size);
    out = o.MergeOutput;
    o.MatchError = std::move(error);
}

}  // namespace RegexEngine

#endif
