// The UTF-16 reading of a search source: inputs with a byte-order mark read
// as UTF-8 in pieces of every size, and other inputs unchanged.
#include <string>

#include <gtest/gtest.h>

#include "Searchsource.h"

using namespace RegexEngine;

namespace {

// All of `input` through TranscodeUtf16 and Read, `block` bytes at a time.
std::string ReadAll(const std::string& input, std::size_t block, bool& transcoded)
{
    SearchSource source;
    source.Assign(input.data(), input.size());
    transcoded = source.TranscodeUtf16();
    std::string out;
    std::string buffer(block, '\0');
    for (;;) {
        std::size_t got = 0;
        EXPECT_TRUE(source.Read(&buffer[0], block, got));
        if (got == 0)
            break;
        out.append(buffer, 0, got);
    }
    return out;
}

}  // namespace

TEST(Utf16Source, ReadsMarkedInputsAsUtf8InPiecesOfEverySize)
{
    using namespace std::string_literals;
    struct Row {
        std::string input;
        bool transcoded;
        std::string expected;
    };
    const Row rows[] = {
        {"\xFF\xFE" "a\0\xE9\0\n\0"s, true, "a\xC3\xA9\n"},                           // little-endian
        {"\xFE\xFF" "\0a\0\xE9\0\n"s, true, "a\xC3\xA9\n"},                           // big-endian
        {"\xFF\xFE" "=\xD8\0\xDE"s, true, "\xF0\x9F\x98\x80"},                        // a surrogate pair
        {"\xFF\xFE" "=\xD8" "a\0"s, true, "\xEF\xBF\xBD" "a"},                        // a high surrogate alone
        {"\xFF\xFE" "\0\xDE" "a\0"s, true, "\xEF\xBF\xBD" "a"},                       // a low surrogate alone
        {"\xFF\xFE" "a\0=\xD8"s, true, "a\xEF\xBF\xBD"},                              // a high one at the end
        {"\xFF\xFE" "a\0b"s, true, "a\xEF\xBF\xBD"},                                  // an odd last byte
        {"\xFF\xFE"s, true, ""},
        {"\xFF"s, false, "\xFF"},
        {"plain \xFF\xFE text"s, false, "plain \xFF\xFE text"},
        {""s, false, ""},
    };
    for (const Row& row : rows)
        for (const std::size_t block : {1u, 2u, 3u, 7u, 4096u}) {
            bool transcoded = false;
            EXPECT_EQ(ReadAll(row.input, block, transcoded), row.expected) << row.expected << " block " << block;
            EXPECT_EQ(transcoded, row.transcoded) << row.expected;
        }
}

TEST(Utf16Source, WholeGivesNothingForATranscodedInput)
{
    const std::string marked("\xFF\xFE" "a\0", 4);
    SearchSource source;
    source.Assign(marked.data(), marked.size());
    ASSERT_TRUE(source.TranscodeUtf16());
    std::uint64_t size = 1;
    EXPECT_EQ(source.Whole(size), nullptr);
    const std::string plain = "abc";
    source.Assign(plain.data(), plain.size());
    ASSERT_FALSE(source.TranscodeUtf16());
    EXPECT_NE(source.Whole(size), nullptr);
    EXPECT_EQ(size, 3u);
}
