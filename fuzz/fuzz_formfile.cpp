// Fuzzes the form-file reader with the palette components registered: any
// text goes into ReadComponentText. A text the reader refuses must be refused
// with the framework's read error, nothing else. A text it accepts must write
// back to a text that reads again to the same text, and every regular
// expression component read from it must still compile, match, grep and merge
// (with the handlers the form file bound) without crashing. File operations
// are never run: a fuzzed FilesToMatch could name any file of the machine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "Framework.h"
#include "Regularexpression.h"
#include "Regularexpressioninterface.h"

namespace {

using RegexComponent::REMatchInfo;
using RegexComponent::RegularExpressionCustom;

// A form whose published methods a form file may name as event handlers. The
// handlers use the sender as a handler would (read the match, expand the
// format) and stop long scans.
class FuzzForm : public Vcl::TComponent {
public:
    explicit FuzzForm(Vcl::TComponent* Owner) : TComponent(Owner) {}
    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override { return StaticClass(); }

    void Found(RegularExpressionCustom* sender, const REMatchInfo&, unsigned, unsigned)
    {
        System::AnsiString text;
        sender->Format(text);
        (void)sender->GetMatchingInformation();
    }
    void Grepped(RegularExpressionCustom* sender, const REMatchInfo&, unsigned, unsigned, bool& more)
    {
        System::AnsiString text;
        sender->Format(text);
        more = ++calls_ < 64;
    }
    void FileMatched(RegularExpressionCustom*, System::AnsiString, const REMatchInfo&, unsigned, bool& more)
    {
        more = false;
    }
    void FileFound(RegularExpressionCustom*, System::AnsiString, bool& more) { more = false; }

private:
    int calls_ = 0;
};

Vcl::TClass FuzzForm::StaticClass()
{
    static const Vcl::TMetaClass meta = Vcl::ClassInfo<FuzzForm>("TestForm", "Fuzzformfile",
                                                                 Vcl::TComponent::StaticClass())
                                            .Method("Found", &FuzzForm::Found)
                                            .Method("Grepped", &FuzzForm::Grepped)
                                            .Method("FileMatched", &FuzzForm::FileMatched)
                                            .Method("FileFound", &FuzzForm::FileFound)
                                            .Constructible()
                                            .Build();
    return &meta;
}

void Register()
{
    static const bool once = [] {
        Vcl::RegisterClass(FuzzForm::StaticClass());
        Vcl::RegisterClass(RegexComponent::RegularExpression::StaticClass());
        Vcl::RegisterClass(RegexComponent::RegularExpressionInterface::StaticClass());
        return true;
    }();
    (void)once;
}

// Runs the string operations of every regular expression component in the
// tree, with short subjects so that one input stays fast.
void Exercise(Vcl::TComponent& component)
{
    if (auto* re = Vcl::DownCast<RegularExpressionCustom>(&component)) {
        std::string subject = re->GetStringToMatch().ToStdString();
        if (subject.size() > 256)
            subject.resize(256);
        re->SetStringToMatch(subject.c_str());
        (void)re->ParseExpression();
        (void)re->GetExpressionError();
        (void)re->GetFlagOptions();
        (void)re->GetMatchFlags();
        re->Match();
        re->Search();
        re->Grep();
        System::AnsiString merged;
        re->Merge(merged);
    }
    for (int i = 0; i < component.ComponentCount(); ++i)
        Exercise(*component.GetComponent(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Register();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<Vcl::TComponent> root;
    try {
        root.reset(Vcl::ReadComponentText(text, nullptr));
    } catch (const Vcl::EReadError&) {
        return 0;  // refused the documented way
    }
    if (!root)
        std::abort();  // accepted, yet nothing was made

    const std::string written = Vcl::ComponentToText(*root);
    std::unique_ptr<Vcl::TComponent> again(Vcl::ReadComponentText(written, nullptr));
    if (Vcl::ComponentToText(*again) != written)
        std::abort();  // the writer and the reader disagree

    Exercise(*root);
    return 0;
}
