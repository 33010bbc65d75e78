// Fuzz target: LoadBmpImage on arbitrary file contents.
//
// Whatever the bytes, the load prints nothing and either fails, having
// closed the file and released everything, or yields an image whose sizes
// agree with its header and whose input holds its gap and rows where the
// image says. It never reserves more memory than one bounded copy buffer.
#include "bmp/bmp_image.h"
#include "fuzz_services.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char kInput[] = "/in.bmp";

uint32_t Field32(const uint8_t* data, size_t offset) {
    return data[offset] | (data[offset + 1] << 8) | (data[offset + 2] << 16) |
           (static_cast<uint32_t>(data[offset + 3]) << 24);
}

void CheckLoadedImage(const BmpImage& image, const uint8_t* data, size_t size) {
    const int64_t width = static_cast<int32_t>(Field32(data, 18));
    const int64_t height = static_cast<int32_t>(Field32(data, 22));
    const int64_t rows = height < 0 ? -height : height;
    const int64_t stride = (width * 3 + 3) / 4 * 4;
    const int64_t gap = static_cast<int32_t>(Field32(data, 10) - 54u);
    if (width <= 0 || rows <= 0 || image.width != width || image.rows != rows ||
        image.stride != stride || image.pad != stride - width * 3 ||
        image.pixelBytes != rows * stride || image.gapLength != gap) {
        FuzzFail("loaded sizes disagree with the header");
    }
    if (std::memcmp(image.fileHeader, data, 14) != 0 ||
        std::memcmp(image.infoHeader, data + 14, 40) != 0) {
        FuzzFail("headers not kept as read");
    }
    // Everything after the headers: the gap, if any, then the rows.
    const size_t length = static_cast<size_t>(image.pixelOffset - 54 + image.pixelBytes);
    FuzzBytes held(length);
    if (image.pixelOffset != 54 + (gap > 0 ? gap : 0) || 54 + length > size ||
        shell.FileReadAt(image.input, held.data(), length, 54) != length ||
        std::memcmp(held.data(), data + 54, length) != 0) {
        FuzzFail("the input does not hold the gap and rows where the image says");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFuzzShell();
    FuzzShell().files[kInput] = FuzzBytes(data, data + size);

    // Files of odd length come as a stream of unknown size, whose rows are
    // copied into a scratch file.
    FuzzShell().hideFileSizes = size % 2 == 1;
    BmpImage image;
    BmpHeaderNote note;
    const BmpStatus status = LoadBmpImage(kInput, &image, &note);
    const FuzzShellState& shell = FuzzShell();
    if (!shell.output.empty()) {
        FuzzFail("loading printed a line: the job's report says everything");
    }
    if (note.sized != (status == kBmpOk || status >= kBmpBadWidth)) {
        FuzzFail("the header's size noted for a failure before the size line, or not after");
    }
    if (status == kBmpOk) {
        CheckLoadedImage(image, data, size);
        CloseBmpInput(&image);
    } else if (image.input != nullptr) {
        FuzzFail("a failed load left a file in the image");
    }
    if (shell.opens != shell.closes || shell.opens > 2) {
        FuzzFail("the input and its scratch file were not opened and closed once each");
    }
    if (shell.allocations != shell.releases) {
        FuzzFail("a block was not released");
    }
    if (shell.largestAllocation > 256 * 1024) {
        FuzzFail("reserved more than one copy buffer");
    }
    return 0;
}
