// The pieces of the tool's JSON Lines output: strings that may not be valid
// UTF-8, written as {"text": ...} when they are and {"bytes": base64} when
// they are not, the shape editors and scripts already read from other search
// tools.
#ifndef QUORVEX_CLI_JSON_H
#define QUORVEX_CLI_JSON_H

#include <cstddef>
#include <string>

namespace QuorvexCli {

// True when [data, data + size) is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsUtf8(const char* data, std::size_t size);

// Appends `text` as a quoted JSON string (valid UTF-8 assumed).
void AppendJsonString(std::string& out, const char* data, std::size_t size);

// Appends {"text":"..."} or {"bytes":"<base64>"}.
void AppendJsonData(std::string& out, const char* data, std::size_t size);

// Appends the decimal digits of `value`.
void AppendJsonNumber(std::string& out, unsigned long long value);

// Appends {"secs":S,"nanos":N,"human":"0.000123s"} for a duration.
void AppendJsonDuration(std::string& out, unsigned long long nanoseconds);

}  // namespace QuorvexCli

#endif
