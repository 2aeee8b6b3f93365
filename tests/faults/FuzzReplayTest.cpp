// Every fuzz target over its committed seed corpus and over every input that ever made
// it fail (fuzz/regressions), built with the normal compiler: no clang in the test run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

TEST(FuzzReplay, FrameReader) { EXPECT_GT(Replay("FrameReader", FuzzOne_FrameReader), 5u); }
TEST(FuzzReplay, MsgLine) { EXPECT_GT(Replay("MsgLine", FuzzOne_MsgLine), 5u); }
TEST(FuzzReplay, Hive) { EXPECT_GT(Replay("Hive", FuzzOne_Hive), 5u); }
TEST(FuzzReplay, InputRules) { EXPECT_GT(Replay("InputRules", FuzzOne_InputRules), 5u); }
