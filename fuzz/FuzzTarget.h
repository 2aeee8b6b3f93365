#pragma once
// One source per fuzz target serves two builds: libFuzzer's (clang, sanitizers, a
// failed check aborts so the fuzzer keeps the input) and the corpus replay test (g++,
// a failed check is a test failure naming the input).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(TESSARIN_FUZZ_REPLAY)

#include <gtest/gtest.h>

#define TESSARIN_FUZZ_TARGET(name) int FuzzOne_##name(const uint8_t* data, size_t size)

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) { \
            ADD_FAILURE() << "fuzz check failed: " #cond; \
            return 0; \
        } \
    } while (0)

#else

#define TESSARIN_FUZZ_TARGET(name) \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) { \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            std::abort(); \
        } \
    } while (0)

#endif

// Takes bytes off the front of a fuzz input; past its end every read gives 0.
class CFuzzInput {
public:
    CFuzzInput(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}
    uint8_t Byte() { return m_nPos < m_nSize ? m_pData[m_nPos++] : 0; }
    uint32_t Word()
    {
        uint32_t w = 0;
        for (int i = 0; i < 4; ++i)
            w |= uint32_t(Byte()) << (8 * i);
        return w;
    }
    const uint8_t* Rest() const { return m_pData + m_nPos; }
    size_t RestSize() const { return m_nSize - m_nPos; }
    void Skip(size_t n) { m_nPos = n < RestSize() ? m_nPos + n : m_nSize; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
};
