// RegularExpression: one regular expression with its options, a subject
// string, a format string and file settings, and every job done on them as a
// single call.
//
// Typical use: configure through the setters, attach handlers, call one
// operation; results arrive through the events while the operation runs and
// through its return value.
//
//   RegexClass::RegularExpression re;
//   re.SetExpression("(\\w+)@(\\w+)");
//   re.SetStringToMatch("mail bob@example now");
//   bool found = re.Search();                     // true
//   re.SetFormatString("$2:$1");
//   std::string out; re.SetMergeCopy(true); re.Merge(out);   // "mail example:bob now"
//
// The expression compiles lazily: setters only store their argument and mark
// the object as not compiled; the next operation that needs the compiled
// expression compiles it once. Errors are values, never exceptions: see
// ParseExpression() and GetExpressionError(). File operations record the files
// they could not change in a problem list (GetChangeFilesErrors()).
//
// What the file operations match: by default each file is ONE subject, the
// whole buffer, and `.` matches a line feed too, so `(.*)$` captures the rest
// of the file and a match may span lines. SetLineMode(true) searches each line
// on its own, as grep does (^ and $ at every line's edges); the match option
// MatchNotDotNewline keeps `.` off line feeds in either mode.
//
// When the engine gives up (an expression too complex for the subject, such as
// (x+x+)+y on a long run of x), Match(), MatchAll() and Search() return false,
// exactly as for "no match": GetMatchError() then holds the engine's text (it
// is empty after a plain "no match"), and GetMatchErrorFile() names the file
// for a file operation.
//
// One object serves one thread at a time; different objects may run on
// different threads at once.
#ifndef QUORVEX_REGULAREXPRESSIONCLASS_H
#define QUORVEX_REGULAREXPRESSIONCLASS_H

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <locale>
#include <memory>
#include <set>
#include <stack>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Quorvexexport.h"
#include "Regularexpressionclosure.h"
#include "Regularexpressionvalues.h"

namespace RegexEngine {
class RegEx;              // the engine's file walker, handed to the file callbacks
class UnicodeExpression;  // the compilation of the Unicode mode
}

namespace RegexClass {

// One sub-match: its text and its byte offset from the start of the searched
// text, or -1 (with empty text) when the sub-expression took no part. In the
// file operations' reports an offset past 2^31 - 1 (a file past 2 GiB) also
// reads -1, with the text still given; the search API (Quorvexsearch.h) has
// 64-bit offsets.
struct QUORVEX_API REMatch {
    std::string Text;
    int Position = -1;
};

// The list for one match. For the string operations: the whole match, each
// marked sub-expression, then the prefix and the suffix. For the file
// operations: the whole match and the sub-expressions only.
using REMatchInfo = std::vector<REMatch>;

class QUORVEX_API RegularExpression {
public:
    // Compile options. The values index the flag table, the stream format and
    // the component package's set properties: never renumber them. The values
    // and what each means: Regularexpressionvalues.h.
    enum Options : unsigned char { QUORVEX_COMPILE_OPTIONS(QUORVEX_ENUMERATOR) };

    // Match options (Regularexpressionvalues.h).
    enum Matches : unsigned char { QUORVEX_MATCH_OPTIONS(QUORVEX_ENUMERATOR) };

    // Event parameter lists. Sender is the object raising the event; Matches
    // lives for the handler call only; clearing bcontinue stops the operation
    // after this occurrence.
    using MatchingEvent = void (*)(RegularExpression* Sender, const REMatchInfo& Matches,
                                   unsigned LineIndex, unsigned StartOfLine);
    using GreppingEvent = void (*)(RegularExpression* Sender, const REMatchInfo& Matches,
                                   unsigned LineIndex, unsigned StartOfLine, bool& bcontinue);
    using FileMatchesEvent = void (*)(RegularExpression* Sender, std::string file,
                                      const REMatchInfo& Matches, unsigned LineIndex,
                                      bool& bcontinue);
    using FindFilesEvent = void (*)(RegularExpression* Sender, std::string file, bool& bcontinue);

