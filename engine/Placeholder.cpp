// Placeholder.
namespace RegexEngine {}
