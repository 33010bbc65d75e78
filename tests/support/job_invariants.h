// What every run of the job must leave behind, whether it wrote its output or
// failed: one error line at most, every file closed, every block released, and
// on failure the directory exactly as it was.
#pragma once

#include "bmp_files.h"
#include "job_runner.h"

#include <map>
#include <sstream>
#include <string>

// Names and contents of every entry of a scratch directory.
using DirectorySnapshot = std::map<std::string, Bytes>;

inline DirectorySnapshot Snapshot(const ScratchDirectory& scratch) {
    DirectorySnapshot snapshot;
    for (const std::string& name : scratch.Entries()) {
        snapshot[name] = ReadFileBytes(scratch / name);
    }
    return snapshot;
}

inline int CountErrorLines(const std::string& output) {
    int count = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        count += line.rfind("Error: ", 0) == 0;
    }
    return count;
}

// A failed call: banner, then whatever came before the failure, then exactly
// one error line as the last thing printed.
inline void ExpectOneErrorLineLast(const std::string& output) {
    EXPECT_EQ(output.rfind(kBanner, 0), 0u) << "the banner does not come first";
    EXPECT_EQ(CountErrorLines(output), 1) << output;
    const size_t lastLine = output.rfind('\n', output.size() - 2);
    EXPECT_EQ(output.compare(lastLine + 1, 7, "Error: "), 0)
        << "error line is not last: " << output;
}

// The size a written output must have: 54 header bytes, the gap when the pixel
// data offset lies beyond the headers, and the padded pixel rows, all as the
// file's own header declares them.
inline int64_t DeclaredOutputSize(const Bytes& file) {
    auto field = [&file](size_t offset) {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) {
            value |= static_cast<uint32_t>(file.at(offset + i)) << (8 * i);
        }
        return value;
    };
    const int64_t width = static_cast<int32_t>(field(18));
    const int64_t height = static_cast<int32_t>(field(22));
    const int64_t rows = height < 0 ? -height : height;
    const int64_t stride = (width * 3 + 3) / 4 * 4;
    const int64_t gap = static_cast<int32_t>(field(10) - 54u);
    return 54 + (gap > 0 ? gap : 0) + rows * stride;
}
