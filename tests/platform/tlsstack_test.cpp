// The thread-local slot holder and its use-counted unit initialisation.
#include "Regularexpressiontlsstack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "../files/Faults.h"

namespace {

TEST(TLSStack, HolderKeepsOneValuePerThread)
{
    RegularExpressionTLSStack holder;
    ASSERT_NE(holder.Index, RegexPlatform::NoSlot);
    int mine = 0;
    int theirs = 0;
    holder.SetValue(&mine);
    void* seen = &mine;
    std::thread([&] {
        seen = holder.GetValue();
        holder.SetValue(&theirs);
    }).join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(holder.GetValue(), &mine);
    holder.SetValue(nullptr);
}

TEST(TLSStack, HolderWithoutSlotReadsNullAndIgnoresValues)
{
    RegularExpressionTLSStack none{RegularExpressionTLSStack::NoSlotTag{}};
    int value = 0;
    none.SetValue(&value);
    EXPECT_EQ(none.GetValue(), nullptr);
    EXPECT_EQ(none.Index, 0xFFFFFFFFu);
}

TEST(TLSStack, FailedSlotAllocationGivesAllOnesIndex)
{
    FileTesting::FaultPlan plan;
    plan.KeyCreateError = EAGAIN;
    FileTesting::ScopedFaults faults(plan);
    RegularExpressionTLSStack holder;
    EXPECT_EQ(holder.Index, RegexPlatform::NoSlot);
    int value = 0;
    holder.SetValue(&value);
    EXPECT_EQ(holder.GetValue(), nullptr);
}

TEST(TLSStackUnit, FirstInitialisationBuildsLastFinalisationDestroys)
{
    RegularExpressionTLSStackUnit unit{};
    EXPECT_EQ(unit.Stack().Index, RegexPlatform::NoSlot) << "before initialisation";
    unit.Initialise();
    RegularExpressionTLSStack* first = &unit.Stack();
    EXPECT_NE(first->Index, RegexPlatform::NoSlot);
    int value = 0;
    first->SetValue(&value);

    unit.Initialise();
    EXPECT_EQ(&unit.Stack(), first) << "a second initialisation only counts";
    EXPECT_EQ(unit.Stack().GetValue(), &value);
    unit.Finalise();
    EXPECT_EQ(&unit.Stack(), first) << "not the last finalisation";
    EXPECT_EQ(unit.Stack().GetValue(), &value);
    first->SetValue(nullptr);
    unit.Finalise();
    EXPECT_EQ(unit.Count, 0u);
    EXPECT_EQ(unit.Holder, nullptr);
    EXPECT_EQ(unit.Stack().Index, RegexPlatform::NoSlot);
    unit.Finalise();  // more finalisations than initialisations change nothing
    EXPECT_EQ(unit.Count, 0u);
}

TEST(TLSStackUnit, ReleaseFunctionReachesTheSlot)
{
    static int released = 0;
    released = 0;
    RegularExpressionTLSStackUnit unit{};
    unit.Initialise([](void* value) { released += *static_cast<int*>(value); });
    static int three = 3;
    std::thread([&] { unit.Stack().SetValue(&three); }).join();
    EXPECT_EQ(released, 3);
    unit.Finalise();
}

TEST(TLSStackUnit, TheTLSStackUnitItselfIsInitialisedOnce)
{
    EXPECT_EQ(RegularExpressionTLSStackUnitCount(), 1u);
}

}  // namespace
