// Small framework classes for the tests: a widget with one property of each
// kind and a form that publishes handlers for it.
#ifndef QUORVEX_TESTS_FRAMEWORK_TESTCOMPONENTS_H
#define QUORVEX_TESTS_FRAMEWORK_TESTCOMPONENTS_H

#include "Framework.h"

#include <string>
#include <vector>

namespace FrameworkTest {

enum class Side : signed char { Left, Right, Top, Bottom };
enum class Mode : signed char { Slow, Fast, Idle };

class Widget;
using ChangeEvent = System::Closure<void(Widget* Sender, bool& Handled)>;
using CountEvent = System::Closure<void(Widget* Sender, int Count)>;

const Vcl::TTypeInfo& SideType();
const Vcl::TTypeInfo& SidesType();
const Vcl::TTypeInfo& ModeType();
const Vcl::TTypeInfo& ChangeEventType();
const Vcl::TTypeInfo& CountEventType();

// Published, in this order: Name, Tag (inherited), Flags (default [Left]), Mode, Enabled,
// Count, Limit (default 5), Caption, Hint (stored only when Enabled),
// Serial (read-only), OnChange, OnCount.
class Widget : public Vcl::TComponent {
public:
    explicit Widget(Vcl::TComponent* Owner) : TComponent(Owner) {}
    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override { return StaticClass(); }

    System::Set<Side, 0, 3> Flags{Side::Left};
    bool Enabled = false;
    int Count = 0;
    int Limit = 5;
    ChangeEvent OnChange;
    CountEvent OnCount;

    Mode GetMode() const { return mode_; }
    void SetMode(Mode mode) { log_.push_back("Mode"); mode_ = mode; }
    System::AnsiString GetCaption() const { return caption_; }
    void SetCaption(const System::AnsiString& caption) { log_.push_back("Caption"); caption_ = caption; }
    void SetFlags(System::Set<Side, 0, 3> flags) { log_.push_back("Flags"); Flags = flags; }
    System::AnsiString Hint;
    bool HintStored() const { return Enabled; }
    int GetSerial() const { return 42; }

    // The write accessors that ran, in order.
    const std::vector<std::string>& Log() const { return log_; }

private:
    Mode mode_ = Mode::Slow;
    System::AnsiString caption_;
    std::vector<std::string> log_;
};

// A widget that publishes nothing more.
class PlainWidget : public Widget {
public:
    explicit PlainWidget(Vcl::TComponent* Owner) : Widget(Owner) {}
    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override { return StaticClass(); }
};

// A form: a root component whose published methods handlers name.
class Form : public Vcl::TComponent {
public:
    explicit Form(Vcl::TComponent* Owner) : TComponent(Owner) {}
    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override { return StaticClass(); }

    void WidgetChanged(Widget*, bool& Handled) { Handled = true; ++changes; }
    void OtherChange(Widget*, bool&) {}
    void CountChanged(Widget*, int Count) { lastCount = Count; }
    int changes = 0;
    int lastCount = -1;
};

// Registers Widget, PlainWidget and Form for form files (once).
void RegisterTestClasses();

}  // namespace FrameworkTest

#endif
