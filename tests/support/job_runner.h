// Runs the exported job against the substitute services and checks that it
// left nothing behind.
#pragma once

#include "morvane_pelindra.h"
#include "test_shell.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

inline constexpr char kBanner[] = "=== Morvane Pelindra ===\nAdds stars to a BMP image\n\n";

inline int32_t RunPelindra(const std::filesystem::path& input, const std::filesystem::path& output,
                           int32_t stars) {
    const std::u16string in = input.u16string();
    const std::u16string out = output.u16string();
    return Pelindra(in.c_str(), out.c_str(), stars);
}

// Every file opened was closed, every block allocated released, the write
// signals held and let go once.
inline void ExpectNothingHeld() {
    const TestShellState& shell = TestShell();
    EXPECT_EQ(shell.opens, shell.closes) << "a file was left open";
    EXPECT_EQ(shell.allocations, shell.releases) << "a block was not released";
    EXPECT_EQ(shell.signalHolds, 1) << "the write signals were not held over the job";
    EXPECT_EQ(shell.signalReleases, 1) << "the write signals were left held";
}

// The lines a successful job prints after the banner.
inline std::string SuccessLines(int32_t width, int32_t rows, int32_t stars,
                                const std::filesystem::path& output) {
    return "Image size: " + std::to_string(width) + " x " + std::to_string(rows) +
           " pixels\nAdding " + std::to_string(stars) +
           " stars to the image...\nStars added successfully!\nOutput saved to: " +
           output.string() + "\n";
}
