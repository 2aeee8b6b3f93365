// Every fuzz target over its committed seed corpus and over every input that ever made
// it fail (fuzz/regressions), built with the normal compiler: no clang in the test run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

int FuzzOne_FrameReader(const uint8_t* data, size_t size);
int FuzzOne_MsgLine(const uint8_t* data, size_t size);
int FuzzOne_Hive(const uint8_t* data, size_t size);
int FuzzOne_InputRules(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// Runs every file of the target's corpus and regressions; the number of inputs run.
size_t Replay(const char* target, int (*run)(const uint8_t*, size_t))
{
    std::vector<fs::path> inputs;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = fs::path(TESSARIN_FUZZ_DIR) / kind / target;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file())
                inputs.push_back(it->path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.string());
        std::ifstream in(input, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        run(bytes.data(), bytes.size());
    }
    return inputs.size();
}

}  // namespace

// Every target runs clean over its inputs, and each has inputs to run.
TEST(FuzzReplay, EveryTargetOverItsCorpusAndRegressions)
{
    const std::pair<const char*, int (*)(const uint8_t*, size_t)> targets[] = {
        {"FrameReader", FuzzOne_FrameReader}, {"MsgLine", FuzzOne_MsgLine},
        {"Hive", FuzzOne_Hive}, {"InputRules", FuzzOne_InputRules}};
    for (const auto& [name, run] : targets)
        EXPECT_GT(Replay(name, run), 5u) << name;
}
