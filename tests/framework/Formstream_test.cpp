// Form files: the written text, defaults left out, round trips, the order of
// assignment on reading, and malformed input.
#include "Testcomponents.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

using namespace FrameworkTest;
using System::AnsiString;

class FrameworkFormStream : public ::testing::Test {
protected:
    void SetUp() override { RegisterTestClasses(); }
};

// A form with one widget whose every property differs from its default.
std::unique_ptr<Form> FullForm()
{
    auto form = std::make_unique<Form>(nullptr);
    form->SetName("Form1");
    form->SetTag(-7);
    auto* widget = new Widget(form.get());
    widget->SetName("Widget1");
    widget->SetFlags({Side::Bottom, Side::Left});
    widget->SetMode(Mode::Fast);
    widget->Enabled = true;
    widget->Count = 2147483647;
    widget->Limit = 0;
    widget->SetCaption("It's\r\n\x01\xE9 ok");
    widget->Hint = "tip";
    widget->OnChange = System::Bind(form.get(), &Form::WidgetChanged);
    widget->OnCount = System::Bind(form.get(), &Form::CountChanged);
    return form;
}

const char* const FullText =
    "object Form1: Form\n"
    "  Tag = -7\n"
    "  object Widget1: Widget\n"
    "    Flags = [Left, Bottom]\n"
    "    Mode = Fast\n"
    "    Enabled = true\n"
    "    Count = 2147483647\n"
    "    Limit = 0\n"
    "    Caption = 'It''s'#13#10#1#233' ok'\n"
    "    Hint = 'tip'\n"
    "    OnChange = WidgetChanged\n"
    "    OnCount = CountChanged\n"
    "  end\n"
    "end\n";

TEST_F(FrameworkFormStream, WritesEveryKindOfValue)
{
    EXPECT_EQ(Vcl::ComponentToText(*FullForm()), FullText);
}

TEST_F(FrameworkFormStream, LeavesOutDefaultsAndUnstoredProperties)
{
    Form form(nullptr);
    auto* widget = new Widget(&form);
    widget->Hint = "not stored while disabled";
    widget->OnChange = System::Bind(&form, &Form::WidgetChanged);
    auto* plain = new PlainWidget(&form);  // unnamed
    plain->SetFlags({});                     // the empty set differs from the default [Left]
    plain->Limit = 5;
    plain->SetMode(Mode::Slow);
    EXPECT_EQ(Vcl::ComponentToText(form),
              "object Form\n"
              "  object Widget\n"
              "    OnChange = WidgetChanged\n"
              "  end\n"
              "  object PlainWidget\n"
              "    Flags = []\n"
              "  end\n"
              "end\n");
}

TEST_F(FrameworkFormStream, HandlersBoundOutsideTheFormAreNotWritten)
{
    Form form(nullptr), elsewhere(nullptr);
    auto* widget = new Widget(&form);
    widget->SetName("W");
    widget->OnChange = System::Bind(&elsewhere, &Form::WidgetChanged);
    EXPECT_EQ(Vcl::ComponentToText(form), "object Form\n  object W: Widget\n  end\nend\n");
}

TEST_F(FrameworkFormStream, RoundTripRestoresEveryProperty)
{
    const auto original = FullForm();
    std::unique_ptr<Vcl::TComponent> copy(Vcl::ReadComponentText(Vcl::ComponentToText(*original), nullptr));
    auto* form = Vcl::DownCast<Form>(copy.get());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->GetName(), "Form1");
    EXPECT_EQ(form->GetTag(), -7);
    ASSERT_EQ(form->ComponentCount(), 1);
    auto* widget = Vcl::DownCast<Widget>(form->FindComponent("Widget1"));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->Flags, (System::Set<Side, 0, 3>{Side::Left, Side::Bottom}));
    EXPECT_EQ(widget->GetMode(), Mode::Fast);
    EXPECT_TRUE(widget->Enabled);
    EXPECT_EQ(widget->Count, 2147483647);
    EXPECT_EQ(widget->Limit, 0);
    EXPECT_EQ(widget->GetCaption(), "It's\r\n\x01\xE9 ok");
    EXPECT_EQ(widget->Hint, "tip");
    // The events are bound to the new form's methods.
    ASSERT_TRUE(widget->OnChange.IsSet());
    EXPECT_EQ(widget->OnChange.Object(), form);
    bool handled = false;
    widget->OnChange(widget, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(form->changes, 1);
    widget->OnCount(widget, 9);
    EXPECT_EQ(form->lastCount, 9);
    EXPECT_EQ(Vcl::ComponentToText(*form), FullText);
}

