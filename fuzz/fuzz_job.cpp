// Fuzz target: the whole job through Pelindra, on an in-memory file system.
//
// Input layout (make_corpus.py writes seeds in it):
//   byte 0      star count, signed
//   byte 1      options: bit 0 hide file sizes, bit 1 an older output exists,
//               bit 2 write over the input, bit 3 the file system makes files
//               without a name, bits 4-7 which kind of call fails (0 none,
//               1 allocation, 2 open, 3 write, 4 close, 5 putting the new
//               file in place, 6 the input loses its second half before that
//               draw, 7 kernel copies from then on, 8 a create refused for
//               permission, 9 the new file refused its place (write in place
//               instead), 12 the check that the target may be written)
//   byte 2      index of the call of that kind that fails (of the draw for 6)
//   bytes 3-4   length L of the file, little-endian (cut to what remains)
//   L bytes     the input file
//   the rest    random draws, four bytes each
//
// Checked on every run: the result is 1 or 999; the banner comes first; every
// file is closed and every block and pixel store released, no unnamed file is
// left, and the write signals are released as often as held; with sizes
// visible no allocation exceeds the file. A failure prints exactly one error
// line, last, and leaves the file system as it was (but for the cut input),
// except the target when the job had fallen back to writing it in place. A
// success prints none, writes 54 + gap + pixel
// bytes with headers and gap unchanged (and every pixel too without stars), and
// leaves no temporary file.
#include "fuzz_services.h"
#include "morvane_pelindra.h"
#include "platform/platform_calls.h"

#include <cstring>

