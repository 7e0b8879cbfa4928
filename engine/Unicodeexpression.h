// An expression compiled for UTF-8 text: every construct works on whole code
// points (., bracket expressions and their negations, \W \S \D), the classes
// follow Unicode (\w \d \s \b \< \> and [[:alpha:]] for every script, \p{..}
// general categories and scripts, \x{HHHH}), and case-insensitive matching
// uses Unicode simple case folding. Results are ordinary byte-oriented match
// results: every position is a byte offset into the UTF-8 subject, so the
// match lists, line counting and format expansion of byte mode serve
// unchanged.
//
// Invalid UTF-8 in a subject never throws and never ends a search: the
// subject is searched as its valid stretches, each broken sequence standing
// between two stretches like a character that nothing matches (not ., not a
// class, not a negated class), that is no word character and no line end. So
// no match ever starts, ends or lies inside a broken sequence, and a line
// holding one is still searched on both sides of it.
//
// This header names only Boost.Regex's byte types; the Unicode engine behind
// it is confined to Unicodeexpression.cpp, on ICU where the build has it and
// on the generated Unicode tables (Unicodetables.h) otherwise. What the
// tables cannot give (equivalence classes, character names) compiles to a
// clear error, never to a different match.
#ifndef QUORVEX_ENGINE_UNICODEEXPRESSION_H
#define QUORVEX_ENGINE_UNICODEEXPRESSION_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Stringgrep.h"

namespace RegexEngine {

// Faster routes to the Unicode engine's own results (Unicodeshortcuts.cpp).
struct UnicodeShortcuts {
    // The expression in byte mode (classic locale), when over a subject made
    // only of ASCII characters it finds exactly what the Unicode engine finds:
    // written in ASCII, with no class whose ASCII members differ between the
    // two (\s, [[:punct:]], \p{..}, ...). Then `asciiPlan` is the search
    // driver's plan for it.
    bool hasAscii = false;
    boost::regex ascii;
    std::unique_ptr<SearchPlan> asciiPlan;
    // Literal texts that hold for every subject, valid UTF-8 or not: the
    // expression's matches are the `plain` texts, or every match holds one
    // of the `required` ones. Case-insensitive texts carry their non-ASCII
    // case variants (é/É, k and the Kelvin sign...); null when not known.
    std::unique_ptr<SearchPlan> plan;
};

// Whether this build has the Unicode engine (every build now has it).
bool UnicodeAvailable();

// The length of the valid UTF-8 sequence at [p, last): 1 to 4, or 0 when the
// bytes there are not a valid sequence (a stray continuation byte, a
// truncated sequence, an overlong form, a surrogate, a value past U+10FFFF).
std::size_t ValidUtf8Length(const char* p, const char* last);

// Appends the UTF-8 form of the code point `c` (at most U+10FFFF) to `out`.
void AppendUtf8(std::string& out, std::uint32_t c);

// Whether all of [first, last) is valid UTF-8.
bool IsValidUtf8(const char* first, const char* last);

class UnicodeExpression {
public:
    // Compiles `text` (UTF-8, up to its first NUL byte) with the translation
    // of the legacy syntax word. Never throws for a bad expression; the
    // outcome is in Status() and ErrorText(). Never null.
    static std::shared_ptr<const UnicodeExpression> Compile(const std::string& text, unsigned legacySyntax);

    ~UnicodeExpression();
    UnicodeExpression(const UnicodeExpression&) = delete;
    UnicodeExpression& operator=(const UnicodeExpression&) = delete;

    // 0 when compiled, else the engine's error code.
    int Status() const { return status_; }
    // The message for a failed compilation; empty when it compiled.
    const std::string& ErrorText() const { return error_; }
    // The number of marked sub-expressions (0 unless compiled).
    unsigned MarkCount() const;
    // Whether the expression ignores case.
    bool IgnoresCase() const;
    // The expression as given, and its legacy syntax word.
    const std::string& Source() const { return source_; }
    unsigned Syntax() const { return syntax_; }

    // One run over [first, last) into `m`, as MatchRange does for byte mode.
    // A matching error counts as no match and is stored in `error`.
    bool Match(const char* first, const char* last, boost::regex_constants::match_flag_type flags,
               Anchoring anchoring, boost::cmatch& m, std::string& error) const;

    // Every match in [first, last), left to right, as GrepRange does for byte
    // mode: onMatch answers whether to go on; after an empty match the same
    // position is tried again for a non-empty match, then the search moves on
    // by one code point. Returns the number of matches handed to onMatch. A
    // matching error stops the scan and is stored in `error`; an exception
    // thrown by onMatch propagates.
    unsigned Grep(const char* first, const char* last, boost::regex_constants::match_flag_type flags,
                  const std::function<bool(const boost::cmatch&)>& onMatch, std::string& error) const;

