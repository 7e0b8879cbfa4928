// RegularExpressionCustom: the expression object as a framework component,
// the common base of the two palette components (RegularExpression and
// RegularExpressionInterface), which differ only in what they publish.
//
// It holds an expression with its compile and match options, a subject
// string, a format string and file settings, and does every job on them as a
// single call, exactly as the class library's object does. What differs:
//   - texts cross the class boundary as System::AnsiString (cut at a NUL);
//   - the two option sets are framework sets, replaced as a whole through
//     SetOptions and SetMatches, which keep the composite syntaxes Basic,
//     Extended and Normal consistent with their components;
//   - events are closures only (a member function bound to an object);
//   - the lists built from the subject string carry 1-based positions, 0 for
//     a sub-expression that took no part; the lists of the file events carry
//     the engine's file offsets unchanged;
//   - the object has an owner that destroys it, can be filled from another
//     component with Assign, and is stored with forms as published
//     properties.
//
//   auto* re = new RegexComponent::RegularExpression(form);   // owned by form
//   re->SetExpression("b(c)?");
//   re->SetStringToMatch("abd");
//   re->OnSearching = System::Bind(&handler, &Handler::Found);
//   re->Search();   // Found gets ('b', 2), ('', 0), ('a', 1), ('d', 3)
//
// The expression compiles lazily: SetExpression and a SetOptions that changes
// the set only mark it as not compiled; the next operation that needs it
// compiles it once. Errors are values: ParseExpression() returns a code and
// GetExpressionError() the engine's text; ChangeFiles records the files it
// could not change (GetChangeFilesErrors()).
//
// One object serves one thread at a time. The package keeps its own
// per-thread object stack for the file walks, apart from the class library's.
#ifndef QUORVPAK_REGULAREXPRESSIONCUSTOM_H
#define QUORVPAK_REGULAREXPRESSIONCUSTOM_H

#include <deque>
#include <locale>
#include <memory>
#include <stack>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Ansistring.h"
#include "Classes.h"
#include "Closures.h"
#include "Frameworkset.h"
#include "Quorvpakexport.h"
#include "Regularexpressionvalues.h"
#include "Typeinfo.h"

namespace RegexEngine {
class RegEx;       // the engine's file walker, handed to the file callbacks
class UnicodeExpression;  // the compilation of the Unicode mode
struct ScanState;  // the state of a running Grep or event-driven Merge
}  // namespace RegexEngine

namespace RegexComponent {

// The palette page on which the package puts its components.
inline constexpr char PalettePage[] = "RegExp";

// The engine's match results over a character range.
template <class Iterator>
using reg_match = boost::match_results<Iterator>;

// One sub-match as the component reports it: its text, cut at its first NUL
// character, and its position. In the lists built from the subject string
// the position is 1-based (0 when the sub-expression took no part); in the
// lists of the file events it is the engine's byte offset in the file.
struct QUORVPAK_API REMatch {
    System::AnsiString Text;
    int Position = 0;
};

// The list for one match: the whole match, each marked sub-expression, then,
// for the subject string, the prefix and the suffix.
using REMatchInfo = std::vector<REMatch>;

class QUORVPAK_API RegularExpressionCustom : public Vcl::TComponent {
public:
    // Compile options; the value n is bit n of ExpressionOptions. The values
    // and what each means: Regularexpressionvalues.h, shared with the class
    // library.
    enum Options : unsigned char { QUORVEX_COMPILE_OPTIONS(QUORVEX_ENUMERATOR) };

    // Match options; the value n is bit n of MatchOptions.
    enum Matches : unsigned char { QUORVEX_MATCH_OPTIONS(QUORVEX_ENUMERATOR) };

    using OptionSet = System::Set<Options, 0, RegexValues::CompileOptionCount - 1>;
    using MatchSet = System::Set<Matches, 0, RegexValues::MatchOptionCount - 1>;

    // The events, as closures. Sender is the component raising the event;
    // Matches lives for the handler call only; clearing bcontinue stops the
    // operation after this occurrence.
    using MatchingEvent = System::Closure<void(RegularExpressionCustom* Sender, const REMatchInfo& Matches,
                                               unsigned LineIndex, unsigned StartOfLine)>;
    using GreppingEvent = System::Closure<void(RegularExpressionCustom* Sender, const REMatchInfo& Matches,
                                               unsigned LineIndex, unsigned StartOfLine, bool& bcontinue)>;
    using FileMatchesEvent = System::Closure<void(RegularExpressionCustom* Sender, System::AnsiString file,
                                                  const REMatchInfo& Matches, unsigned LineIndex, bool& bcontinue)>;
    using FindFilesEvent = System::Closure<void(RegularExpressionCustom* Sender, System::AnsiString file,
                                                bool& bcontinue)>;

    // The predicate the engine's grep calls with each match of Grep and of
    // the event-driven Merge; true goes on.
    using EnginePredicateClosure = System::Closure<bool(const reg_match<const char*>&)>;

    // Why a file could not be changed by ChangeFiles.
    enum ProblemReason : unsigned char { QUORVEX_PROBLEM_REASONS(QUORVEX_ENUMERATOR) };

