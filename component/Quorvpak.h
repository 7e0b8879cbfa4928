// The package unit Quorvpak: the package's unit table and resources, as the
// framework's package loader and designer read them.
//
// Loading the library initialises the package (its units in table order);
// unloading it finalises them in reverse order. The framework's loader and a
// designer that installs the package initialise it again; each unit entry is
// use-counted, so its work runs at the first initialisation and the matching
// last finalisation only.
//
//   Vcl::TDesigner designer;
//   designer.Install(Quorvpak::Descriptor());  // RegularExpression, then
//                                              // RegularExpressionInterface
//                                              // on the palette page "RegExp"
//
// The unit table, in order: Quorvpak (this unit), Regularexpressiontlsstack,
// Regularexpressioncustom (creates and releases the package's per-thread
// object slot), Regularexpression and Regularexpressioninterface (each with
// its Register function).
//
// Resources:
//   DESCRIPTION     UTF-16 little-endian "Regular Expression Components",
//                   followed by a terminating NUL character;
//   PACKAGEINFO     the package information block (layout below);
//   PACKAGEOPTIONS  one 32-bit little-endian word, 0x30;
//   REGULAREXPRESSION, REGULAREXPRESSIONINTERFACE
//                   the palette images, 24 x 24 BMP files of 8 bits per pixel
//                   with a palette, named after their classes in capitals.
//
// PACKAGEINFO layout, every number little-endian:
//   u32  package flags (PackageInfoFlags)
//   u32  number of required packages, then each name, NUL-terminated
//   u32  number of contained units, then for each: u8 unit flags
//        (UnitInfoFlags), then the unit name, NUL-terminated
#ifndef QUORVPAK_QUORVPAK_H
#define QUORVPAK_QUORVPAK_H

#include <cstdint>

#include "Packages.h"
#include "Quorvpakexport.h"

namespace Quorvpak {

// The file and product version of the package: 2.1.1.0.
inline constexpr unsigned Version[4] = {2, 1, 1, 0};

// The package this one requires: the framework's run-time package.
inline constexpr char RequiredPackage[] = "VCL40";

// The package flags of PACKAGEINFO.
enum PackageInfoFlags : std::uint32_t {
    PackageModule = 0x01,     // the module is a package
    DesignTimePackage = 0x02, // usable by the designer
    RunTimePackage = 0x04     // usable by applications
};

// The unit flags of PACKAGEINFO.
enum UnitInfoFlags : std::uint8_t {
    PackageUnit = 0x01,  // the package's own unit
    WeakUnit = 0x02      // held weakly: its code is not part of the package
};

// The package's descriptor: its name, unit table and resources.
QUORVPAK_API const Vcl::PackageDescriptor& Descriptor();

// Hand the unit table to the framework's package loader: initialise the
// units in order, or finalise them in reverse order (each use-counted).
QUORVPAK_API void Initialize();
QUORVPAK_API void Finalize();

}  // namespace Quorvpak

#endif
