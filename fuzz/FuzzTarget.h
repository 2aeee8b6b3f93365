#pragma once
// One source per fuzz target serves libFuzzer's build (a failed check aborts, so the
// fuzzer keeps the input) and the suite's, where each target is a test that replays its
// seed corpus and every input that ever made it fail (a failed check names the input).

#include <cstdint>

#if defined(TESSARIN_FUZZ_REPLAY)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

inline void ReplayFuzzInputs(const std::string& target, int (*run)(const uint8_t*, size_t))
{
    int inputs = 0;
    for (const char* kind : {"/corpus/", "/regressions/"}) {
        std::error_code none;   // most targets have no regressions
        for (const auto& file :
             std::filesystem::directory_iterator(TESSARIN_FUZZ_DIR + (kind + target), none)) {
            SCOPED_TRACE(file.path().string());
            std::ifstream in(file.path(), std::ios::binary);
            const std::string bytes(std::istreambuf_iterator<char>(in), {});
            run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 5);
}
#define TESSARIN_FUZZ_TARGET(name)                        \
    int FuzzOne_##name(const uint8_t* data, size_t size); \
    TEST(FuzzReplay, name)                                \
    {                                                     \
        ReplayFuzzInputs(#name, FuzzOne_##name);          \
    }                                                     \
    int FuzzOne_##name(const uint8_t* data, size_t size)
#define FUZZ_FAILED(what) ADD_FAILURE() << "fuzz check failed: " what
#else
#include <cstdio>
#include <cstdlib>
#define TESSARIN_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#define FUZZ_FAILED(what) (std::fputs("fuzz check failed: " what "\n", stderr), std::abort())
#endif
// Returns 0 from the caller, a target or a byte source, once the failure is told.
#define FUZZ_CHECK(cond)        \
    do {                        \
        if (!(cond)) {          \
            FUZZ_FAILED(#cond); \
            return 0;           \
        }                       \
    } while (0)

// Takes bytes off the front of an input; past its end every read gives 0.
struct CFuzzInput {
    const uint8_t* rest;
    size_t left;
    uint8_t Byte() { return left > 0 ? (--left, *rest++) : 0; }
};