    struct FileChangeProblem {
        System::AnsiString FileName;  // the changed, temporary or backup file
        ProblemReason Reason = OpenFailed;
        unsigned FilePosition = 0;    // position of a failed read or write, or of the changed match
        System::AnsiString Text;      // for TextChanged: the match text the walk found
        unsigned SystemError = 0;     // the platform's error code, 0 for TextChanged
    };

    // The replacements ChangeFiles has collected for the file it is on.
    struct MergeFileInformation {
        struct GrepInformation {
            unsigned Position = 0;    // byte offset of the match in the file
            std::string Match;        // the bytes the walk matched there
            std::string Replacement;  // what replaces them
        };
        std::string FileName;  // empty while no file is pending
        std::vector<GrepInformation> Greps;
        // The file as the walk read it (Regularexpressionvalues.h).
        using FileState = RegexValues::FileReadState;
        FileState ReadState;
    };

    // The compiled expression and match flags of one running ChangeFiles.
    struct MergeSave {
        boost::regex CompiledExpression;
        unsigned Flags = 0;
        std::shared_ptr<const RegexEngine::UnicodeExpression> Unicode;  // set in Unicode mode
    };

    // ---- Lifecycle -----------------------------------------------------
    // A component owned by `Owner` (null: owned by nobody), with the
    // default settings. The framework creates components by class with it.
    explicit RegularExpressionCustom(Vcl::TComponent* Owner);
    // A copy of the settings, the compiled expression and the events of
    // `other`, owned by the owner of `other`; neither name nor tag is copied.
    RegularExpressionCustom(const RegularExpressionCustom& other);
    // Assigns the settings, the compiled expression and the events; the
    // target keeps its locale, working state, owner, name and tag.
    RegularExpressionCustom& operator=(const RegularExpressionCustom& other);
    // Equal settings: both option sets, the five texts, DirectoryRecursion
    // and MergeCopy.
    bool operator==(const RegularExpressionCustom& other) const;
    bool operator!=(const RegularExpressionCustom& other) const { return !(*this == other); }
    ~RegularExpressionCustom() override;

    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override;

    // ---- Framework -------------------------------------------------------
    // From any RegularExpressionCustom (either palette component included):
    // what operator= copies, published or not. Assigning the component to
    // itself does nothing. Any other source (null included) raises the
    // framework's assignment error and leaves this component unchanged.
    void Assign(Vcl::TPersistent* Source) override;
    // No registration of its own: the framework's behaviour.
    void UpdateRegistry(bool Register, const System::AnsiString ClassID,
                        const System::AnsiString ProgID) override;

    // ---- Option sets -----------------------------------------------------
    // Replaces the compile options as a whole and keeps the composites
    // consistent by comparing the new set with the old one. An unchanged
    // set changes nothing; a changed one marks the expression as not
    // compiled. While a form file is being read the stored set is put back
    // as it was stored.
    void SetOptions(OptionSet Options);
    // Replaces the match options as a whole; MatchDefault is present exactly
    // when none of the options 1 to 8 is.
    void SetMatches(MatchSet Matches);
    unsigned int GetFlagOptions();  // the syntax flag word of ExpressionOptions
    unsigned int GetMatchFlags();   // the match flag word of MatchOptions

    // ---- Unicode mode (off by default; see docs/unicode.md) ----------------
    // A change marks the expression as not compiled.
    void SetUnicode(bool on);
    bool GetUnicode() const { return Unicode; }

    // ---- Texts -------------------------------------------------------------
    // Each setter stores the characters up to the first NUL.
    System::AnsiString GetExpression() const;
    void SetExpression(System::AnsiString Text);  // also marks it as not compiled
    System::AnsiString GetFormatString() const;
    void SetFormatString(System::AnsiString Text);
    System::AnsiString GetStringToMatch() const;
    void SetStringToMatch(System::AnsiString Text);
    System::AnsiString GetFilesToMatch() const;
    void SetFilesToMatch(System::AnsiString Text);
    System::AnsiString GetSaveExtension() const;
    void SetSaveExtension(System::AnsiString Text);

    // ---- Expression and compilation ----------------------------------------
    // The locale given to the engine at the next compilation.
    void SetExpressionLocale(const std::locale& Locale);
    // Compiles when the expression or the compile options changed since the
    // last attempt. 0: compiled; 1: empty expression; otherwise the engine's
    // error code (low 8 bits).
    unsigned char ParseExpression();
    unsigned char ConvertREXResult(unsigned int code);
    System::AnsiString GetExpressionError() const;  // the engine's message, or empty
    long GetExpressionErrorPosition() const;         // where compilation failed, or -1
    int NumberOfSubexpressions();                    // compiles when needed
    int NumberOfSubexpressions() const;              // 0 unless compiled
    // Why the last matching operation stopped early: the engine's text when
    // a match exceeded its complexity or memory limits, empty otherwise.
    System::AnsiString GetMatchError() const;
    // The file in which FindFiles or GrepFiles met that error, else empty.
    System::AnsiString GetMatchErrorFile() const;