TEST_F(FrameworkFormStream, ReadingAssignsInTheOrderOfTheText)
{
    std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentText("object F: Form\n"
                                                                  "  object W: Widget\n"
                                                                  "    Caption = 'a'\n"
                                                                  "    Mode = Idle\n"
                                                                  "    Flags = []\n"
                                                                  "    Caption = #98\n"
                                                                  "  end\n"
                                                                  "end\n",
                                                                  nullptr));
    auto* widget = Vcl::DownCast<Widget>(root->GetComponent(0));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->Log(), (std::vector<std::string>{"Caption", "Mode", "Flags", "Caption"}));
    EXPECT_EQ(widget->GetCaption(), "b");
    EXPECT_TRUE(widget->Flags.Empty());
}

TEST_F(FrameworkFormStream, NestedOwnersAndLooseLayoutRoundTrip)
{
    // Names, keywords and enumerators in any letter case; no line structure.
    std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentText(
        "OBJECT f: FORM object Outer: Widget ENABLED = TRUE flags = [right,left] "
        "object Inner: PlainWidget Count = -12 onchange = widgetchanged end end END",
        nullptr));
    auto* outer = Vcl::DownCast<Widget>(root->FindComponent("outer"));
    ASSERT_NE(outer, nullptr);
    EXPECT_TRUE(outer->Enabled);
    auto* inner = Vcl::DownCast<PlainWidget>(outer->FindComponent("Inner"));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->GetOwner(), outer);
    EXPECT_EQ(inner->Count, -12);
    EXPECT_EQ(inner->OnChange.Object(), root.get());
    EXPECT_EQ(Vcl::ComponentToText(*root),
              "object f: Form\n"
              "  object Outer: Widget\n"
              "    Flags = [Left, Right]\n"
              "    Enabled = true\n"
              "    object Inner: PlainWidget\n"
              "      Count = -12\n"
              "      OnChange = WidgetChanged\n"
              "    end\n"
              "  end\n"
              "end\n");
}

TEST_F(FrameworkFormStream, ReadsIntoAnExistingRoot)
{
    Form form(nullptr);
    Vcl::ReadComponentTextInto("object Main: Form Tag = 3 object W: Widget Count = 1 end end", form);
    EXPECT_EQ(form.GetName(), "Main");
    EXPECT_EQ(form.GetTag(), 3);
    ASSERT_EQ(form.ComponentCount(), 1);

    Widget notAForm(nullptr);
    EXPECT_THROW(Vcl::ReadComponentTextInto("object Main: Form end", notAForm), Vcl::EReadError);
}

struct BadForm {
    const char* text;
    const char* message;  // part of the error message
};

class FrameworkMalformedForm : public ::testing::TestWithParam<BadForm> {
protected:
    void SetUp() override { RegisterTestClasses(); }
};

TEST_P(FrameworkMalformedForm, RaisesReadErrorAndLeavesNothingBehind)
{
    Vcl::TComponent owner(nullptr);
    try {
        std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentText(GetParam().text, &owner));
        FAIL() << "read without error";
    } catch (const Vcl::EReadError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos) << error.what();
    }
    EXPECT_EQ(owner.ComponentCount(), 0);

    // Read into an existing form, the components made before the error go too.
    Form form(nullptr);
    new Widget(&form);
    EXPECT_THROW(Vcl::ReadComponentTextInto(GetParam().text, form), Vcl::EReadError);
    EXPECT_EQ(form.ComponentCount(), 1);
}

