// The look-up tables and the random generator that the script library shares with the image
// effects: the sine table, the arctangent table, the random-value table and MT19937.
#pragma once
#include <cstdint>

namespace talven::library {

inline constexpr int kSineEntries = 2560;     // 2048 steps per turn, plus a quarter for cosine
inline constexpr int kAtanEntries = 257;
inline constexpr int kRandomTableEntries = 4096;

// Built on first use: the random-value table draws the first 4096 outputs of the generator seeded
// with 4357, then the generator is reseeded from the tick count, so the table is the same in every
// run while `rand` is not.
const std::int32_t* sine_table();   // 16.16 fixed point
const std::int32_t* atan_table();   // angle units
const float* random_table();

// The process-wide generator shared by rand, random and every other consumer. Callers hold the
// built-in lock.
void random_seed(std::uint32_t seed);  // 0: seed from the tick count
std::uint32_t random_next();           // tempered MT19937 output

// The noise settings of perlin_noise.
float perlin_noise(float x, float y, float z);
void perlin_settings(int octaves, float persistence);

}  // namespace talven::library
