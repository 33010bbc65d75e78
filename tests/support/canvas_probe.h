// A pixel buffer for drawing one star into, and the set of pixels it changed.
#pragma once

#include "render/pixel_canvas.h"

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

using Point = std::pair<int32_t, int32_t>; // (column, row)
using PointSet = std::set<Point>;

inline constexpr uint8_t kBackground = 0x11;
inline constexpr uint8_t kFiller = 0xEE;

struct CanvasProbe {
    CanvasProbe(int32_t width, int32_t height) : width(width), height(height) {
        pad = (4 - (width * 3) % 4) % 4;
        stride = width * 3 + pad;
        // Guard bytes on both sides catch any write outside the array.
        storage.assign(static_cast<size_t>(stride * height + 2 * kGuard), kGuardByte);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t i = 0; i < stride; ++i) {
                storage[static_cast<size_t>(kGuard + y * stride + i)] =
                    i < width * 3 ? kBackground : kFiller;
            }
        }
    }

    PixelCanvas Canvas(int32_t cx, int32_t cy, int32_t size, uint8_t red = 255, uint8_t green = 254,
                       uint8_t blue = 253) {
        return PixelCanvas{
            storage.data() + kGuard, width, height, pad, cx, cy, size, red, green, blue};
    }

    // Pixels that no longer hold the background.
    PointSet Changed() const {
        PointSet changed;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* pixel = &storage[static_cast<size_t>(kGuard + y * stride + x * 3)];
                if (pixel[0] != kBackground || pixel[1] != kBackground || pixel[2] != kBackground) {
                    changed.insert({x, y});
                }
            }
        }
        return changed;
    }

    // True when the filler bytes and the guard bytes are as they were.
    bool OnlyPixelsWritten() const {
        for (int32_t i = 0; i < kGuard; ++i) {
            if (storage[static_cast<size_t>(i)] != kGuardByte ||
                storage[storage.size() - 1 - static_cast<size_t>(i)] != kGuardByte) {
                return false;
            }
        }
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t i = width * 3; i < stride; ++i) {
                if (storage[static_cast<size_t>(kGuard + y * stride + i)] != kFiller) {
                    return false;
                }
            }
        }
        return true;
    }

    const uint8_t* Pixel(int32_t x, int32_t y) const {
        return &storage[static_cast<size_t>(kGuard + y * stride + x * 3)];
    }

    static constexpr int32_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xA5;
    int32_t width;
    int32_t height;
    int32_t pad;
    int32_t stride;
    std::vector<uint8_t> storage;
};

// Offsets from a centre, moved to that centre and cut to the image.
inline PointSet Placed(const PointSet& offsets, int32_t cx, int32_t cy, int32_t width,
                       int32_t height) {
    PointSet points;
    for (const auto& [dx, dy] : offsets) {
        const int32_t x = cx + dx;
        const int32_t y = cy + dy;
        if (x >= 0 && x < width && y >= 0 && y < height) {
            points.insert({x, y});
        }
    }
    return points;
}
