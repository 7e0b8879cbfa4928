// Expression compilation with a legacy syntax word, and the error text.
#include "Compilation.h"

#include <exception>

#include "Syntaxflags.h"

// Header-only, standalone Boost.Regex locks the caches every thread shares
// (the traits cache each compilation goes through, the matcher's memory
// blocks) only when told that threads exist; without it two threads
// compiling at once corrupt them.
#if defined(BOOST_REGEX_STANDALONE) && !defined(BOOST_HAS_THREADS)
#error "standalone Boost.Regex must be built with BOOST_HAS_THREADS defined"
#endif

namespace RegexEngine {

int CompileExpression(boost::regex& compiled, const std::string& text, unsigned legacySyntax,
                      const std::locale& locale)
{
    const auto flags = TranslateSyntaxFlags(legacySyntax);
    compiled.imbue(locale);
    try {
        compiled.assign(text.c_str(), flags);
    } catch (const boost::regex_error&) {
        // Not expected with no_except; a release that throws anyway must not
        // leave the previous expression in place as if it had compiled. An
        // expression without content reports an error status of its own.
        compiled = boost::regex();
    }
    return compiled.status();
}

std::string CompilationErrorText(const boost::regex& compiled)
{
    const int code = compiled.status();
    if (code == 0)
        return std::string();
    boost::regex_traits<char> traits;
    traits.imbue(compiled.getloc());
    return traits.error_string(static_cast<boost::regex_constants::error_type>(code));
}

CompilationFailure DiagnoseCompilation(const boost::regex& compiled, const std::string& text)
{
    CompilationFailure failure;
    if (compiled.status() == 0)
        return failure;
    boost::regex again;
    again.imbue(compiled.getloc());
    try {
        again.assign(text.c_str(), compiled.flags() & ~boost::regex::no_except);
    } catch (const boost::regex_error& error) {
        failure.Position = static_cast<long>(error.position());
        // The parser's sentence comes first; the rest quotes the expression.
        std::string message = error.what();
        const std::size_t quote = message.find("  The error occurred while parsing");
        if (quote != std::string::npos)
            message.resize(quote);
        failure.Message = message;
    } catch (const std::exception&) {
        // nothing more is known
    }
    return failure;
}

std::string CompilationErrorText(const boost::regex& compiled, const std::string& text)
{
    std::string generic = CompilationErrorText(compiled);
    if (compiled.status() != boost::regex_constants::error_badbrace)
        return generic;
    // The code of a bad repeat range also stands for bad escapes and other
    // constructs; the parser names the one it met.
    const CompilationFailure failure = DiagnoseCompilation(compiled, text);
    if (failure.Message.empty() || failure.Message.find("epeat") != std::string::npos)
        return generic;
    return failure.Message;
}

}  // namespace RegexEngine
