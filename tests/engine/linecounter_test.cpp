// Incremental line numbers against a count from the start of the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "Linecounter.h"

namespace {

void Reference(const std::string& text, std::size_t offset, unsigned& line, unsigned& start)
{
    line = 1 + static_cast<unsigned>(std::count(text.begin(), text.begin() + offset, '\n'));
    const std::size_t last = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
    start = last == std::string::npos ? 0 : static_cast<unsigned>(last + 1);
}

TEST(LineCounter, Examples)
{
    const std::string text = "ab\nabc\r\n\nx";
    struct Row {
        std::size_t offset;
        unsigned line, start;
    };
    const Row rows[] = {{0, 1, 0}, {2, 1, 0}, {3, 2, 3}, {5, 2, 3}, {7, 2, 3}, {8, 3, 8}, {9, 4, 9}, {10, 4, 9}};
    RegexEngine::LineCounter counter(text.data());
    for (const Row& row : rows) {
        counter.AdvanceTo(text.data() + row.offset);
        EXPECT_EQ(counter.LineIndex(), row.line) << row.offset;
        EXPECT_EQ(counter.StartOfLine(), row.start) << row.offset;
    }
}

TEST(LineCounter, AgreesWithACountFromTheStartOverRandomSteps)
{
    std::mt19937 random(7);
    std::string text(5000, 'a');
    for (char& c : text)
        if (random() % 9 == 0)
            c = '\n';
    RegexEngine::LineCounter counter(text.data());
    std::size_t offset = 0;
    while (offset < text.size()) {
        offset += random() % 40;
        if (offset > text.size())
            offset = text.size();
        counter.AdvanceTo(text.data() + offset);
        unsigned line = 0, start = 0;
        Reference(text, offset, line, start);
        ASSERT_EQ(counter.LineIndex(), line) << offset;
        ASSERT_EQ(counter.StartOfLine(), start) << offset;
    }
    // A step back counts again from the start.
    counter.AdvanceTo(text.data() + 100);
    unsigned line = 0, start = 0;
    Reference(text, 100, line, start);
    EXPECT_EQ(counter.LineIndex(), line);
    EXPECT_EQ(counter.StartOfLine(), start);
}

}  // namespace