namespace {

constexpr char kBanner[] = "=== Morvane Pelindra ===\nAdds stars to a BMP image\n\n";
constexpr char kInputPath[] = "/in.bmp";
constexpr char kOutputPath[] = "/out.bmp";

uint32_t Field32(const uint8_t* data, size_t offset) {
    return data[offset] | (data[offset + 1] << 8) | (data[offset + 2] << 16) |
           (static_cast<uint32_t>(data[offset + 3]) << 24);
}

void InjectFault(int kind, int64_t index) {
    FuzzShellState& shell = FuzzShell();
    switch (kind) {
    case 1:
        shell.failAllocationAt = index;
        break;
    case 2:
        shell.failOpenAt = index;
        break;
    case 3:
        shell.failWriteAt = index;
        break;
    case 4:
        shell.failCloseAt = index;
        break;
    case 5:
        shell.failPlaceAt = index;
        break;
    case 6:
        shell.cutAtDraw = index;
        shell.cutPath = kInputPath;
        break;
    case 7:
        shell.failCopyAt = index;
        break;
    case 8:
        shell.failOpenAt = index;
        shell.createFailure = kShellFileDenied;
        break;
    case 9:
        shell.failPlaceAt = index;
        shell.placeFailure = kShellFileDenied;
        break;
    case 12:
        shell.failWritableAt = index;
        break;
    default:
        break;
    }
}

void CheckWritten(const FuzzBytes& written, const uint8_t* file, size_t fileSize, int32_t stars) {
    if (fileSize < 54) {
        FuzzFail("wrote an image from a file without headers");
    }
    const int64_t width = static_cast<int32_t>(Field32(file, 18));
    const int64_t height = static_cast<int32_t>(Field32(file, 22));
    const int64_t rows = height < 0 ? -height : height;
    const int64_t stride = (width * 3 + 3) / 4 * 4;
    const int64_t gap = static_cast<int32_t>(Field32(file, 10) - 54u);
    const int64_t before = 54 + (gap > 0 ? gap : 0);
    const int64_t expected = before + rows * stride;
    if (static_cast<int64_t>(written.size()) != expected ||
        expected > static_cast<int64_t>(fileSize)) {
        FuzzFail("output size is not 54 + gap + pixel bytes");
    }
    const size_t unchanged = stars > 0 ? static_cast<size_t>(before) : written.size();
    if (std::memcmp(written.data(), file, unchanged) != 0) {
        FuzzFail("headers, gap or untouched pixels changed");
    }
    // Stars land on pixels only, never on the filler bytes that end each row.
    for (int64_t row = 0; row < rows; ++row) {
        const size_t filler = static_cast<size_t>(before + row * stride + width * 3);
        const size_t fillerBytes = static_cast<size_t>(stride - width * 3);
        if (std::memcmp(written.data() + filler, file + filler, fillerBytes) != 0) {
            FuzzFail("a star was drawn into the filler bytes of a row");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    const int32_t stars = static_cast<int8_t>(data[0]);
    const uint8_t options = data[1];
    const size_t declared = data[3] | (data[4] << 8);
    const size_t fileSize = declared < size - 5 ? declared : size - 5;
    const uint8_t* file = data + 5;
    const bool hideSizes = (options & 1) != 0;
    const bool outputExists = (options & 2) != 0;
    const bool inPlace = (options & 4) != 0;

    ResetFuzzShell();
    FuzzShellState& shell = FuzzShell();
    shell.files[kInputPath] = FuzzBytes(file, file + fileSize);
    if (outputExists && !inPlace) {
        shell.files[kOutputPath] = FuzzBytes{'o', 'l', 'd'};
    }
    shell.hideFileSizes = hideSizes;
    shell.unnamedSupported = (options & 8) != 0;
    shell.draws = file + fileSize;
    shell.drawBytes = size - 5 - fileSize;
    InjectFault((options >> 4) & 15, data[2]);
    auto filesBefore = shell.files;

    const char16_t* input = u"/in.bmp";
    const char16_t* output = inPlace ? u"/in.bmp" : u"/out.bmp";
    const int32_t result = Pelindra(input, output, stars);

    if (result != PELINDRA_RESULT_WRITTEN && result != PELINDRA_RESULT_FAILED) {
        FuzzFail("result is neither 1 nor 999");
    }
    if (shell.output.rfind(kBanner, 0) != 0) {
        FuzzFail("the banner does not come first");
    }
    if (shell.opens != shell.closes) {
        FuzzFail("a file was left open");
    }
    if (shell.allocations != shell.releases) {
        FuzzFail("a block was not released");
    }
    if (shell.unnamedOpen != 0) {
        FuzzFail("an unnamed file was left open");
    }
    if (shell.signalHolds != shell.signalReleases || shell.signalHolds > 1) {
        FuzzFail("the write signals were not released as they were held");
    }
    if (!hideSizes && shell.largestAllocation > fileSize) {
        FuzzFail("reserved more memory than the file holds");
    }
    const int errorLines = CountErrorLines(shell.output);
    if (result == PELINDRA_RESULT_FAILED) {
        const size_t lastLine = shell.output.rfind('\n', shell.output.size() - 2);
        if (errorLines != 1 || shell.output.compare(lastLine + 1, 7, "Error: ") != 0) {
            FuzzFail("a failed job did not end with exactly one error line");
        }
        if (shell.cut) {
            FuzzBytes& input = filesBefore.at(kInputPath);
            input.resize(input.size() / 2);
        }
        // Written in place, the target may be left incomplete, as any plain
        // write leaves it; every other file must be as it was.
        auto filesAfter = shell.files;
        auto expected = filesBefore;
        if (shell.truncations > 0) {
            const std::string target = inPlace ? kInputPath : kOutputPath;
            filesAfter.erase(target);
            expected.erase(target);
        }
        if (filesAfter != expected) {
            FuzzFail("a failed job changed the files");
        }
        return 0;
    }
    if (errorLines != 0) {
        FuzzFail("a successful job printed an error line");
    }
    const std::string target = inPlace ? kInputPath : kOutputPath;
    if (shell.files.size() != (inPlace ? 1u : 2u) || shell.files.count(target) == 0) {
        FuzzFail("a temporary file was left behind or the output is missing");
    }
    CheckWritten(shell.files.at(target), file, fileSize, stars);
    return 0;
}
