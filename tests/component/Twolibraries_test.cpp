// The class library and the component package in one process: each has its
// own per-thread object stack, and neither exports the internal code that
// both contain, so neither can take the other's.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <thread>
#include <vector>

#include "Componenttesting.h"
#include "Regularexpressionclass.h"

namespace {

using namespace ComponentTesting;
using ClassObject = RegexClass::RegularExpression;
using RegexComponent::RegularExpression;

// Handlers that start a walk of the other library from inside a walk.
struct Nesting {
    ClassObject* classObject = nullptr;
    RegularExpression* component = nullptr;
    std::vector<std::string> log;

    void ClassFound(ClassObject* sender, std::string file, bool&)
    {
        log.push_back("class found " + file.substr(file.rfind('/') + 1) +
                      (sender == classObject ? "" : " (wrong sender)"));
        const unsigned greps = component->GrepFiles();
        log.push_back("component grepped " + std::to_string(greps));
    }
    void ComponentGrepped(RegularExpressionCustom* sender, System::AnsiString file, const REMatchInfo& matches,
                          unsigned line, bool&)
    {
        const std::string name = file.ToStdString();
        log.push_back("component match " + name.substr(name.rfind('/') + 1) + ":" + std::to_string(line) + " " +
                      matches[0].Text.ToStdString() + (sender == component ? "" : " (wrong sender)"));
        log.push_back("class counted " + std::to_string(nestedClass->GrepFiles()));
    }
    ClassObject* nestedClass = nullptr;
};

TEST(TwoLibraries, WalksOfBothLibrariesNestInEachOther)
{
    FileTesting::Tree dir;
    dir.Write("a.txt", "alpha\nbeta\n");
    dir.Write("b.txt", "gamma\n");

    ClassObject classObject;
    classObject.SetExpression("a$");
    classObject.SetFilesToMatch(dir.Path("*.txt"));
    ClassObject nestedClass;
    nestedClass.SetExpression("m");
    nestedClass.SetFilesToMatch(dir.Path("*.txt"));
    RegularExpression component(nullptr);
    component.SetExpression("et");
    component.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));

    Nesting nesting;
    nesting.classObject = &classObject;
    nesting.component = &component;
    nesting.nestedClass = &nestedClass;
    classObject.SetOnFindFilesClosure(RegexClass::Bind(&nesting, &Nesting::ClassFound));
    component.OnGreppingFiles = System::Bind(&nesting, &Nesting::ComponentGrepped);

    EXPECT_EQ(classObject.FindFiles(), 2u);
    const std::vector<std::string> expected = {
        "class found a.txt",  "component match a.txt:2 et", "class counted 2", "component grepped 1",
        "class found b.txt",  "component match a.txt:2 et", "class counted 2", "component grepped 1",
    };
    EXPECT_EQ(nesting.log, expected);
}

TEST(TwoLibraries, EachThreadWalksWithItsOwnObjects)
{
    FileTesting::Tree dir;
    for (int i = 0; i < 8; ++i)
        dir.Write("f" + std::to_string(i) + ".txt", std::string(static_cast<std::size_t>(i + 1), 'x'));

    const auto componentWalk = [&](std::vector<std::string>& found) {
        RegularExpression c(nullptr);
        Recorder recorder;
        c.OnFindFiles = System::Bind(&recorder, &Recorder::FoundFile);
        c.SetExpression("xxxx");
        c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
        for (int round = 0; round < 20; ++round) {
            recorder.events.clear();
            c.FindFiles();
        }
        for (const Event& e : recorder.events)
            found.push_back(e.file.substr(e.file.rfind('/') + 1));
    };
    const auto classWalk = [&](unsigned& count) {
        ClassObject o;
        o.SetExpression("x");
        o.SetFilesToMatch(dir.Path("*.txt"));
        for (int round = 0; round < 20; ++round)
            count = o.GrepFiles();
    };

    std::vector<std::string> first, second;
    unsigned classCount = 0;
    std::thread one(componentWalk, std::ref(first));
    std::thread two(componentWalk, std::ref(second));
    std::thread three(classWalk, std::ref(classCount));
    one.join();
    two.join();
    three.join();
    const std::vector<std::string> expected = {"f3.txt", "f4.txt", "f5.txt", "f6.txt", "f7.txt"};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(classCount, 36u);  // 1 + 2 + ... + 8 single-character matches
}

// The internal code both libraries hold, by its linker names.
const char* const InternalSymbols[] = {
    "_ZN29RegularExpressionTLSStackUnit5StackEv",
    "_ZN29RegularExpressionTLSStackUnit10InitialiseEPFvPvE",
    "_ZN11RegexEngine12BackupNameOfERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_",
    "_ZN11RegexEngine5RegEx9FindFilesEPFbPKcERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEbj",
};

TEST(TwoLibraries, NeitherLibraryExportsTheInternalCode)
{
    for (const char* library : {QUORVEX_LIBRARY, QUORVPAK_LIBRARY}) {
        void* handle = ::dlopen(library, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr) << library << " is not loaded";
        for (const char* symbol : InternalSymbols)
            EXPECT_EQ(::dlsym(handle, symbol), nullptr) << symbol << " exported by " << library;
        ::dlclose(handle);
    }
    // What each library does export is found.
    void* package = ::dlopen(QUORVPAK_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(package, nullptr);
    EXPECT_NE(::dlsym(package, "GetPackageDescriptor"), nullptr);
    EXPECT_NE(::dlsym(package, "_ZN14RegexComponent23RegularExpressionCustom9FindFilesEv"), nullptr);
    ::dlclose(package);
    void* classLibrary = ::dlopen(QUORVEX_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(classLibrary, nullptr);
    EXPECT_NE(::dlsym(classLibrary, "_ZN10RegexClass17RegularExpression9FindFilesEv"), nullptr);
    ::dlclose(classLibrary);
}

}  // namespace
