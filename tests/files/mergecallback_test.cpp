// The shared file-operation templates driven by a scripted engine: reports
// of offsets that do not fit the 32-bit record fields, the refusal of files
// whose matches lie beyond 4 GiB, and the replacement of each match.
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "Fileoperations.h"
#include "Filetesting.h"
#include "Regularexpressiontraits.h"

using RegexClass::RegularExpression;
using FileTesting::Tree;

// The templates instantiated in this program get their own slot holder.
RegularExpressionTLSStack& RegexEngine::ObjectTraits<RegularExpression>::ThreadStack()
{
    static RegularExpressionTLSStack holder;
    return holder;
}

namespace {

// Answers for one match as the engine's walker does inside a callback.
struct ScriptedEngine {
    std::vector<std::pair<std::string, std::uint64_t>> subs;  // text, offset
    std::uint64_t line = 1;

    unsigned Marks() const { return static_cast<unsigned>(subs.size()); }
    std::string What(unsigned i) const { return subs[i].first; }
    std::uint64_t Position(unsigned i) const { return subs[i].second; }
    std::uint64_t Line() const { return line; }
    std::string bytes;  // the file as read; empty: not at hand
    const char* FileData() const { return bytes.empty() ? nullptr : bytes.data(); }
    std::uint64_t FileSize() const { return bytes.size(); }
    RegexPlatform::FileState FileState() const { return RegexPlatform::FileState(); }
};

constexpr std::uint64_t FourGiB = std::uint64_t(1) << 32;

void PushSave(RegularExpression& object, const std::string& expression)
{
    RegularExpression::MergeSave save;
    save.CompiledExpression.assign(expression);
    save.Flags = 0;
    object.MergeSaves.push(save);
}

TEST(FileReports, OffsetsThatDoNotFitReadAsMinusOne)
{
    ScriptedEngine engine;
    engine.subs = {{"whole", 3000000000u}, {"", RegexEngine::RegEx::npos}, {"far", FourGiB + 1}, {"x", 7},
                   {"edge", 2147483647u}, {"past", 2147483648u}};
    const auto list = RegexEngine::FileMatchReport<RegularExpression>(engine);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[0].Position, -1) << "past 2^31 - 1, as past 4 GiB";
    EXPECT_EQ(list[0].Text, "whole");
    EXPECT_EQ(list[1].Position, -1);
    EXPECT_EQ(list[2].Position, -1);
    EXPECT_EQ(list[3].Position, 7);
    EXPECT_EQ(list[4].Position, 2147483647);
    EXPECT_EQ(list[5].Position, -1);
    EXPECT_EQ(list[5].Text, "past") << "the text is still given";
    EXPECT_EQ(RegexEngine::RecordLine(FourGiB + 3), UINT_MAX);
    EXPECT_EQ(RegexEngine::RecordLine(12), 12u);
}

TEST(MergeCallback, FileWithMatchesBeyondFourGibibytesIsRefusedOnceAndLeftAlone)
{
    Tree tree;
    const std::string file = tree.Write("huge.txt", "foo and more");
    RegularExpression object;
    object.SetFormatString("bar");
    PushSave(object, "foo");
    ScriptedEngine engine;

    engine.subs = {{"foo", 0}};
    EXPECT_TRUE(RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    ASSERT_EQ(object.PendingFile.Greps.size(), 1u);
    EXPECT_EQ(object.PendingFile.Greps[0].Replacement, "bar");

    engine.subs = {{"foo", FourGiB + 5}};
    EXPECT_TRUE(RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    engine.subs = {{"foo", FourGiB + 50}};
    EXPECT_TRUE(RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    EXPECT_TRUE(object.PendingFile.Greps.empty()) << "what was collected of the file is dropped";
    EXPECT_EQ(object.PendingFile.FileName, file);

    const auto* problems = object.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u) << "refused once";
    EXPECT_EQ((*problems)[0].Reason, RegularExpression::ReadFailed);
    EXPECT_EQ((*problems)[0].SystemError, RegexPlatform::ValueTooLargeError());
    EXPECT_EQ((*problems)[0].FileName, file);

    object.NumberOfChanges = 0;
    object.MergeUpdateFile();
    EXPECT_EQ(object.NumberOfChanges, 0u);
    EXPECT_TRUE(object.PendingFile.FileName.empty());
    EXPECT_EQ(tree.Read("huge.txt"), "foo and more");
    EXPECT_EQ(object.GetChangeFilesErrors()->size(), 1u);
}

TEST(MergeCallback, FirstMatchBeyondFourGibibytesIsRefused)
{
    Tree tree;
    const std::string file = tree.Write("huge.txt", "foo");
    RegularExpression object;
    object.SetFormatString("bar");
    PushSave(object, "foo");
    ScriptedEngine engine;
    engine.subs = {{"foo", FourGiB}};
    EXPECT_TRUE(RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    ASSERT_NE(object.GetChangeFilesErrors(), nullptr);
    EXPECT_EQ(object.GetChangeFilesErrors()->size(), 1u);
    EXPECT_TRUE(object.PendingFile.Greps.empty());
}

TEST(MergeCallback, ReplacementUsesTheInnermostSaveAndTheWholeFormatSyntax)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", "foo");
    RegularExpression object;
    object.SetFormatString("<$1>(?1!:?)");
    PushSave(object, "x");
    PushSave(object, "(o+)");
    ScriptedEngine engine;
    engine.subs = {{"foo", 0}};
    EXPECT_TRUE(RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    ASSERT_EQ(object.PendingFile.Greps.size(), 1u);
    EXPECT_EQ(object.PendingFile.Greps[0].Match, "foo");
    EXPECT_EQ(object.PendingFile.Greps[0].Replacement, "f<oo>!") << "merged over the match text alone";
    EXPECT_EQ(object.PendingFile.Greps[0].Position, 0u);
}

TEST(MergeCallback, EngineGivingUpOnAReplacementEndsTheWalk)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", std::string(40, 'x'));
    RegularExpression object;
    object.SetFormatString("y");
    PushSave(object, "(x+x+)+y|x+");
    ScriptedEngine engine;
    engine.subs = {{std::string(40, 'x'), 0}};
    bool go = true;
    EXPECT_NO_THROW(go = RegexEngine::ThisMergeFilesCallback(object, file.c_str(), engine));
    EXPECT_FALSE(go);
    EXPECT_FALSE(object.GetMatchError().empty());
    EXPECT_TRUE(object.PendingFile.Greps.empty());
    ASSERT_NE(object.GetChangeFilesErrors(), nullptr);
    EXPECT_EQ(object.GetChangeFilesErrors()->at(0).Reason, RegularExpression::MatchFailed);
    EXPECT_EQ(object.GetChangeFilesErrors()->at(0).FileName, file);
}

}  // namespace
