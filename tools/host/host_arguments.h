// Command-line parsing for the pelindra host, kept apart from main() so it can
// be tested without running a process.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t kDefaultStarCount = 20;

enum HostAction : int32_t {
    kHostRun,
    kHostHelp,
    kHostVersion,
    kHostUsageError,
};

struct HostArguments {
    HostAction action = kHostUsageError;
    std::u16string inputPath;
    std::u16string outputPath;
    std::string outputName;              // OUTPUT as given (UTF-8)
    bool inputIsStandardInput = false;   // INPUT was '-' or a name of standard input
    bool outputIsStandardOutput = false; // OUTPUT was '-' or a name of standard output
    int32_t starCount = kDefaultStarCount;
    bool quiet = false; // print nothing but a failed job's error line, on standard error
    bool seeded = false;
    uint32_t seed = 0;
    std::string error; // why the command line was refused, for kHostUsageError
};

HostArguments ParseHostArguments(int argc, const char* const* argv);
