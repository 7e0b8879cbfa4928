// Placeholder.
namespace RegexPlatform {}
