// Palette: look up the hex code of a named colour.
#pragma once

#include <string>

namespace palette {

// The code ("#rrggbb") of a colour, or an empty string. TODO: accept "#rgb".
std::string colour_code(const std::string& name);

}  // namespace palette