    using MatchingEventClosure =
        Closure<void(RegularExpression*, const REMatchInfo&, unsigned, unsigned)>;
    using GreppingEventClosure =
        Closure<void(RegularExpression*, const REMatchInfo&, unsigned, unsigned, bool&)>;
    using FileMatchesEventClosure =
        Closure<void(RegularExpression*, std::string, const REMatchInfo&, unsigned, bool&)>;
    using FindFilesEventClosure = Closure<void(RegularExpression*, std::string, bool&)>;

    // Any callable with the event's parameter list (a capturing lambda, a
    // std::function, a bound object), the third kind of slot.
    using MatchingEventHandler = std::function<void(RegularExpression*, const REMatchInfo&, unsigned, unsigned)>;
    using GreppingEventHandler =
        std::function<void(RegularExpression*, const REMatchInfo&, unsigned, unsigned, bool&)>;
    using FileMatchesEventHandler =
        std::function<void(RegularExpression*, std::string, const REMatchInfo&, unsigned, bool&)>;
    using FindFilesEventHandler = std::function<void(RegularExpression*, std::string, bool&)>;

    // Why a file could not be changed by ChangeFiles (Regularexpressionvalues.h).
    enum ProblemReason : unsigned char { QUORVEX_PROBLEM_REASONS(QUORVEX_ENUMERATOR) };

    struct FileChangeProblem {
        std::string FileName;        // the changed, temporary or backup file
        ProblemReason Reason = OpenFailed;
        unsigned FilePosition = 0;   // position of a failed read or write, or of the changed match
        std::string Text;            // for TextChanged: the match text the walk found
        unsigned SystemError = 0;    // the platform's error code (errno), 0 for TextChanged
    };

    // The replacements collected for the file ChangeFiles is working on.
    struct MergeFileInformation {
        struct GrepInformation {
            unsigned Position = 0;    // byte offset of the match in the file
            std::string Match;        // the matched bytes as the walk saw them
            std::string Replacement;  // the bytes written in their place
        };
        std::string FileName;  // empty when nothing is pending
        std::vector<GrepInformation> Greps;
        // The file as the walk read it (Regularexpressionvalues.h).
        using FileState = RegexValues::FileReadState;
        FileState ReadState;
    };

    // Expression and match flags of one ChangeFiles call in progress.
    struct MergeSave {
        boost::regex CompiledExpression;
        unsigned Flags = 0;
        std::shared_ptr<const RegexEngine::UnicodeExpression> Unicode;  // set in Unicode mode
    };

    // ---- Lifecycle -------------------------------------------------------
    RegularExpression();
    RegularExpression(const RegularExpression& other);
    RegularExpression& operator=(const RegularExpression& other);
    bool operator==(const RegularExpression& other) const;
    bool operator!=(const RegularExpression& other) const { return !(*this == other); }
    virtual ~RegularExpression();

    // ---- Plain settings --------------------------------------------------
    std::string GetStringToMatch() const;
    void SetStringToMatch(const std::string& text);
    std::string GetFilesToMatch() const;
    void SetFilesToMatch(const std::string& files);
    std::string GetFormatString() const;
    void SetFormatString(const std::string& format);
    std::string GetSaveExtension() const;
    void SetSaveExtension(const std::string& extension);
    bool GetDirectoryRecursion() const;
    void SetDirectoryRecursion(bool recurse);
    bool GetMergeCopy() const;
    void SetMergeCopy(bool copy);

    // ---- Compile options (composites Basic/Extended/Normal kept consistent)
    void AddExpressionOption(Options option);
    void DeleteExpressionOption(Options option);
    bool IsExpressionOption(Options option) const;
    void ClearExpressionOptions();
    unsigned int GetFlagOptions();  // the syntax flag word of the option set

    // ---- Match options ---------------------------------------------------
    void AddMatchOption(Matches option);
    void DeleteMatchOption(Matches option);
    bool IsMatchOption(Matches option) const;
    void ClearMatchOptions();
    unsigned int GetMatchFlags();  // the match flag word of the option set

