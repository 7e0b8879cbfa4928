// Handlers for the tests: a recorder object whose methods can be bound as
// closures, and free functions that forward to the recorder in use.
#ifndef QUORVEX_TESTS_STRING_RECORDER_H
#define QUORVEX_TESTS_STRING_RECORDER_H

#include <functional>
#include <string>
#include <vector>

#include "Regularexpressionclass.h"

namespace testsupport {

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

struct Event {
    REMatchInfo matches;
    unsigned line = 0;
    unsigned lineStart = 0;
    REMatchInfo current;     // GetMatchingInformation() on the sender during the event
    std::string formatted;   // Format() on the sender during the event
};

struct Recorder {
    std::vector<Event> events;
    int stopAt = 0;  // clear bcontinue on this (1-based) event; 0: never
    // Runs inside the handler after recording, with the sender.
    std::function<void(RegularExpression*)> during;

    Event Record(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned start)
    {
        Event e{matches, line, start, sender->GetMatchingInformation(), std::string()};
        sender->Format(e.formatted);
        return e;
    }
    void Matching(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned start)
    {
        events.push_back(Record(sender, matches, line, start));
        if (during)
            during(sender);
    }
    void Grepping(RegularExpression* sender, const REMatchInfo& matches, unsigned line, unsigned start,
                  bool& bcontinue)
    {
        events.push_back(Record(sender, matches, line, start));
        if (stopAt != 0 && static_cast<int>(events.size()) == stopAt)
            bcontinue = false;
        if (during)
            during(sender);
    }
};

// The recorder that the free-function handlers forward to.
inline Recorder*& Current()
{
    static Recorder* current = nullptr;
    return current;
}

inline void MatchingFunction(RegularExpression* s, const REMatchInfo& m, unsigned l, unsigned p)
{
    Current()->Matching(s, m, l, p);
}
inline void GreppingFunction(RegularExpression* s, const REMatchInfo& m, unsigned l, unsigned p, bool& c)
{
    Current()->Grepping(s, m, l, p, c);
}

// Sets Current() for one test.
struct UseRecorder {
    explicit UseRecorder(Recorder& r) { Current() = &r; }
    ~UseRecorder() { Current() = nullptr; }
};

struct Part {
    std::string text;
    int position;
    bool operator==(const Part& o) const { return text == o.text && position == o.position; }
};

inline std::vector<Part> PartsOf(const REMatchInfo& list)
{
    std::vector<Part> out;
    for (const auto& r : list)
        out.push_back({r.Text, r.Position});
    return out;
}

inline std::ostream& operator<<(std::ostream& os, const Part& p)
{
    return os << "('" << p.text << "', " << p.position << ")";
}

}  // namespace testsupport

#endif
