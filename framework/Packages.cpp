// Package unit tables, resources and the loading of package files.
#include "Packages.h"

#include "Frameworkerrors.h"

#include "Platform.h"

#include <map>
#include <mutex>

namespace Vcl {

namespace {

// Use counts per unit entry. The lock is not held while a unit's own code
// runs, so a unit may load another package from its initialisation.
struct UseCounts {
    std::mutex lock;
    std::map<const PackageUnit*, int> counts;
};

UseCounts& TheUseCounts()
{
    static UseCounts counts;
    return counts;
}

// Counts one use; true when it is the first.
bool Acquire(const PackageUnit& unit)
{
    UseCounts& uses = TheUseCounts();
    std::lock_guard<std::mutex> guard(uses.lock);
    return uses.counts[&unit]++ == 0;
}

// Gives back one use; true when it was the last. Without uses, nothing happens.
bool Release(const PackageUnit& unit)
{
    UseCounts& uses = TheUseCounts();
    std::lock_guard<std::mutex> guard(uses.lock);
    auto it = uses.counts.find(&unit);
    if (it == uses.counts.end())
        return false;
    if (--it->second > 0)
        return false;
    uses.counts.erase(it);
    return true;
}

void FinalizeUnit(const PackageUnit& unit)
{
    if (Release(unit) && unit.Finalize != nullptr)
        unit.Finalize();
}

}  // namespace

void InitializePackage(const PackageDescriptor& package)
{
    for (std::size_t i = 0; i < package.UnitCount; ++i) {
        const PackageUnit& unit = package.Units[i];
        if (!Acquire(unit) || unit.Initialize == nullptr)
            continue;
        try {
            unit.Initialize();
        } catch (...) {
            // The failed unit is not initialised; the ones before it are
            // finalised again so the package is left as it was.
            Release(unit);
            for (std::size_t j = i; j-- > 0;) {
                try {
                    FinalizeUnit(package.Units[j]);
                } catch (...) {
                }
            }
            throw;
        }
    }
}

void FinalizePackage(const PackageDescriptor& package)
{
    for (std::size_t i = package.UnitCount; i-- > 0;)
        FinalizeUnit(package.Units[i]);
}

int UnitUseCount(const PackageUnit& unit)
{
    UseCounts& uses = TheUseCounts();
    std::lock_guard<std::mutex> guard(uses.lock);
    auto it = uses.counts.find(&unit);
    return it == uses.counts.end() ? 0 : it->second;
}

const PackageResource* FindPackageResource(const PackageDescriptor& package, const std::string& name)
{
    for (std::size_t i = 0; i < package.ResourceCount; ++i)
        if (package.Resources[i].Name != nullptr && SameText(package.Resources[i].Name, name))
            return &package.Resources[i];
    return nullptr;
}

std::vector<unsigned char> LoadPackageResource(const PackageDescriptor& package, const std::string& name)
{
    const PackageResource* resource = FindPackageResource(package, name);
    if (resource == nullptr)
        throw EPackageError("Resource " + name + " not found in package " +
                            (package.Name != nullptr ? package.Name : ""));
    return std::vector<unsigned char>(resource->Bytes, resource->Bytes + resource->Size);
}

TPackageModule::TPackageModule(const std::string& fileName)
{
    std::string reason;
    handle_ = RegexPlatform::LoadModule(fileName.c_str(), reason);
    if (handle_ == nullptr)
        throw EPackageError("Cannot load package " + fileName + ": " + reason);
    auto entry = reinterpret_cast<PackageDescriptorFunction>(RegexPlatform::ModuleSymbol(handle_, PackageDescriptorSymbol));
    descriptor_ = entry != nullptr ? entry() : nullptr;
    if (descriptor_ == nullptr) {
        RegexPlatform::UnloadModule(handle_);
        throw EPackageError(fileName + " is not a package");
    }
    try {
        InitializePackage(*descriptor_);
    } catch (...) {
        RegexPlatform::UnloadModule(handle_);
        throw;
    }
}

TPackageModule::~TPackageModule()
{
    try {
        FinalizePackage(*descriptor_);
    } catch (...) {
        // A destructor cannot report; the file is unloaded all the same.
    }
    RegexPlatform::UnloadModule(handle_);
}

}  // namespace Vcl