    // ---- Expression and compilation --------------------------------------
    std::string GetExpression() const;
    void SetExpression(const std::string& text);
    void SetLocale(const std::locale& locale);
    std::locale GetLocale() const;
    // Compiles when the expression or the compile options changed since the
    // last attempt. 0: compiled; 1: empty expression; otherwise the engine's
    // error code (low 8 bits).
    unsigned char ParseExpression();
    unsigned char ConvertREXResult(unsigned int code);
    std::string GetExpressionError() const;  // the engine's message, or empty
    // The byte offset in the expression at which compilation failed, or -1.
    long GetExpressionErrorPosition() const;
    int NumberOfSubexpressions();            // compiles when needed
    int NumberOfSubexpressions() const;      // 0 unless compiled

    // Why the last matching operation stopped early: the engine's text when a
    // match exceeded its complexity or memory limits, empty otherwise.
    std::string GetMatchError() const;
    // The file in which FindFiles or GrepFiles met that error, else empty
    // (ChangeFiles names its files in GetChangeFilesErrors()).
    std::string GetMatchErrorFile() const;

    // ---- String matching -------------------------------------------------
    bool Match();     // anchored at the start of the subject; raises OnMatching
    bool MatchAll();  // the whole subject; raises OnMatching
    bool Search();    // first match anywhere; raises OnSearching
    REMatchInfo GetMatchingInformation();  // the current match (inside events), else empty
    void ResetMatches();
    unsigned int Grep();  // every match; raises OnGrepping; returns the count

    // ---- Events ----------------------------------------------------------
    // Each event has three slots: a plain function, a closure (Bind) and any
    // callable (Set...Handler, for example a capturing lambda). Setting one
    // slot to something set clears the other two; setting it to null or empty
    // leaves them alone. A function slot is called in preference to a closure
    // slot, a closure slot in preference to a callable.
    void SetOnMatching(MatchingEvent handler);
    MatchingEvent GetOnMatching() const;
    void SetOnMatchingClosure(MatchingEventClosure handler);
    MatchingEventClosure GetOnMatchingClosure() const;
    void SetOnSearching(MatchingEvent handler);
    MatchingEvent GetOnSearching() const;
    void SetOnSearchingClosure(MatchingEventClosure handler);
    MatchingEventClosure GetOnSearchingClosure() const;
    void SetOnGrepping(GreppingEvent handler);
    GreppingEvent GetOnGrepping() const;
    void SetOnGreppingClosure(GreppingEventClosure handler);
    GreppingEventClosure GetOnGreppingClosure() const;
    void SetOnGreppingFiles(FileMatchesEvent handler);
    FileMatchesEvent GetOnGreppingFiles() const;
    void SetOnGreppingFilesClosure(FileMatchesEventClosure handler);
    FileMatchesEventClosure GetOnGreppingFilesClosure() const;
    void SetOnFindFiles(FindFilesEvent handler);
    FindFilesEvent GetOnFindFiles() const;
    void SetOnFindFilesClosure(FindFilesEventClosure handler);
    FindFilesEventClosure GetOnFindFilesClosure() const;
    void SetOnMerging(GreppingEvent handler);
    GreppingEvent GetOnMerging() const;
    void SetOnMergingClosure(GreppingEventClosure handler);
    GreppingEventClosure GetOnMergingClosure() const;
    void SetOnChangingFiles(FileMatchesEvent handler);
    FileMatchesEvent GetOnChangingFiles() const;
    void SetOnChangingFilesClosure(FileMatchesEventClosure handler);
    FileMatchesEventClosure GetOnChangingFilesClosure() const;
    void SetOnMatchingHandler(MatchingEventHandler handler);
    MatchingEventHandler GetOnMatchingHandler() const;
    void SetOnSearchingHandler(MatchingEventHandler handler);
    MatchingEventHandler GetOnSearchingHandler() const;
    void SetOnGreppingHandler(GreppingEventHandler handler);
    GreppingEventHandler GetOnGreppingHandler() const;
    void SetOnGreppingFilesHandler(FileMatchesEventHandler handler);
    FileMatchesEventHandler GetOnGreppingFilesHandler() const;
    void SetOnFindFilesHandler(FindFilesEventHandler handler);
    FindFilesEventHandler GetOnFindFilesHandler() const;
    void SetOnMergingHandler(GreppingEventHandler handler);
    GreppingEventHandler GetOnMergingHandler() const;
    void SetOnChangingFilesHandler(FileMatchesEventHandler handler);
    FileMatchesEventHandler GetOnChangingFilesHandler() const;

