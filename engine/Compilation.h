// Compiling an expression text into the engine's compiled expression, and the
// engine's message for a failed compilation. Nothing here throws for a bad
// expression: the outcome is the engine's error code, kept by the compiled
// expression itself.
#ifndef QUORVEX_ENGINE_COMPILATION_H
#define QUORVEX_ENGINE_COMPILATION_H

#include <locale>
#include <string>

#include <boost/regex.hpp>

namespace RegexEngine {

// Gives `locale` to `compiled`, then compiles `text` up to its first NUL byte
// with the translation of the legacy syntax word. Returns the engine's error
// code, 0 for success; the code stays readable as compiled.status().
int CompileExpression(boost::regex& compiled, const std::string& text, unsigned legacySyntax,
                      const std::locale& locale);

// The engine's message for the error of a failed compilation, looked up with
// the locale the expression was compiled with; empty when it compiled.
std::string CompilationErrorText(const boost::regex& compiled);

// Where and why compiling `text` into `compiled` failed, as the engine's
// parser says when asked again with its exceptions on: the byte offset in
// `text` at which it gave up (-1 when it compiled or nothing more is known),
// and its own sentence for the error.
struct CompilationFailure {
    long Position = -1;
    std::string Message;
};
CompilationFailure DiagnoseCompilation(const boost::regex& compiled, const std::string& text);

// The message for a failed compilation of `text`: the engine's message for
// its error code, except where that names a construct the expression does not
// have there (a bad \x{...} escape reports the code of a bad repeat range),
// where the parser's own sentence is given instead.
std::string CompilationErrorText(const boost::regex& compiled, const std::string& text);

// The one-byte form in which compilation results are reported.
inline unsigned char ConvertResultCode(unsigned int code)
{
    return static_cast<unsigned char>(code & 0xFFu);
}

}  // namespace RegexEngine

#endif
