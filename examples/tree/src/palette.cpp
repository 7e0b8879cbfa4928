// Palette: named colours and their hex codes.
#include "palette.h"

#include <map>
#include <string>

namespace palette {

// TODO: load the colour table from a file instead.
static const std::map<std::string, std::string> colours = {
    {"red", "#ff0000"},
    {"green", "#00ff00"},
    {"blue", "#0000ff"},
};

std::string colour_code(const std::string& name)
{
    auto found = colours.find(name);
    return found == colours.end() ? std::string() : found->second;  // FIXME: report unknown names
}

}  // namespace palette
