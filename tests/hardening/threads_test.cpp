// Objects on several threads: objects handed from thread to thread and
// destroyed on a thread other than the one they walked on, two threads
// changing files at once, and nested walks on two threads at once. Run in the
// ordinary suite and under ThreadSanitizer.
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Filetesting.h"
#include "Hardening.h"

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;
using FileTesting::Tree;

namespace {

// Records which object each file event reached, and may start another
// object's walk from inside the handler.
struct Witness {
    std::vector<RegularExpression*> senders;
    RegularExpression* inner = nullptr;
    unsigned innerFound = 0;

    void OnMatch(RegularExpression* sender, std::string, const REMatchInfo&, unsigned, bool&)
    {
        senders.push_back(sender);
        if (inner != nullptr)
            innerFound += inner->FindFiles();
    }
    void AttachTo(RegularExpression& re)
    {
        re.SetOnGreppingFilesClosure(RegexClass::Bind(this, &Witness::OnMatch));
        re.SetOnChangingFilesClosure(RegexClass::Bind(this, &Witness::OnMatch));
    }
    bool OnlyFrom(const RegularExpression* object) const
    {
        for (const RegularExpression* sender : senders)
            if (sender != object)
                return false;
        return true;
    }
};

// Lets two threads start their work at the same moment.
class Gate {
public:
    explicit Gate(int parties) : waiting_(parties) {}
    void Pass()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0)
            open_.notify_all();
        else
            open_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable open_;
    int waiting_;
};

std::string Lines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + " foo\n";
    return text;
}

TEST(HardeningThreads, ObjectsWalkOnOneThreadAndAreDestroyedOnAnother)
{
    Tree tree;
    for (int i = 0; i < 6; ++i)
        tree.Write("f" + std::to_string(i) + ".txt", Lines(300));
    const std::string files = tree.Path("*.txt");

    // Made here, walked on a worker, destroyed here while another worker walks.
    auto handed = std::make_unique<RegularExpression>();
    Witness handedWitness;
    handedWitness.AttachTo(*handed);
    handed->SetExpression("foo");
    handed->SetFilesToMatch(files);
    unsigned handedCount = 0;
    std::thread([&] { handedCount = handed->GrepFiles(); }).join();

    // Made on a worker, destroyed on this thread while the worker goes on
    // walking with another object.
    std::unique_ptr<RegularExpression> made;
    std::mutex mutex;
    std::condition_variable changed;
    bool madeReady = false, destroyed = false;
    unsigned madeCount = 0, laterCount = 0;
    Witness laterWitness;
    RegularExpression later;
    laterWitness.AttachTo(later);
    std::thread worker([&] {
        auto object = std::make_unique<RegularExpression>();
        object->SetExpression("line");
        object->SetFilesToMatch(files);
        madeCount = object->GrepFiles();
        {
            std::lock_guard<std::mutex> lock(mutex);
            made = std::move(object);
            madeReady = true;
        }
        changed.notify_all();
        later.SetExpression("foo");
        later.SetFilesToMatch(files);
        for (int round = 0; round < 3; ++round)
            laterCount += later.GrepFiles();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return destroyed; });
        laterCount += later.GrepFiles();  // the stack of this thread still serves
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return madeReady; });
    }
    handed.reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        made.reset();
        destroyed = true;
    }
    changed.notify_all();
    worker.join();

    EXPECT_EQ(handedCount, 1800u);
    EXPECT_EQ(handedWitness.senders.size(), 1800u);
    EXPECT_EQ(madeCount, 1800u);
    EXPECT_EQ(laterCount, 4 * 1800u);
    EXPECT_TRUE(laterWitness.OnlyFrom(&later));
    EXPECT_EQ(laterWitness.senders.size(), 4 * 1800u);

    // And this thread, whose stack was released by the destructions, still walks.
    RegularExpression here;
    here.SetExpression("foo");
    here.SetFilesToMatch(files);
    EXPECT_EQ(here.FindFiles(), 6u);
}

TEST(HardeningThreads, TwoThreadsChangeFilesAtOnce)
{
    Tree tree;
    tree.Directory("one");
    tree.Directory("two");
    const std::string content = Lines(500);
    for (int i = 0; i < 8; ++i) {
        tree.Write("one/" + std::to_string(i) + ".txt", content);
        tree.Write("two/" + std::to_string(i) + ".txt", content);
    }
    Gate gate(2);
    unsigned counts[2][4] = {};
    bool routed[2] = {false, false};
    auto run = [&](int side) {
        RegularExpression re;
        Witness witness;
        witness.AttachTo(re);
        re.SetFilesToMatch(tree.Path(side == 0 ? "one/*.txt" : "two/*.txt"));
        re.SetSaveExtension("bak");
        gate.Pass();
        // foo -> bar -> foo -> bar: each round undoes the one before.
        for (int round = 0; round < 4; ++round) {
            re.SetExpression(round % 2 == 0 ? "foo" : "bar");
            re.SetFormatString(round % 2 == 0 ? "bar" : "foo");
            counts[side][round] = re.ChangeFiles();
        }
        routed[side] = witness.OnlyFrom(&re) && witness.senders.size() == 4 * 8 * 500;
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    a.join();
    b.join();
    // After four rounds the files are as they were; the backups hold the
    // content before the last round.
    std::string barred = content;
    for (std::size_t at = 0; (at = barred.find("foo", at)) != std::string::npos;)
        barred.replace(at, 3, "bar");
    for (int side = 0; side < 2; ++side) {
        for (int round = 0; round < 4; ++round)
            EXPECT_EQ(counts[side][round], 8u * 500u) << "side " << side << " round " << round;
        EXPECT_TRUE(routed[side]) << "side " << side;
        const std::string dir = side == 0 ? "one" : "two";
        for (int i = 0; i < 8; ++i) {
            const std::string name = dir + "/" + std::to_string(i);
            EXPECT_EQ(tree.Read(name + ".txt"), content) << name;
            EXPECT_EQ(tree.Read(name + ".bak"), barred) << name;
        }
        EXPECT_EQ(tree.List(dir).size(), 16u) << "the files and their backups only";
    }
}

TEST(HardeningThreads, NestedWalksOnTwoThreadsAtOnce)
{
    Tree tree;
    tree.Write("a.txt", Lines(200));
    tree.Write("b.txt", "bar");
    Gate gate(2);
    bool ok[2] = {false, false};
    auto run = [&](int side) {
        RegularExpression outer;
        RegularExpression inner;
        Witness outerWitness;
        outerWitness.AttachTo(outer);
        outerWitness.inner = &inner;
        Witness innerWitness;
        innerWitness.AttachTo(inner);
        outer.SetExpression("foo");
        outer.SetFilesToMatch(tree.Path("a.txt"));
        inner.SetExpression("bar");
        inner.SetFilesToMatch(tree.Path("*.txt"));
        gate.Pass();
        const unsigned count = outer.GrepFiles();
        ok[side] = count == 200 && outerWitness.OnlyFrom(&outer) && outerWitness.senders.size() == 200 &&
                   outerWitness.innerFound == 200;
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    a.join();
    b.join();
    EXPECT_TRUE(ok[0]);
    EXPECT_TRUE(ok[1]);
}

}  // namespace
