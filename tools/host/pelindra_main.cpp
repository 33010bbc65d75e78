// pelindra: the command-line host. It seeds the C runtime's generator, hands
// the paths to the library as UTF-16 and turns its result into an exit status.
#include "host/host_arguments.h"
#include "host/host_command_line.h"
#include "morvane_pelindra.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kVersion[] = PELINDRA_VERSION;

void PrintUsage(FILE* stream) {
    std::fprintf(stream,
                 "Usage: pelindra [--seed N] INPUT.bmp OUTPUT.bmp [STARS]\n"
                 "\n"
                 "Draws STARS stars (default %d) at random places, sizes and colours into\n"
                 "an uncompressed 24-bit BMP image and writes the result to OUTPUT.bmp.\n"
                 "OUTPUT.bmp may be INPUT.bmp itself.\n"
                 "\n"
                 "  --seed N    seed the random generator with N (0 to 4294967295), so the\n"
                 "              same seed, input and count give the same picture; without\n"
                 "              it every run differs\n"
                 "  --help      show this help\n"
                 "  --version   show the version\n"
                 "\n"
                 "Exit status: 0 written, 1 failed (the reason is printed), 2 usage error.\n",
                 kDefaultStarCount);
}

// Clock and process id, so runs started within the same second still differ.
unsigned ClockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    return static_cast<unsigned>(seconds.count()) ^ static_cast<unsigned>(nanoseconds.count()) ^
           (static_cast<unsigned>(getpid()) << 16);
}

} // namespace

int main(int argc, char** argv) {
    argv = HostUtf8Arguments(&argc, argv);
    const HostArguments arguments = ParseHostArguments(argc, argv);
    switch (arguments.action) {
    case kHostHelp:
        PrintUsage(stdout);
        return kExitWritten;
    case kHostVersion:
        std::printf("pelindra %s\n", kVersion);
        return kExitWritten;
    case kHostUsageError:
        std::fprintf(stderr, "pelindra: %s\n", arguments.error.c_str());
        std::fprintf(stderr, "Try 'pelindra --help' for more information.\n");
        return kExitUsage;
    case kHostRun:
        break;
    }
    std::srand(arguments.seeded ? arguments.seed : ClockSeed());
    const int32_t result =
        Pelindra(arguments.inputPath.c_str(), arguments.outputPath.c_str(), arguments.starCount);
    return result == PELINDRA_RESULT_WRITTEN ? kExitWritten : kExitFailed;
}
