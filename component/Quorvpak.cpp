// The package unit Quorvpak: the unit table, the resources and the package's
// entry points. All of it is constant data, ready before any code of the
// library runs.
#include "Quorvpak.h"

#include <array>
#include <cstddef>

#include "Quorvpakunits.h"
#include "Regularexpression.h"
#include "Regularexpressioninterface.h"

namespace Quorvpak {

namespace {

// ---- Unit table ---------------------------------------------------------------

struct UnitEntry {
    const char* Name;
    std::uint8_t Flags;
};

// The contained units, in initialisation order, with their PACKAGEINFO flags.
constexpr UnitEntry ContainedUnits[] = {
    {"Quorvpak", PackageUnit},
    {"Regularexpressiontlsstack", 0},
    {"Regularexpressioncustom", 0},
    {"Regularexpression", 0},
    {"Regularexpressioninterface", 0},
};

const Vcl::PackageUnit UnitTable[] = {
    {ContainedUnits[0].Name, nullptr, nullptr, nullptr},
    {ContainedUnits[1].Name, nullptr, nullptr, nullptr},
    {ContainedUnits[2].Name, &Units::InitializeRegularexpressioncustom, &Units::FinalizeRegularexpressioncustom,
     nullptr},
    {ContainedUnits[3].Name, nullptr, nullptr, &RegexComponent::Regularexpression::Register},
    {ContainedUnits[4].Name, nullptr, nullptr, &RegexComponent::Regularexpressioninterface::Register},
};
static_assert(sizeof UnitTable / sizeof UnitTable[0] == sizeof ContainedUnits / sizeof ContainedUnits[0],
              "every unit has its PACKAGEINFO entry");

// ---- Resource contents, built at compile time -----------------------------------

constexpr std::size_t TextLength(const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

constexpr std::uint32_t PackageFlags = PackageModule | DesignTimePackage | RunTimePackage;

constexpr std::size_t PackageInfoSize()
{
    std::size_t size = 4 + 4 + TextLength(RequiredPackage) + 1 + 4;
    for (const UnitEntry& unit : ContainedUnits)
        size += 1 + TextLength(unit.Name) + 1;
    return size;
}

template <std::size_t N>
struct ByteWriter {
    std::array<unsigned char, N> bytes{};
    std::size_t at = 0;

    constexpr void Byte(unsigned value) { bytes[at++] = static_cast<unsigned char>(value & 0xFFu); }
    constexpr void Word32(std::uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            Byte(value >> shift);
    }
    constexpr void Text(const char* text)
    {
        for (std::size_t i = 0; text[i] != '\0'; ++i)
            Byte(static_cast<unsigned char>(text[i]));
        Byte(0);
    }
};

constexpr auto MakePackageInfo()
{
    ByteWriter<PackageInfoSize()> out;
    out.Word32(PackageFlags);
    out.Word32(1);
    out.Text(RequiredPackage);
    out.Word32(static_cast<std::uint32_t>(sizeof ContainedUnits / sizeof ContainedUnits[0]));
    for (const UnitEntry& unit : ContainedUnits) {
        out.Byte(unit.Flags);
        out.Text(unit.Name);
    }
    return out.bytes;
}

constexpr char16_t DescriptionText[] = u"Regular Expression Components";

// UTF-16 little-endian, the terminating NUL included.
constexpr auto MakeDescription()
{
    ByteWriter<sizeof DescriptionText / sizeof DescriptionText[0] * 2> out;
    for (char16_t c : DescriptionText) {
        out.Byte(c);
        out.Byte(c >> 8);
    }
    return out.bytes;
}

constexpr auto MakePackageOptions()
{
    ByteWriter<4> out;
    out.Word32(0x30);
    return out.bytes;
}

constexpr auto PackageInfo = MakePackageInfo();
constexpr auto Description = MakeDescription();
constexpr auto PackageOptions = MakePackageOptions();

// The palette images, embedded from component/resources at build time.
#include "Quorvpakbitmaps.inc"

const Vcl::PackageResource Resources[] = {
    {"DESCRIPTION", Vcl::TResourceKind::Data, Description.data(), Description.size()},
    {"PACKAGEINFO", Vcl::TResourceKind::Data, PackageInfo.data(), PackageInfo.size()},
    {"PACKAGEOPTIONS", Vcl::TResourceKind::Data, PackageOptions.data(), PackageOptions.size()},
    {"REGULAREXPRESSION", Vcl::TResourceKind::Bitmap, RegularExpressionBitmap, sizeof RegularExpressionBitmap},
    {"REGULAREXPRESSIONINTERFACE", Vcl::TResourceKind::Bitmap, RegularExpressionInterfaceBitmap,
     sizeof RegularExpressionInterfaceBitmap},
};

const Vcl::PackageDescriptor Package = {
    "Quorvpak", UnitTable, sizeof UnitTable / sizeof UnitTable[0], Resources, sizeof Resources / sizeof Resources[0],
};

// Loading the library initialises the package; unloading finalises it.
struct LibraryInitialisation {
    LibraryInitialisation() { Initialize(); }
    ~LibraryInitialisation() { Finalize(); }
    LibraryInitialisation(const LibraryInitialisation&) = delete;
    LibraryInitialisation& operator=(const LibraryInitialisation&) = delete;
} Initialisation;

}  // namespace

const Vcl::PackageDescriptor& Descriptor() { return Package; }

void Initialize() { Vcl::InitializePackage(Package); }

void Finalize() { Vcl::FinalizePackage(Package); }

}  // namespace Quorvpak

// What the framework's loader looks for in a package file.
QUORVEX_PACKAGE_ENTRY const Vcl::PackageDescriptor* GetPackageDescriptor()
{
    return &Quorvpak::Descriptor();
}