    // The match that starts at `at` in the subject [first, last), as an
    // anchored run there that sees the text before and after it.
    bool MatchAt(const char* first, const char* last, const char* at, boost::regex_constants::match_flag_type flags,
                 boost::cmatch& m, std::string& error) const;

    // Whether every match starts `width` code points before an occurrence
    // of the literal `text` (`.{3}é`: 3 and é); then Grep runs the engine
    // anchored only at those starts. False when not known.
    bool StartsBeforeText(std::size_t& width, std::string& text) const;

    // Whether no match holds anything but word code points and every match
    // holds the literal `text` (`\w+ость\b`: ость); then Grep starts the
    // engine at the run of word code points before each occurrence of the
    // text. False when not known.
    bool StartsInWordsAround(std::string& text) const;

    // The shortcuts for this expression, made on first use (thread-safe).
    const UnicodeShortcuts& Shortcuts() const;

private:
    struct Engine;
    UnicodeExpression();
    std::unique_ptr<Engine> engine_;
    int status_ = 0;
    std::string error_;
    std::string source_;     // the expression as given
    unsigned syntax_ = 0;    // its legacy syntax word
    mutable std::once_flag shortcutsOnce_;
    mutable std::unique_ptr<const UnicodeShortcuts> shortcuts_;
    friend std::unique_ptr<SearchPlan> PlanUnicodeLines(const UnicodeExpression& expression);
};

// The literal plan of `expression` for the file searcher (the `plan` of its
// shortcuts, copied): null when no literal text is known to hold in the mode.
std::unique_ptr<SearchPlan> PlanUnicodeLines(const UnicodeExpression& expression);

// The code points that Unicode simple case folding makes one letter with `c`
// (`c` included), in ascending order.
std::vector<std::uint32_t> SimpleCaseVariants(std::uint32_t c);

// Whether all of [first, last) is ASCII.
bool IsAscii(const char* first, const char* last);

// The operations of the mode through its shortcuts: what UnicodeExpression's
// Match and Grep give, and (CountUnicodeMatches) the number of matches its
// Grep hands out with a callback that always goes on.
bool MatchUnicode(const UnicodeExpression& expression, const char* first, const char* last,
                  boost::regex_constants::match_flag_type flags, Anchoring anchoring, boost::cmatch& m,
                  std::string& error);
unsigned GrepUnicode(const UnicodeExpression& expression, const char* first, const char* last,
                     boost::regex_constants::match_flag_type flags,
                     const std::function<bool(const boost::cmatch&)>& onMatch, std::string& error);
unsigned CountUnicodeMatches(const UnicodeExpression& expression, const char* first, const char* last,
                             boost::regex_constants::match_flag_type flags, std::string& error);

// Replaces every match in [first, last) by the expansion of `format`
// (classified with `locale`), appending to `out`; with `copyRest` the text
// between, before and after the matches is copied too, as ReplaceRange does
// for byte mode. A matching error ends the output after the last replacement
// made and is stored in `error`.
void UnicodeReplace(std::string& out, const char* first, const char* last, const UnicodeExpression& expression,
                    const std::string& format, const std::locale& locale,
                    boost::regex_constants::match_flag_type flags, bool copyRest, std::string& error);

// The replacement ChangeFiles writes for the match [position, position +
// match.size()) of a file's bytes [data, data + size): the expansion of
// `format` against the expression run anchored at the match, over the lines
// that hold it; where that run does not give the same span, the format is
// merged over the match text alone. A matching error throws
// std::runtime_error with the engine's text.
std::string UnicodeContextReplacement(const UnicodeExpression& expression, const std::string& format,
                                      const std::locale& locale, boost::regex_constants::match_flag_type flags,
                                      const char* data, std::size_t size, std::size_t position,
                                      const std::string& match);

// The file searcher's run in Unicode mode: every match of `expression` (with
// `marks` sub-matches, whole match included) in [data, data + size), handed
// to the sink as byte offsets, as RunSearch does for byte mode with the same
// flags (match flags, plus lineModeFlag and firstOfLineFlag for line mode).
// With a plan from PlanUnicodeLines, line mode skips the lines without one
// of its texts. Whatever the sink throws passes through.
SearchEnd SearchUnicodeBuffer(const UnicodeExpression& expression, const SearchPlan* plan, unsigned marks,
                              const char* data, std::size_t size, unsigned flags, MatchSink& sink,
                              std::string& error);

}  // namespace RegexEngine

#endif
