#pragma once
// A small seeded generator of our own, so that a seed gives the same network and the
// same flood on every platform and library (the standard distributions do not promise
// that).

#include <cmath>
#include <cstdint>

class CSimRandom {
public:
    explicit CSimRandom(uint64_t seed = 1) { Seed(seed); }

    void Seed(uint64_t seed)
    {
        m_nState = seed;
        m_bHaveSpare = false;
    }

    // splitmix64: good enough statistics, no state to speak of.
    uint64_t Next()
    {
        uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in lo..hi, both included.
    int Range(int lo, int hi)
    {
        if (hi <= lo)
            return lo;
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(Next() % span);
    }

    uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

    bool Chance(double p) { return Unit() < p; }

    // Normal with mean 0 and standard deviation 1 (Box-Muller, one value kept back).
    double Gauss()
    {
        if (m_bHaveSpare) {
            m_bHaveSpare = false;
            return m_dSpare;
        }
        double u = Unit();
        while (u <= 1e-300)
            u = Unit();
        const double v = Unit();
        const double r = std::sqrt(-2.0 * std::log(u));
        m_dSpare = r * std::sin(kTwoPi * v);
        m_bHaveSpare = true;
        return r * std::cos(kTwoPi * v);
    }

private:
    static constexpr double kTwoPi = 6.283185307179586;

    uint64_t m_nState = 0;
    bool m_bHaveSpare = false;
    double m_dSpare = 0.0;
};
