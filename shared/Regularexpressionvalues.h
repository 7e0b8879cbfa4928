// The values shared by every piece that speaks of options and problems: the
// class library's RegularExpression, the component package's
// RegularExpressionCustom, the engine's option rules and file rewrite, and
// the command-line tool. Their numbers are part of the interface (they index
// the flag tables, the bits of the component's sets and the stream format):
// never renumber them, only add at the end.
//
// Each list is written once here, as a list macro that takes the name of a
// macro to apply to every entry `X(Name, value)`. Each user expands the list
// into what it needs, for example the nested enumeration of a class:
//
//   enum Options : unsigned char { QUORVEX_COMPILE_OPTIONS(QUORVEX_ENUMERATOR) };
//
// or the names of the values, in value order:
//
//   const char* const names[] = {QUORVEX_COMPILE_OPTIONS(QUORVEX_VALUE_NAME)};
//
// Besides the macros the header declares only the counts and order checks
// and the record of a file's state (FileReadState) in namespace RegexValues;
// it includes nothing.
#ifndef QUORVEX_REGULAREXPRESSIONVALUES_H
#define QUORVEX_REGULAREXPRESSIONVALUES_H

// Compile options (the enumeration Options).
#define QUORVEX_COMPILE_OPTIONS(X)                                                           \
    X(EscapeInCharacterSets, 0)         /* backslash escapes inside [...] */                 \
    X(CharacterClasses, 1)              /* [[:alpha:]] and friends inside [...] */           \
    X(Intervals, 2)                     /* bounded repeats {n,m} */                          \
    X(LimitedOperations, 3)             /* +, ? and | are not operators */                   \
    X(NewlineAsAlternationOperator, 4)  /* a newline in the expression means | */            \
    X(QuestionmarkPlusNotOperators, 5)  /* + and ? literal; \+ and \? are operators */       \
    X(BracesNotOperators, 6)            /* { } literal; \{ \} delimit repeats */             \
    X(ParenthesesNotOperators, 7)       /* ( ) literal; \( \) group */                       \
    X(BackReferences, 8)                /* \1 to \9 */                                       \
    X(VerticalbarNotOperator, 9)        /* | literal; \| alternates */                       \
    X(Literals, 10)                     /* the whole expression is plain text */             \
    X(CaseInsensitive, 11)              /* letters match regardless of case */               \
    X(NoLocaleSpecificCollation, 12)    /* ranges compare character codes */                 \
    X(Basic, 13)                        /* POSIX basic syntax (composite) */                 \
    X(Extended, 14)                     /* POSIX extended syntax (composite) */              \
    X(Normal, 15)                       /* the engine's normal syntax (composite) */

// Match options (the enumeration Matches).
#define QUORVEX_MATCH_OPTIONS(X)                                                             \
    X(MatchDefault, 0)               /* no restriction */                                    \
    X(MatchNotBeginningOfLine, 1)    /* ^ does not match at the start of the text */         \
    X(MatchNotEndOfLine, 2)          /* $ does not match at the end of the text */           \
    X(MatchNotBeginningOfBuffer, 3)  /* start-of-buffer assertion fails at the start */      \
    X(MatchNotEndOfBuffer, 4)        /* end-of-buffer assertion fails at the end */          \
    X(MatchNotBeginningOfWord, 5)    /* the start of the text is not a word start */         \
    X(MatchNotEndOfWord, 6)          /* the end of the text is not a word end */             \
    X(MatchNotDotNewline, 7)         /* . does not match a newline */                        \
    X(MatchNotDotNullCharacter, 8)   /* . does not match NUL */                              \
    X(MatchShortest, 9)              /* accept the first match found, not the longest */     \
    X(MatchNotNullString, 10)        /* an empty match is not accepted */                    \
    X(MatchContinuous, 11)           /* the match must start where the search starts */

// Why ChangeFiles could not change a file (the enumeration ProblemReason).
#define QUORVEX_PROBLEM_REASONS(X)                                                           \
    X(OpenFailed, 0)             /* the file to change cannot be opened for reading */       \
    X(CreateTemporaryFailed, 1)  /* the temporary file cannot be created */                  \
    X(ReadFailed, 2)             /* a read from the file to change failed or was short */    \
    X(WriteFailed, 3)            /* a write to the temporary file failed or was short */     \
    X(TextChanged, 4)            /* the file no longer holds the text found by the walk */   \
    X(BackupFailed, 5)           /* the backup copy cannot be made */                        \
    X(ReplaceFailed, 6)          /* the file cannot be replaced by the new content */        \
    X(AttributesFailed, 7)       /* the file's attributes cannot be given to the new content */ \
    X(MatchFailed, 8)            /* matching inside the file failed; the file is left as it was */ \
    X(InUse, 9)                  /* another process has the file open; it is left as it was */ \
    X(StoppedHere, 10)           /* a backup-named or read-only file ended the run here */    \
    X(AlreadyChanged, 11)        /* the same file, under another name, was changed earlier in the run */

// Entry macros for the lists above.
#define QUORVEX_ENUMERATOR(name, value) name = value,
#define QUORVEX_VALUE_NAME(name, value) #name,
#define QUORVEX_VALUE_CONSTANT(name, value) constexpr unsigned name = value;
#define QUORVEX_VALUE(name, value) value,

namespace RegexValues {

// The values of each list in list order, and how many there are.
constexpr unsigned CompileOptionValues[] = {QUORVEX_COMPILE_OPTIONS(QUORVEX_VALUE)};
constexpr unsigned MatchOptionValues[] = {QUORVEX_MATCH_OPTIONS(QUORVEX_VALUE)};
constexpr unsigned ProblemReasonValues[] = {QUORVEX_PROBLEM_REASONS(QUORVEX_VALUE)};
constexpr unsigned CompileOptionCount = sizeof CompileOptionValues / sizeof CompileOptionValues[0];
constexpr unsigned MatchOptionCount = sizeof MatchOptionValues / sizeof MatchOptionValues[0];
constexpr unsigned ProblemReasonCount = sizeof ProblemReasonValues / sizeof ProblemReasonValues[0];

// Every value is its position: the first is 0 and each next one is one more,
// so the values index tables and bits with no gap.
template <unsigned N>
constexpr bool InOrder(const unsigned (&values)[N])
{
    for (unsigned i = 0; i < N; ++i)
        if (values[i] != i)
            return false;
    return true;
}
static_assert(InOrder(CompileOptionValues), "compile options must be numbered 0, 1, 2, ... in list order");
static_assert(InOrder(MatchOptionValues), "match options must be numbered 0, 1, 2, ... in list order");
static_assert(InOrder(ProblemReasonValues), "problem reasons must be numbered 0, 1, 2, ... in list order");

// A file as a walk read it: which file it was (device and file number) and
// its size and modification time then. ChangeFiles rewrites a file only
// while it is still in that state.
struct FileReadState {
    unsigned long long Device = 0;
    unsigned long long Identity = 0;
    unsigned long long Size = 0;
    long long ModifiedSeconds = 0;
    unsigned ModifiedNanoseconds = 0;
    bool Known = false;
};

}  // namespace RegexValues

#endif
