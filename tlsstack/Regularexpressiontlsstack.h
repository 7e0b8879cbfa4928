// RegularExpressionTLSStack: the holder of one thread-local slot, through
// which each thread finds its own stack of objects whose file walk is in
// progress (the engine's walkers call back through plain functions, which
// carry no object).
//
// Each library has exactly one such holder, kept by a
// RegularExpressionTLSStackUnit of the unit that owns it: the unit's first
// initialisation constructs the holder (allocating the slot), its last
// finalisation destroys it (freeing the slot). Outside that span the unit
// hands out a holder without a slot, on which every file operation returns 0.
#ifndef QUORVEX_TLSSTACK_REGULAREXPRESSIONTLSSTACK_H
#define QUORVEX_TLSSTACK_REGULAREXPRESSIONTLSSTACK_H

#include <cstdint>

#include "Platform.h"

class RegularExpressionTLSStack {
public:
    struct NoSlotTag {};

    // Allocates a slot; Index is all ones when none could be had. `release`
    // is called at thread exit with a thread's remaining value.
    explicit RegularExpressionTLSStack(RegexPlatform::SlotRelease release = nullptr);
    // A holder without a slot.
    constexpr explicit RegularExpressionTLSStack(NoSlotTag) noexcept : Index(RegexPlatform::NoSlot) {}
    // Frees the slot, if there is one.
    ~RegularExpressionTLSStack();
    RegularExpressionTLSStack(const RegularExpressionTLSStack&) = delete;
    RegularExpressionTLSStack& operator=(const RegularExpressionTLSStack&) = delete;

    // The calling thread's value; null when there is no slot.
    void* GetValue() const;
    // Stores the calling thread's value; does nothing when there is no slot.
    void SetValue(void* value);

    std::uint32_t Index;
};

// The use-counted initialisation of the unit that owns a library's holder.
// Constant-initialised (all zero), so it is valid before any constructor of
// the library runs; the owning unit calls Initialise from its initialisation
// and Finalise from its finalisation.
struct RegularExpressionTLSStackUnit {
    // Counts one initialisation; the first constructs the holder.
    void Initialise(RegexPlatform::SlotRelease release = nullptr);
    // Counts one finalisation; the last destroys the holder.
    void Finalise();
    // The holder while the unit is initialised, else one without a slot.
    RegularExpressionTLSStack& Stack();

    unsigned Count;
    RegularExpressionTLSStack* Holder;
};

// How often the tlsstack unit itself has been initialised and not yet
// finalised (its initialisation does nothing but count).
unsigned RegularExpressionTLSStackUnitCount();

#endif
