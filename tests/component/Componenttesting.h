// Helpers for the component tests: a recorder whose methods serve as event
// handlers, a form class that publishes handlers for the form-file tests, a
// temporary directory that removes itself, and set builders.
#ifndef QUORVEX_TESTS_COMPONENT_COMPONENTTESTING_H
#define QUORVEX_TESTS_COMPONENT_COMPONENTTESTING_H

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Filetesting.h"
#include "Framework.h"
#include "Regularexpression.h"
#include "Regularexpressioninterface.h"

namespace ComponentTesting {

using RegexComponent::REMatch;
using RegexComponent::REMatchInfo;
using RegexComponent::RegularExpressionCustom;
using Custom = RegexComponent::RegularExpressionCustom;

// A (text, position) pair, comparable and printable, for expectations.
using Part = std::pair<std::string, int>;

inline std::vector<Part> Parts(const REMatchInfo& list)
{
    std::vector<Part> parts;
    for (const REMatch& record : list)
        parts.emplace_back(record.Text.ToStdString(), record.Position);
    return parts;
}

struct Event {
    std::vector<Part> matches;
    unsigned line = 0;
    unsigned lineStart = 0;
    std::string file;           // for the file events
    std::vector<Part> current;  // GetMatchingInformation() on the sender during the event
};

// Records every event it is bound to; `during` runs inside each handler.
struct Recorder {
    std::vector<Event> events;
    int stopAt = 0;  // clears bcontinue at this (1-based) event; 0: never
    std::function<void(RegularExpressionCustom*)> during;

    void Matching(RegularExpressionCustom* sender, const REMatchInfo& matches, unsigned line, unsigned start)
    {
        events.push_back(Event{Parts(matches), line, start, std::string(), Parts(sender->GetMatchingInformation())});
        if (during)
            during(sender);
    }
    void Grepping(RegularExpressionCustom* sender, const REMatchInfo& matches, unsigned line, unsigned start,
                  bool& bcontinue)
    {
        events.push_back(Event{Parts(matches), line, start, std::string(), Parts(sender->GetMatchingInformation())});
        stop(bcontinue);
        if (during)
            during(sender);
    }
    void FileMatches(RegularExpressionCustom* sender, System::AnsiString file, const REMatchInfo& matches,
                     unsigned line, bool& bcontinue)
    {
        events.push_back(Event{Parts(matches), line, 0, file.ToStdString(), {}});
        stop(bcontinue);
        if (during)
            during(sender);
    }
    void FoundFile(RegularExpressionCustom* sender, System::AnsiString file, bool& bcontinue)
    {
        events.push_back(Event{{}, 0, 0, file.ToStdString(), {}});
        stop(bcontinue);
        if (during)
            during(sender);
    }

private:
    void stop(bool& bcontinue) const
    {
        if (stopAt != 0 && static_cast<int>(events.size()) == stopAt)
            bcontinue = false;
    }
};

// A form whose published methods the form files name as handlers.
class TestForm : public Vcl::TComponent {
public:
    explicit TestForm(Vcl::TComponent* Owner) : TComponent(Owner) {}
    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override { return StaticClass(); }

    void Found(RegularExpressionCustom*, const REMatchInfo&, unsigned, unsigned) { ++found; }
    void Grepped(RegularExpressionCustom*, const REMatchInfo&, unsigned, unsigned, bool&) { ++grepped; }
    void FileMatched(RegularExpressionCustom*, System::AnsiString, const REMatchInfo&, unsigned, bool&) {}
    void FileFound(RegularExpressionCustom*, System::AnsiString, bool&) {}

    int found = 0;
    int grepped = 0;
};

// Registers the form and both palette components for form files (once).
void RegisterFormClasses();

inline Custom::OptionSet Options(std::initializer_list<Custom::Options> values) { return Custom::OptionSet(values); }
inline Custom::MatchSet Matches(std::initializer_list<Custom::Matches> values) { return Custom::MatchSet(values); }

// `set` with the options of `add` inserted and those of `remove` removed.
inline Custom::OptionSet With(Custom::OptionSet set, std::initializer_list<Custom::Options> add,
                              std::initializer_list<Custom::Options> remove = {})
{
    for (Custom::Options o : add)
        set << o;
    for (Custom::Options o : remove)
        set >> o;
    return set;
}

// The default compile options.
inline Custom::OptionSet DefaultOptions()
{
    return Options({Custom::EscapeInCharacterSets, Custom::CharacterClasses, Custom::Intervals, Custom::BackReferences,
                    Custom::NoLocaleSpecificCollation, Custom::Normal});
}

}  // namespace ComponentTesting

#endif
