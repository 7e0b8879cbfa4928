// The unit entries of the package's unit table that have work to do, as the
// package unit (Quorvpak.cpp) lists them. Internal: not installed.
#ifndef QUORVPAK_QUORVPAKUNITS_H
#define QUORVPAK_QUORVPAKUNITS_H

namespace Quorvpak {
namespace Units {

// Regularexpressioncustom: creates the package's per-thread object slot on
// the unit's first initialisation and releases it on its last finalisation.
void InitializeRegularexpressioncustom();
void FinalizeRegularexpressioncustom();

}  // namespace Units
}  // namespace Quorvpak

#endif
