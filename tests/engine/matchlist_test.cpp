// Match lists built from engine results, with position base 0 and 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Matchlist.h"

namespace {

struct Record {
    std::string Text;
    int Position = 99;
};
using List = std::vector<Record>;

const auto kText = [](const char* first, const char* last) { return std::string(first, last); };

struct Expected {
    std::string text;
    int position;
};

void ExpectList(const List& list, const std::vector<Expected>& expected, const std::string& what)
{
    ASSERT_EQ(list.size(), expected.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list[i].Text, expected[i].text) << what << " entry " << i;
        EXPECT_EQ(list[i].Position, expected[i].position) << what << " entry " << i;
    }
}

struct Row {
    const char* expression;
    const char* subject;
    std::vector<Expected> base0;
    std::vector<Expected> base1;
};

TEST(MatchList, LayoutWithBothBases)
{
    const Row rows[] = {
        // A sub-expression that took no part, an empty prefix and suffix.
        {"(a)(b)?", "a", {{"a", 0}, {"a", 0}, {"", -1}, {"", -1}, {"", -1}},
         {{"a", 1}, {"a", 1}, {"", 0}, {"", 0}, {"", 0}}},
        {"b", "abc", {{"b", 1}, {"a", 0}, {"c", 2}}, {{"b", 2}, {"a", 1}, {"c", 3}}},
        {"b(c)?", "abd", {{"b", 1}, {"", -1}, {"a", 0}, {"d", 2}}, {{"b", 2}, {"", 0}, {"a", 1}, {"d", 3}}},
        // A sub-expression that took part but matched nothing keeps its position.
        {"a(x*)b", "zab", {{"ab", 1}, {"", 2}, {"z", 0}, {"", -1}}, {{"ab", 2}, {"", 3}, {"z", 1}, {"", 0}}},
    };
    for (const Row& row : rows) {
        const boost::regex e(row.expression);
        boost::cmatch m;
        ASSERT_TRUE(boost::regex_search(row.subject, m, e)) << row.expression;
        List list;
        RegexEngine::BuildMatchList<0>(list, m, kText);
        ExpectList(list, row.base0, std::string(row.expression) + " base 0");
        RegexEngine::BuildMatchList<1>(list, m, kText);
        ExpectList(list, row.base1, std::string(row.expression) + " base 1");
    }
}

TEST(MatchList, ReusedStorageIsRefilledCompletely)
{
    const boost::regex wide("(a)(b)(c)");
    const boost::regex narrow("x");
    boost::cmatch m;
    List list;
    ASSERT_TRUE(boost::regex_search("abc", m, wide));
    RegexEngine::BuildMatchList<0>(list, m, kText);
    ASSERT_EQ(list.size(), 6u);
    ASSERT_TRUE(boost::regex_search("x", m, narrow));
    RegexEngine::BuildMatchList<0>(list, m, kText);
    ExpectList(list, {{"x", 0}, {"", -1}, {"", -1}}, "narrow after wide");
}

TEST(MatchList, WithoutSuffixTextTheSuffixKeepsItsPosition)
{
    const boost::regex e("b");
    boost::cmatch m;
    ASSERT_TRUE(boost::regex_search("abcd", m, e));
    List list;
    RegexEngine::BuildMatchList<0>(list, m, kText, false);
    ExpectList(list, {{"b", 1}, {"a", 0}, {"", 2}}, "base 0");
    RegexEngine::BuildMatchList<1>(list, m, kText, false);
    ExpectList(list, {{"b", 2}, {"a", 1}, {"", 3}}, "base 1");
    // An empty suffix took no part either way.
    ASSERT_TRUE(boost::regex_search("ab", m, e));
    RegexEngine::BuildMatchList<0>(list, m, kText, false);
    ExpectList(list, {{"b", 1}, {"a", 0}, {"", -1}}, "empty suffix");
}

TEST(MatchList, NoMatchGivesAnEmptyList)
{
    boost::cmatch m;
    List list(3);
    RegexEngine::BuildMatchList<0>(list, m, kText);
    EXPECT_TRUE(list.empty());
}

}  // namespace