    // ---- Substitution ----------------------------------------------------
    void Format(std::string& out) const;  // expands FormatString against the current match
    void Merge(std::string& out);         // search and replace over the subject

    // ---- Per-thread object stack -----------------------------------------
    void AllocateStack();
    void DeallocateStack();
    static bool FindFilesCallback(const char* file);
    static bool GrepFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    static bool MergeFilesCallback(const char* file, const RegexEngine::RegEx& engine);

    // ---- File operations -------------------------------------------------
    unsigned int FindFiles();
    bool ThisFindFilesCallback(const char* file);
    unsigned int GrepFiles();
    bool ThisGrepFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    unsigned int ChangeFiles();
    bool ThisMergeFilesCallback(const char* file, const RegexEngine::RegEx& engine);
    // The problems of the last ChangeFiles, or null when there were none.
    const std::vector<FileChangeProblem>* GetChangeFilesErrors() const;
    void MergeUpdateFile();
    void MergeFileCleanup(void* source, void* temporary, const std::string& temporaryName);
    unsigned int GetFilePointer(void* handle);
    bool BackupFile(const std::string& name);
    bool ReadOnlyFile(const std::string& name);
    std::string ReplaceExtension();

    // ---- Walk settings and queries for tools (off by default) -------------
    // With none of these set, FindFiles, GrepFiles and ChangeFiles behave as
    // described above. None of them is written by the stream operators.
    // A tool that prints lines from files or pipes is better served by the
    // streaming search API (Quorvexsearch.h: 64-bit positions, pipes read as
    // they arrive, blocks of whole lines for context); the tool's own grep
    // uses it. These settings stay for callers of the walks above.

    // Line mode: every match of a file operation lies within one line; each
    // line (the bytes before a line feed) is searched as a subject of its own,
    // so ^ and $ match at every line's edges. Off (the default), a file is one
    // subject and matches may span lines.
    void SetLineMode(bool on);
    bool GetLineMode() const;

    // A matching error in a file (the engine gave up on the expression there)
    // ends FindFiles and GrepFiles (the default). On, the walk goes on with the
    // next file: the matches of the failed file reported before the error
    // stay reported, OnWalkingFiles sees it FileFinished with its MatchError,
    // and GetMatchError() and GetMatchErrorFile() keep the first error.
    // ChangeFiles always ends (a file it cannot match stays as it was).
    void SetContinueAfterMatchError(bool on);
    bool GetContinueAfterMatchError() const;

    // In line mode, GrepFiles reports only the first match of each line (off
    // by default): for callers that select lines rather than matches, such as
    // a grep printing whole lines, the rest of a selected line is not searched.
    // (The streaming API's equivalent is SearchOptions::FirstMatchOfLine.)
    void SetFirstMatchOfLine(bool on);
    bool GetFirstMatchOfLine() const;

    // Which symbolic links met inside directories take part in a walk.
    enum LinkRule : unsigned char {
        FollowFileLinks = 0,  // links to files are searched, links to directories never entered (default)
        FollowNoLinks = 1,    // no link met inside a directory is searched or entered
        FollowAllLinks = 2    // links to files and to directories (not a link back to a directory above)
    };
    void SetLinkRule(LinkRule rule);
    LinkRule GetLinkRule() const;