    // ---- String matching -------------------------------------------------
    bool Match();     // anchored at the start of the subject; raises OnMatching
    bool MatchAll();  // the whole subject; raises OnMatching
    bool Search();    // first match anywhere; raises OnSearching
    // The current match (inside the events of the string operations), else empty.
    REMatchInfo GetMatchingInformation();
    void ResetMatches();
    unsigned int Grep();  // every match; raises OnGrepping; returns the count
    // The per-match steps of Grep and of the event-driven Merge, which the
    // engine's grep reaches through EnginePredicate; false ends the scan.
    // Outside their own operation they do nothing and answer false.
    bool GrepCallbackPredicate(const reg_match<const char*>& Match);
    bool MergeCallbackPredicate(const reg_match<const char*>& Match);

    // ---- Substitution ----------------------------------------------------
    // The format string expanded against the current match.
    void Format(System::AnsiString& Result) const;
    // Search and replace over the subject; through OnMerging when assigned.
    void Merge(System::AnsiString& Result);

    // ---- Per-thread object stack -----------------------------------------
    void AllocateStack();
    void DeallocateStack();
    static bool FindFilesCallback(const char* file);
    static bool GrepFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    static bool MergeFilesCallback(const char* file, const RegexEngine::RegEx& engine);

    // ---- File operations -------------------------------------------------
    unsigned int FindFiles();  // raises OnFindFiles per file holding a match
    bool ThisFindFilesCallback(const char* file);
    unsigned int GrepFiles();  // raises OnGreppingFiles per match in the files
    bool ThisGrepFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    unsigned int ChangeFiles();  // replaces every match in the files; OnChangingFiles
    bool ThisMergeFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    // The problems of the last ChangeFiles, or null when there were none.
    const std::vector<FileChangeProblem>* GetChangeFilesErrors() const;
    void MergeUpdateFile();
    void MergeFileCleanup(void* source, void* temporary, const std::string& temporaryName);
    unsigned int GetFilePointer(void* handle);
    bool BackupFile(const std::string& name);
    // Asks the framework's FileGetAttr for the read-only attribute; a file
    // whose attributes cannot be read counts as read-only.
    bool ReadOnlyFile(const std::string& name);
    std::string ReplaceExtension();

    // ---- Data, in declaration order --------------------------------------
    MergeFileInformation PendingFile;
    unsigned int NumberOfChanges = 0;
    OptionSet ExpressionOptions;
    MatchSet MatchOptions;
    std::locale ExpressionLocale;
    std::string Expression;
    std::string StringToMatch;
    std::string FilesToMatch;
    std::string FormatString;
    std::string SaveExtension;
    bool DirectoryRecursion = false;
    bool MergeCopy = false;
    // Unicode (UTF-8) mode, as RegexClass::RegularExpression::SetUnicode,
    // and its compilation.
    bool Unicode = false;
    std::shared_ptr<const RegexEngine::UnicodeExpression> UnicodeCompiled;
    bool ExpressionParsed = false;
    boost::regex CompiledExpression;
    std::unique_ptr<boost::cmatch> MatchResults;  // the running Match/MatchAll/Search
    const boost::cmatch* ActiveMatch = nullptr;   // the match a running Grep/Merge reports
    std::string MergeOutput;
    unsigned int MergePosition = 0;
    std::vector<FileChangeProblem> ChangeProblems;
    std::stack<MergeSave, std::deque<MergeSave>> MergeSaves;

    MatchingEvent OnMatching;
    MatchingEvent OnSearching;
    GreppingEvent OnGrepping;
    FileMatchesEvent OnGreppingFiles;
    FindFilesEvent OnFindFiles;
    GreppingEvent OnMerging;
    FileMatchesEvent OnChangingFiles;

    // Bound to this object and GrepCallbackPredicate or MergeCallbackPredicate
    // while Grep or the event-driven Merge runs; null otherwise. Copying,
    // assignment, Assign and comparison leave it alone.
    EnginePredicateClosure EnginePredicate;

    // Working state: the text of the last matching error (GetMatchError())
    // and the scan that the predicates continue while one runs.
    std::string MatchError;
    std::string MatchErrorFile;  // GetMatchErrorFile()
    RegexEngine::ScanState* ActiveScan = nullptr;
};

// Type information of the types the palette components publish: the two
// enumerations (signed-byte storage, their enumerator names), the two sets of
// them (unsigned 16-bit storage) and the four event types (parameter names
// and passing modes).
QUORVPAK_API const Vcl::TTypeInfo& OptionsType();
QUORVPAK_API const Vcl::TTypeInfo& OptionSetType();
QUORVPAK_API const Vcl::TTypeInfo& MatchesType();
QUORVPAK_API const Vcl::TTypeInfo& MatchSetType();
QUORVPAK_API const Vcl::TTypeInfo& MatchingEventType();
QUORVPAK_API const Vcl::TTypeInfo& GreppingEventType();
QUORVPAK_API const Vcl::TTypeInfo& FileMatchesEventType();
QUORVPAK_API const Vcl::TTypeInfo& FindFilesEventType();

}  // namespace RegexComponent

#endif
