// The fuzz targets' seed corpora, with the inputs that once made a target
// fail, replayed through the same entry points in every build (and so under
// the sanitizers of `make test-sanitize`). A failing input aborts or is
// reported by a sanitizer; the test only has to feed them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Filetesting.h"

extern "C" int FuzzStreamOne(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzMatchOne(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzFormfileOne(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzSearchOne(const std::uint8_t* data, std::size_t size);

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct Target {
    const char* name;
    Entry entry;
};

const Target Targets[] = {
    {"stream", FuzzStreamOne},
    {"match", FuzzMatchOne},
    {"formfile", FuzzFormfileOne},
    {"search", FuzzSearchOne},
};

int Feed(Entry entry, const std::string& input)
{
    return entry(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FuzzReplay, EverySeedAndKeptFindingRunsCleanly)
{
    for (const Target& target : Targets) {
        const std::string directory = std::string(QUORVEX_FUZZ_CORPUS) + "/" + target.name;
        const std::vector<std::string> inputs = FileTesting::Entries(directory);
        EXPECT_GE(inputs.size(), 3u) << target.name << ": a seed corpus";
        for (const std::string& input : inputs)
            EXPECT_EQ(Feed(target.entry, FileTesting::ReadAll(directory + "/" + input)), 0)
                << target.name << "/" << input;
    }
}

TEST(FuzzReplay, DegenerateInputs)
{
    const std::string inputs[] = {
        std::string(),
        std::string(1, '\0'),
        std::string(64, '\xFF'),
        std::string(4096, '\x1F'),
        "object",
        "1 6 0 1 2 8 12 15",
    };
    for (const Target& target : Targets)
        for (const std::string& input : inputs)
            EXPECT_EQ(Feed(target.entry, input), 0) << target.name << ", " << input.size() << " bytes";
}

}  // namespace
