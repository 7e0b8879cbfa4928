// The thread-local slot holder and the use-counted initialisation of the unit
// that owns it.
#include "Regularexpressiontlsstack.h"

RegularExpressionTLSStack::RegularExpressionTLSStack(RegexPlatform::SlotRelease release)
    : Index(RegexPlatform::AllocateSlot(release))
{
}

RegularExpressionTLSStack::~RegularExpressionTLSStack()
{
    if (Index != RegexPlatform::NoSlot)
        RegexPlatform::FreeSlot(Index);
}

void* RegularExpressionTLSStack::GetValue() const
{
    return Index == RegexPlatform::NoSlot ? nullptr : RegexPlatform::GetSlotValue(Index);
}

void RegularExpressionTLSStack::SetValue(void* value)
{
    if (Index != RegexPlatform::NoSlot)
        RegexPlatform::SetSlotValue(Index, value);
}

namespace {

// Handed out before the first and after the last initialisation.
RegularExpressionTLSStack NoSlotStack{RegularExpressionTLSStack::NoSlotTag{}};

// This unit's own initialisation count.
unsigned UnitCount = 0;

struct UnitInitialisation {
    UnitInitialisation() { ++UnitCount; }
    ~UnitInitialisation() { --UnitCount; }
} Initialisation;

}  // namespace

void RegularExpressionTLSStackUnit::Initialise(RegexPlatform::SlotRelease release)
{
    if (Count++ == 0)
        Holder = new RegularExpressionTLSStack(release);
}

void RegularExpressionTLSStackUnit::Finalise()
{
    if (Count == 0)
        return;
    if (--Count == 0) {
        delete Holder;
        Holder = nullptr;
    }
}

RegularExpressionTLSStack& RegularExpressionTLSStackUnit::Stack()
{
    return Holder != nullptr ? *Holder : NoSlotStack;
}

unsigned RegularExpressionTLSStackUnitCount() { return UnitCount; }
