// Fuzzes the search driver and the streaming searcher against the engine's
// plain grep: the first two
// bytes choose the match flags, the third case and line mode; the rest is
// split at the first 0x1F byte into the expression and the subject. Every
// match and sub-match position must agree, or the program aborts. With the
// third byte's bit 3 the comparison is that of the Unicode mode: the file
// searcher's and the string operations' shortcuts, and in line mode the
// searcher's automaton prefilter, against the Unicode engine's own grep.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <boost/regex.hpp>

#include "Differential.h"
#include "Syntaxflags.h"

namespace {

int UnicodeOne(const std::string& expression, const std::string& subject, unsigned flags, bool icase, bool lines,
               bool firstOfLine)
{
    if (!RegexEngine::UnicodeAvailable())
        return 0;
    // The normal syntax, as the expression object compiles it by default.
    const unsigned syntax = RegexEngine::LegacySyntax::escape_in_lists | RegexEngine::LegacySyntax::char_classes |
                            RegexEngine::LegacySyntax::intervals | RegexEngine::LegacySyntax::bk_refs |
                            (icase ? RegexEngine::LegacySyntax::icase : 0u);
    const auto e = RegexEngine::UnicodeExpression::Compile(expression, syntax);
    if (e->Status() != 0)
        return 0;
    Differential::Matches expected, got;
    if (!Differential::UnicodeReference(*e, subject, flags, lines, expected, firstOfLine))
        return 0;  // the engine gave up on the reference
    if (!Differential::UnicodeSearcher(*e, subject, flags, lines, got, firstOfLine) || got != expected) {
        std::fprintf(stderr, "Unicode searcher differs: /%s/ flags %x icase %d lines %d, %zu matches against %zu\n",
                     expression.c_str(), flags, icase, lines, got.size(), expected.size());
        std::abort();
    }
    if (lines) {
        // The searcher's pattern: with the automaton prefilter where it has
        // no literal to look for, the engine over the lines it lets through.
        unsigned status = 0;
        const auto pattern = RegexEngine::UnicodePattern(e, status);
        got.clear();
        if (!pattern || !Differential::UnicodePrefiltered(*pattern, subject, flags, got, firstOfLine) ||
            got != expected) {
            std::fprintf(stderr, "Unicode prefiltered search differs: /%s/ flags %x icase %d prefilter %d, %zu matches against %zu\n",
                         expression.c_str(), flags, icase, pattern && pattern->prefilter ? 1 : 0, got.size(),
                         expected.size());
            std::abort();
        }
    }
    if (!lines) {
        unsigned counted = 0;
        got.clear();
        if (!Differential::UnicodeStringRoutes(*e, subject, flags, got, counted) || got != expected ||
            counted != expected.size()) {
            std::fprintf(stderr, "Unicode string routes differ: /%s/ flags %x icase %d, %zu matches against %zu\n",
                         expression.c_str(), flags, icase, got.size(), expected.size());
            std::abort();
        }
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    static const unsigned bits[] = {
        boost::match_not_bol,         boost::match_not_eol,      boost::match_not_bob,   boost::match_not_eob,
        boost::match_not_bow,         boost::match_not_eow,      boost::match_not_dot_newline,
        boost::match_not_dot_null,    boost::match_any,          boost::match_not_null,  boost::match_continuous,
        boost::match_posix,
    };
    const unsigned choice = data[0] | (data[1] << 8);
    unsigned flags = 0;
    for (unsigned i = 0; i < sizeof bits / sizeof *bits; ++i)
        if (choice & (1u << i))
            flags |= bits[i];
    const bool icase = data[2] & 1;
    const bool lines = data[2] & 2;
    const bool firstOfLine = data[2] & 4;
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t split = rest.find('\x1F');
    if (split == std::string::npos || split > 256)
        return 0;
    const std::string expression = rest.substr(0, split);
    const std::string subject = rest.substr(split + 1);
    if (data[2] & 8)
        return UnicodeOne(expression, subject, flags, icase, lines, firstOfLine);
    // \K under match_posix trips an assertion inside the engine's own grep
    // (Boost 1.74); the analyser never takes it, so both sides would run the
    // very same engine call: nothing to compare.
    if ((flags & boost::match_posix) && expression.find("\\K") != std::string::npos)
        return 0;

    boost::regex e;
    e.assign(expression, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : boost::regex::normal));
    if (e.status() != 0)
        return 0;
    const auto plan = RegexEngine::PlanSearch(expression, icase, e, static_cast<unsigned>(e.mark_count()) + 1);
    Differential::Matches expected, got;
    if (!Differential::Reference(e, subject, flags, lines, expected, firstOfLine))
        return 0;  // the engine gave up on the reference: nothing to compare
    if (!Differential::Driver(e, plan.get(), subject, flags, lines, got, firstOfLine) || got != expected) {
        std::fprintf(stderr, "driver differs: /%s/ flags %x icase %d lines %d first of line %d, %zu matches against %zu\n",
                     expression.c_str(), flags, icase, lines, firstOfLine, got.size(), expected.size());
        std::abort();
    }
    // The file searcher with the pattern as it is compiled for walks (the
    // automaton's candidate spans where it takes them), against the engine
    // over the whole buffer or over each line ending at its line feed. Walks
    // compile a C string, so an expression holding a NUL is not theirs.
    if (expression.find('\0') == std::string::npos) {
        unsigned error = 0;
        const auto pattern = RegexEngine::CompilePattern(expression.c_str(), icase, error);
        if (pattern) {
            expected.clear();
            if (Differential::Reference(e, subject, flags, lines, expected, firstOfLine, lines) &&
                (!Differential::Searcher(*pattern, subject, flags, lines, got, firstOfLine) || got != expected)) {
                std::fprintf(stderr, "searcher differs: /%s/ flags %x icase %d lines %d first of line %d, %zu matches against %zu\n",
                             expression.c_str(), flags, icase, lines, firstOfLine, got.size(), expected.size());
                std::abort();
            }
        }
    }
    // The streaming searcher in line mode, block by block (the fourth byte's
    // low bits choose the block size), against the engine over each line
    // ending only at its line feed.
    if (lines) {
        expected.clear();
        if (!Differential::Reference(e, subject, flags, true, expected, firstOfLine, true))
            return 0;
        unsigned wrongViews = 0;
        const std::size_t block = 1 + (data[3] & 63);
        if (!Differential::Stream(e, expression, subject, icase, flags, true, block, got, wrongViews, firstOfLine) ||
            got != expected || wrongViews != 0) {
            std::fprintf(stderr, "stream differs: /%s/ flags %x block %zu, %zu matches against %zu, %u wrong views\n",
                         expression.c_str(), flags, block, got.size(), expected.size(), wrongViews);
            std::abort();
        }
    }
    return 0;
}
