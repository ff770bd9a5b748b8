// Reads the text form of pictures drawn through the Win32 GDI (gdi.golden.txt, written by gdi.c
// under Wine) and compares canvas pictures with it pixel for pixel.
#pragma once

#include "Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace gdi {

struct Case {
    std::string name;
    int width = 0;
    int height = 0;
    std::string what;         // the GDI calls that drew it
    std::uint32_t hash = 0;   // FNV-1a over the RGB bytes of every pixel
    TRect box;                // non-black pixels, right and bottom inclusive
    std::map<char, std::uint32_t> colours; // letter -> RRGGBB
    std::map<int, std::string> rows;       // y -> runs "x0-x1C ...", when the box is short enough
    std::vector<std::string> notes;        // lines after the picture, e.g. the current position
};

inline std::string GoldenPath() { return KABINEX_SOURCE_DIR "/tests/toolkit/gdi/gdi.golden.txt"; }

inline std::vector<Case> ReadCases(const std::string& path = GoldenPath())
{
    std::vector<Case> cases;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        char name[128];
        int width, height;
        if (std::sscanf(line.c_str(), "== case %127s (%dx%d)", name, &width, &height) == 3) {
            Case c;
            c.name = name, c.width = width, c.height = height;
            cases.push_back(c);
            continue;
        }
        if (cases.empty() || line.empty())
            continue;
        Case& c = cases.back();
        int y, x0, x1, y0, y1;
        unsigned hash;
        if (line.rfind("# ", 0) == 0) {
            c.what = line.substr(2);
        } else if (std::sscanf(line.c_str(), "hash %x", &hash) == 1) {
            c.hash = hash;
        } else if (std::sscanf(line.c_str(), "bbox x=%d..%d y=%d..%d", &x0, &x1, &y0, &y1) == 4) {
            c.box = TRect{x0, y0, x1, y1};
        } else if (line.rfind("colours:", 0) == 0) {
            std::istringstream colours(line.substr(8));
            std::string entry;
            while (colours >> entry) {
                unsigned rgb;
                int count;
                if (entry.size() > 2 && std::sscanf(entry.c_str() + 2, "%6x*%d", &rgb, &count) == 2)
                    c.colours[entry[0]] = rgb;
            }
        } else if (std::sscanf(line.c_str(), "y=%d", &y) == 1) {
            c.rows[y] = line.size() > 5 ? line.substr(5) : "";
        } else if (line.rfind("row ", 0) == 0) {
            // the extents of three rows of a tall picture: the hash covers them
        } else {
            c.notes.push_back(line);
        }
    }
    return cases;
}

inline const Case* Find(const std::vector<Case>& cases, const std::string& name)
{
    for (const Case& c : cases)
        if (c.name == name)
            return &c;
    return nullptr;
}

// TColor is 0x00BBGGRR; the golden text writes RRGGBB.
inline std::uint32_t Rgb(TColor color)
{
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

inline std::uint32_t Hash(TBitmap& picture)
{
    std::uint32_t hash = 2166136261u;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const std::uint32_t rgb = Rgb(picture.Canvas().Pixel(x, y));
            for (int shift : {16, 8, 0})
                hash = (hash ^ ((rgb >> shift) & 0xFF)) * 16777619u;
        }
    return hash;
}

// One row in the golden form, with the golden case's letters for its colours ('?' for others).
inline std::string Runs(TBitmap& picture, const Case& c, int y)
{
    auto letter = [&](TColor color) {
        for (const auto& [l, rgb] : c.colours)
            if (rgb == Rgb(color))
                return l;
        return '?';
    };
    std::string runs;
    for (int x = c.box.Left; x <= c.box.Right; ++x) {
        const TColor color = picture.Canvas().Pixel(x, y);
        if (color == clBlack)
            continue;
        const int start = x;
        while (x + 1 <= c.box.Right && picture.Canvas().Pixel(x + 1, y) == color)
            ++x;
        runs += " " + std::to_string(start) + "-" + std::to_string(x) + letter(color);
    }
    return runs;
}

// The picture equals the golden one: size, every printed row, and the hash over all pixels.
inline ::testing::AssertionResult Matches(TBitmap& picture, const Case& c)
{
    if (picture.Width() != c.width || picture.Height() != c.height)
        return ::testing::AssertionFailure() << c.name << ": size " << picture.Width() << "x" << picture.Height();
    for (const auto& [y, runs] : c.rows) {
        const std::string ours = Runs(picture, c, y);
        if (ours != runs)
            return ::testing::AssertionFailure() << c.name << " row " << y << ":\n  GDI   " << runs << "\n  ours  " << ours;
    }
    const std::uint32_t hash = Hash(picture);
    if (hash != c.hash)
        return ::testing::AssertionFailure() << c.name << ": hash " << std::hex << hash << ", GDI " << c.hash;
    return ::testing::AssertionSuccess();
}

} // namespace gdi
