#pragma once

// Random choices from one seed, the same on every run: the seeded property
// tests draw their cases from it, and a failure names its seed.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kesmark::test {

class Dice {
  public:
    explicit Dice(std::uint64_t seed) : engine_(seed) {}
    // 0 .. n-1.
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : engine_() % n; }
    bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
    template <class T>
    const T& Pick(const std::vector<T>& from) {
        return from[Below(from.size())];
    }

  private:
    std::mt19937_64 engine_;
};

}  // namespace kesmark::test