    // One file of a walk, as OnWalkingFiles reports it.
    enum WalkStage : unsigned char {
        FileStarted = 0,   // read, about to be searched: Data and Size hold its bytes
        FileFinished = 1,  // its matches were reported; Data and Size still hold its bytes
        FileSkipped = 2    // could not be read (or a directory could not be listed): see SystemError
    };
    struct WalkedFile {
        std::string FileName;
        WalkStage Stage = FileStarted;
        const char* Data = nullptr;  // valid from FileStarted to the end of FileFinished
        std::uint64_t Size = 0;
        unsigned SystemError = 0;    // FileSkipped: the platform's error code
        std::string MatchError;      // FileFinished after a matching error (see SetContinueAfterMatchError)
    };
    // Raised for every file a file operation walks, before and after its
    // matches, and for every file or directory it cannot read. Setting bskip at
    // FileStarted reports no match of that file (ChangeFiles leaves it as it
    // is); clearing bcontinue ends the walk. A file too large to read whole
    // is mapped or searched in windows (docs/file-walk.md); one searched in
    // windows shows Data null and Size 0. A file whose bounded buffer cannot
    // be had is reported FileSkipped with the out-of-memory code. (A printer
    // wanting the bytes around its matches in files of any size, and pipes,
    // gets them from the streaming API's SearchSink::OnBlock instead.)
    using WalkingFilesEventClosure = Closure<void(RegularExpression*, const WalkedFile&, bool& bskip, bool& bcontinue)>;
    void SetOnWalkingFilesClosure(WalkingFilesEventClosure handler);
    WalkingFilesEventClosure GetOnWalkingFilesClosure() const;
    // The same event with any callable (setting one kind clears the other).
    using WalkingFilesEventHandler = std::function<void(RegularExpression*, const WalkedFile&, bool&, bool&)>;
    void SetOnWalkingFilesHandler(WalkingFilesEventHandler handler);
    WalkingFilesEventHandler GetOnWalkingFilesHandler() const;

    // Asked, while a walk lists its files, about each file and sub-directory
    // (by the name it would be reported with); clearing btake leaves it out (a
    // directory left out is not entered).
    using FilteringFilesEventClosure = Closure<void(RegularExpression*, const std::string&, bool directory, bool& btake)>;
    void SetOnFilteringFilesClosure(FilteringFilesEventClosure handler);
    FilteringFilesEventClosure GetOnFilteringFilesClosure() const;
    using FilteringFilesEventHandler = std::function<void(RegularExpression*, const std::string&, bool, bool&)>;
    void SetOnFilteringFilesHandler(FilteringFilesEventHandler handler);
    FilteringFilesEventHandler GetOnFilteringFilesHandler() const;

    // What a path names (links followed), without opening it.
    enum PathType : unsigned char {
        PathMissing = 0,    // nothing there (or it cannot be looked at)
        PathFile = 1,       // a regular file
        PathDirectory = 2,  // a directory
        PathOther = 3       // a FIFO, device or socket: never searched
    };
    // `systemError` (when given) receives the platform's error code for PathMissing.
    static PathType GetPathType(const std::string& path, unsigned* systemError = nullptr);
    static bool IsDirectory(const std::string& path) { return GetPathType(path) == PathDirectory; }
    // The name of the file itself behind any symbolic links (absolute), or
    // empty when it cannot be resolved.
    static std::string GetResolvedPath(const std::string& path);
    // The platform's text for an error code of a problem record or a skipped file.
    static std::string SystemErrorText(unsigned code);
    // For tools that take grep -P's dialect (the library's own syntax does
    // not change): `expression` with the constructs the normal syntax spells
    // differently rewritten (\N, (?P=name), (?P>name), \10 for group ten,
    // (?<=a|bc), \Q...\E). False, with `error` naming the construct, for one
    // that has no equivalent.
    static bool TranslatePerlDialect(const std::string& expression, std::string& translated, std::string& error);
    // The same for an expression of the Unicode mode (SetUnicode), which reads
    // \p{..} categories itself: they are left as they are.
    static bool TranslatePerlDialect(const std::string& expression, std::string& translated, std::string& error,
                                     bool unicode);
    // The name ChangeFiles would give the backup copy of `file` with the
    // current SaveExtension (empty when no backups are made).
    std::string GetBackupName(const std::string& file) const;
    // How a backup is named: off (the default), the file's extension is
    // replaced by SaveExtension (report.txt -> report.bak); on, SaveExtension
    // is appended to the whole name (report.txt -> report.txt.bak, .bashrc ->
    // .bashrc.bak), as sed -i and perl -i name theirs.
    void SetBackupAppendsExtension(bool on);
    bool GetBackupAppendsExtension() const;