const BadForm badForms[] = {
    {"", "'object' expected"},
    {"object", "class name expected"},
    {"object F: Form", "'end' expected"},
    {"object F: Nothing end", "Class Nothing not found"},
    {"object F: Form object W: Widget Missing = 1 end end", "Property Missing does not exist in Widget"},
    {"object F: Form object W: Widget Mode = Medium end end", "Invalid value Medium"},
    {"object F: Form object W: Widget Mode = 1 end end", "An enumerator name expected"},
    {"object F: Form object W: Widget Flags = [Left, Middle] end end", "Invalid set element Middle"},
    {"object F: Form object W: Widget Flags = [Left Right] end end", "']' expected"},
    {"object F: Form object W: Widget Flags = Left end end", "'[' expected"},
    {"object F: Form object W: Widget Count = 2147483648 end end", "out of range"},
    {"object F: Form object W: Widget Count = 99999999999999999999999 end end", "Number too long"},
    {"object F: Form object W: Widget Count = 'x' end end", "Integer value expected"},
    {"object F: Form object W: Widget Enabled = yes end end", "Invalid value yes"},
    {"object F: Form object W: Widget Caption = 'open\nend end", "Unterminated string"},
    {"object F: Form object W: Widget Caption = 'a'#0 end end", "#0"},
    {"object F: Form object W: Widget Caption = #256 end end", "above 255"},
    {"object F: Form object W: Widget Caption = # end end", "without a character code"},
    {"object F: Form object W: Widget Caption = 12 end end", "String value expected"},
    {"object F: Form object W: Widget Serial = 1 end end", "read-only"},
    {"object F: Form object W: Widget OnChange = Nowhere end end", "Method Nowhere not found in Form"},
    {"object F: Form object W: Widget OnCount = WidgetChanged end end", "another event type"},
    {"object F: Form object W: Widget end object w: Widget end end", "already exists"},
    {"object F: Form object 9: Widget end end", "class name expected"},
    {"object F: Form object W: Widget Count 1 end end", "'=' expected after Count"},
    {"object F: Form Tag = 1 end trailing", "Text after the end of the form"},
    {"object F: Form Tag = 1; end", "Invalid character"},
    {"object F: Form object W: TObject end end", "Class TObject not found"},
};

INSTANTIATE_TEST_SUITE_P(Rows, FrameworkMalformedForm, ::testing::ValuesIn(badForms));

TEST_F(FrameworkFormStream, ErrorsNameTheLine)
{
    struct Row {
        const char* text;
        const char* start;
    };
    const Row rows[] = {
        {"object F: Form\n  object W: Widget\n    Mode =\n Medium\n  end\nend\n", "Line 4: "},
        {"object F: Form\n  object W: Nothing\n  end\nend\n", "Line 2: "},
        {"object F: Form\n  object W: Widget\n    Count = 1\n    Caption\n 'x'\n", "Line 4: "},
        {"object F: Form\n\n  Tag = 1\n  Tag = 2147483648\nend\n", "Line 4: "},
        {"object F: Form\n  object W: Widget\n    Caption = 'x\n'\n", "Line 3: "},
    };
    for (const Row& row : rows) {
        try {
            std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentText(row.text, nullptr));
            ADD_FAILURE() << "read without error: " << row.text;
        } catch (const Vcl::EReadError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(row.start, 0), 0u) << error.what();
        }
    }
}

TEST_F(FrameworkFormStream, NestingIsBounded)
{
    auto nested = [](int depth) {
        std::string text = "object F: Form\n";
        for (int i = 0; i < depth; ++i)
            text += "object Widget\n";
        for (int i = 0; i <= depth; ++i)
            text += "end\n";
        return text;
    };
    std::unique_ptr<Vcl::TComponent> deepest(Vcl::ReadComponentText(nested(Vcl::MaxFormDepth), nullptr));
    EXPECT_NO_THROW(Vcl::ComponentToText(*deepest));
    EXPECT_THROW(Vcl::ReadComponentText(nested(Vcl::MaxFormDepth + 1), nullptr), Vcl::EReadError);
    EXPECT_THROW(Vcl::ReadComponentText(nested(100000), nullptr), Vcl::EReadError);

    // A tree built in code deeper than the reader accepts is not written.
    Vcl::TComponent* last = deepest.get();
    while (last->ComponentCount() > 0)
        last = last->GetComponent(0);
    new Widget(last);
    EXPECT_THROW(Vcl::ComponentToText(*deepest), Vcl::EWriteError);
}

TEST_F(FrameworkFormStream, MutatedFormsReadOrFailCleanly)
{
    // Every single-byte change, insertion or deletion of a valid form either
    // reads or raises the framework's read error: nothing else escapes.
    const std::string valid = FullText;
    std::mt19937 random(12345);
    const std::string alphabet = "object end=:[],-'#0123456789 \n\tAZaz_\x01\xFF";
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = valid;
        for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
            const std::size_t at = random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
            case 0:
                if (at < text.size())
                    text[at] = c;
                break;
            case 1:
                text.insert(at, 1, c);
                break;
            default:
                if (at < text.size())
                    text.erase(at, 1);
                break;
            }
        }
        try {
            std::unique_ptr<Vcl::TComponent> root(Vcl::ReadComponentText(text, nullptr));
        } catch (const Vcl::EReadError&) {
            ++failures;
        }
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
