// The star shapes as offsets from the centre, written out from their
// definitions: the bars and crosses, and the published ray offset table. Tests
// compare the renderers against these, never against the renderers themselves.
#pragma once

#include "canvas_probe.h"

// Ray offsets (column, row) for radii 0 to 9; a ray of length L uses the first L + 1.
inline constexpr Point kLongRays[5][10] = {
    {{0, 0}, {0, 0}, {0, -1}, {0, -2}, {0, -3}, {-1, -4}, {-1, -5}, {-1, -6}, {-1, -7}, {-2, -8}},
    {{0, 0}, {0, 0}, {1, 0}, {2, 0}, {3, -1}, {4, -1}, {5, -1}, {6, -2}, {7, -2}, {8, -2}},
    {{0, 0}, {0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 4}, {3, 5}, {4, 6}, {5, 7}},
    {{0, 0}, {0, 0}, {-1, 1}, {-1, 2}, {-2, 3}, {-2, 4}, {-3, 4}, {-4, 5}, {-4, 6}, {-5, 7}},
    {{0, 0}, {0, 0}, {-1, 0}, {-2, 0}, {-3, 0}, {-4, -1}, {-5, -1}, {-6, -1}, {-7, -1}, {-8, -1}},
};
inline constexpr Point kShortRays[5][5] = {
    {{0, 0}, {0, 0}, {1, -1}, {1, -2}, {2, -3}},    {{0, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 1}},
    {{0, 0}, {0, 0}, {0, 1}, {0, 2}, {0, 3}},       {{0, 0}, {0, 0}, {-1, 0}, {-2, 0}, {-3, 0}},
    {{0, 0}, {0, 0}, {-1, -1}, {-1, -2}, {-2, -3}},
};

inline PointSet SmallStarOffsets(int32_t size) {
    PointSet offsets;
    for (int32_t i = -size; i <= size; ++i) {
        offsets.insert({i, 0});
        offsets.insert({0, i});
    }
    for (int32_t k = -(size / 2); k <= size / 2; ++k) {
        offsets.insert({k, k});
        offsets.insert({k, -k});
    }
    return offsets;
}

// The plus with arms `size` long and the diamond of radius size / 2 + 2.
inline PointSet LargeStarCentreOffsets(int32_t size) {
    PointSet offsets;
    for (int32_t dy = -size; dy <= size; ++dy) {
        for (int32_t dx = -size; dx <= size; ++dx) {
            const int32_t distance = (dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy);
            if (dx == 0 || dy == 0 || distance <= size / 2 + 2) {
                offsets.insert({dx, dy});
            }
        }
    }
    return offsets;
}

inline PointSet LargeStarOffsets(int32_t size) {
    PointSet offsets = LargeStarCentreOffsets(size);
    for (int32_t k = 0; k < 5; ++k) {
        for (int32_t r = 0; r <= size; ++r) {
            offsets.insert(kLongRays[k][r]);
        }
        for (int32_t r = 0; r <= size / 2; ++r) {
            offsets.insert(kShortRays[k][r]);
        }
    }
    return offsets;
}

inline PointSet StarOffsets(int32_t size) {
    return size > 4 ? LargeStarOffsets(size) : SmallStarOffsets(size);
}