    // ---- Unicode mode (off by default) ------------------------------------
    // On, the expression, the subject, the format and the files are UTF-8
    // text: ., bracket expressions and \W \S \D match whole code points; \w \d
    // \s \b \< \> and the [[:name:]] classes follow Unicode; \p{L}, \p{Lu},
    // \p{Greek}, their \P{...} negations and \x{HHHH} are accepted; case is
    // ignored by Unicode simple case folding. Positions stay byte offsets.
    // Invalid UTF-8 in a subject is matched by nothing (not by . nor by any
    // class) and never stops the search of the text around it. Where the
    // build has no Unicode engine, every expression fails to compile with a
    // message saying so. Changing the switch recompiles the expression; the
    // stream operators do not write it.
    void SetUnicode(bool on);
    bool GetUnicode() const;
    // Whether this build has the Unicode engine.
    static bool IsUnicodeAvailable();

    // ---- Persistence -----------------------------------------------------
    static int StreamVersion;

    // ---- Data, in declaration order --------------------------------------
    MergeFileInformation PendingFile;
    unsigned int NumberOfChanges = 0;
    std::set<Options> ExpressionOptions;
    std::set<Matches> MatchOptions;
    std::locale ExpressionLocale;
    std::string Expression;
    std::string StringToMatch;
    std::string FilesToMatch;
    std::string FormatString;
    std::string SaveExtension;
    bool DirectoryRecursion = false;
    bool MergeCopy = false;
    bool ExpressionParsed = false;
    boost::regex CompiledExpression;
    std::unique_ptr<boost::cmatch> MatchResults;  // the running Match/MatchAll/Search
    const boost::cmatch* ActiveMatch = nullptr;   // the match a running Grep/Merge reports
    std::string MergeOutput;
    unsigned int MergePosition = 0;
    std::vector<FileChangeProblem> ChangeProblems;
    std::stack<MergeSave, std::deque<MergeSave>> MergeSaves;

    MatchingEvent OnMatching = nullptr;
    MatchingEvent OnSearching = nullptr;
    GreppingEvent OnGrepping = nullptr;
    FileMatchesEvent OnGreppingFiles = nullptr;
    FindFilesEvent OnFindFiles = nullptr;
    GreppingEvent OnMerging = nullptr;
    FileMatchesEvent OnChangingFiles = nullptr;

    MatchingEventClosure OnMatchingClosure;
    MatchingEventClosure OnSearchingClosure;
    GreppingEventClosure OnGreppingClosure;
    FileMatchesEventClosure OnGreppingFilesClosure;
    FindFilesEventClosure OnFindFilesClosure;
    GreppingEventClosure OnMergingClosure;
    FileMatchesEventClosure OnChangingFilesClosure;

    MatchingEventHandler OnMatchingHandler;
    MatchingEventHandler OnSearchingHandler;
    GreppingEventHandler OnGreppingHandler;
    FileMatchesEventHandler OnGreppingFilesHandler;
    FindFilesEventHandler OnFindFilesHandler;
    GreppingEventHandler OnMergingHandler;
    FileMatchesEventHandler OnChangingFilesHandler;

    // Text of the last matching error (see GetMatchError()).
    std::string MatchError;
    std::string MatchErrorFile;  // GetMatchErrorFile()

    // Walk settings (see SetLineMode, SetLinkRule and the walk events).
    bool LineMode = false;
    LinkRule Links = FollowFileLinks;
    bool FirstMatchOfLine = false;
    bool BackupAppends = false;
    bool ContinueAfterMatchError = false;
    WalkingFilesEventClosure OnWalkingFilesClosure;
    FilteringFilesEventClosure OnFilteringFilesClosure;
    WalkingFilesEventHandler OnWalkingFilesHandler;
    FilteringFilesEventHandler OnFilteringFilesHandler;

    // Unicode mode (see SetUnicode) and its compilation.
    bool Unicode = false;
    std::shared_ptr<const RegexEngine::UnicodeExpression> UnicodeCompiled;
};

// Settings to and from a stream: decimal tokens separated by single spaces,
// each string preceded by its byte length. The reader stops at the first
// token that fails and leaves the stream failed.
QUORVEX_API std::ostream& operator<<(std::ostream& os, const RegularExpression& object);
QUORVEX_API std::istream& operator>>(std::istream& is, RegularExpression& object);

}  // namespace RegexClass

#endif
