// Synthetic pictures for the GIF benchmarks, one colour index per pixel, row 0 first.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace benchimages {

// A smooth picture with grain, quantised to 256 levels: long but not endless runs.
inline std::vector<std::uint8_t> PhotoLike(int width, int height)
{
    std::mt19937 random(1);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double value = 128 + 60 * std::sin(x / 300.0) * std::cos(y / 170.0) + 50 * std::sin((x + y) / 900.0) +
                                 static_cast<int>(random() % 5) - 2;
            pixels[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
        }
    return pixels;
}

inline std::vector<std::uint8_t> Noise(int width, int height)
{
    std::mt19937 random(2);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    for (auto& pixel : pixels)
        pixel = static_cast<std::uint8_t>(random());
    return pixels;
}

} // namespace benchimages
