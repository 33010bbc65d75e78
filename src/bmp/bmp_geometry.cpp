#include "bmp/bmp_image.h"

#include "platform/platform_calls.h"

#include <climits>

int32_t DisplayedRowCount(int32_t height) {
    uint32_t magnitude =
        height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    return static_cast<int32_t>(magnitude);
}

int32_t GapLengthFromOffset(uint32_t pixelDataOffset) {
    return static_cast<int32_t>(pixelDataOffset - static_cast<uint32_t>(kBmpHeadersSize));
}

BmpStatus ComputeBmpGeometry(int32_t width, int32_t height, BmpImage* image) {
    if (width <= 0) {
        return kBmpBadWidth;
    }
    if (height == INT32_MIN) {
        return kBmpHeightOutOfRange;
    }
    if (height == 0) {
        return kBmpNoRows;
    }
    // 64-bit arithmetic: a hostile header must not wrap into a small allocation.
    int64_t rows = height < 0 ? -int64_t{height} : int64_t{height};
    int64_t rowBytes = int64_t{width} * kBmpBytesPerPixel;
    int64_t pad = (kBmpRowAlignment - rowBytes % kBmpRowAlignment) % kBmpRowAlignment;
    int64_t stride = rowBytes + pad;
    // A row that alone passes the limit is refused before multiplying: rows times a stride of
    // up to 6 GiB can pass even 64 bits, and the wrapped product could look small enough to accept.
    if (stride > INT32_MAX) {
        return kBmpTooLarge;
    }
    int64_t pixelBytes = rows * stride;
    if (pixelBytes > INT32_MAX) {
        return kBmpTooLarge;
    }
    image->width = width;
    image->rows = static_cast<int32_t>(rows);
    image->pad = static_cast<int32_t>(pad);
    image->stride = static_cast<int32_t>(stride);
    image->pixelBytes = static_cast<int32_t>(pixelBytes);
    return kBmpOk;
}
