// The noise tone's random numbers: a small seedable generator, so that renders can be reproduced.
#pragma once

#include <cstdint>

namespace plimo::sound {

class TNoiseRandom {
public:
    explicit TNoiseRandom(std::uint32_t seed = 1) { Seed(seed); }
    // Zero would stick the shift register at zero for ever.
    void Seed(std::uint32_t seed) { m_state = seed ? seed : 0x9E3779B9u; }

    // A number in 0 .. n-1.
    std::uint32_t Next(std::uint32_t n) {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return std::uint32_t((std::uint64_t(m_state) * n) >> 32);
    }

private:
    std::uint32_t m_state;
};

} // namespace plimo::sound
