// pelindra: the command-line host. It seeds the C runtime's generator, hands
// the paths to the library as UTF-16 and turns its result into an exit status.
#include "host/host_arguments.h"
#include "host/host_command_line.h"
#include "morvane_pelindra.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <csignal>
#include <sys/stat.h>
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
#if !defined(_WIN32)
                 "INPUT.bmp '-' reads standard input; OUTPUT.bmp '-' writes standard\n"
                 "output, and the report then goes to standard error.\n"
#endif
                 "\n"
                 "  --seed N    seed the random generator with N (0 to 4294967295), so the\n"
                 "              same seed, input and count give the same picture; without\n"
                 "              it every run differs\n"
                 "  -h, --help  show this help\n"
                 "  --version   show the version\n"
                 "\n"
                 "Exit status: 0 written, 1 failed (the reason is printed), 2 usage error.\n",
                 kDefaultStarCount);
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "pelindra: %s\n", why.c_str());
    std::fprintf(stderr, "Try 'pelindra --help' for more information.\n");
    return kExitUsage;
}

// Like the coreutils: text that could not all be written (a full disk, a
// closed stream) is a failure, even for --help and --version.
int FinishOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "pelindra: write error\n");
        return kExitFailed;
    }
    return kExitWritten;
}

// Clock and process id, so runs started within the same second still differ.
unsigned ClockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    return static_cast<unsigned>(seconds.count()) ^ static_cast<unsigned>(nanoseconds.count()) ^
           (static_cast<unsigned>(getpid()) << 16);
}

#if defined(_WIN32)

// Windows has no path that names a standard stream as a binary file.
int RouteStandardStreams(HostArguments* arguments) {
    if (arguments->inputIsStandardInput || arguments->outputIsStandardOutput) {
        return UsageError("'-' for standard input or output is not supported on Windows");
    }
    return kExitWritten;
}

#else

std::u16string DescriptorPath(int descriptor) {
    const std::string path = "/dev/fd/" + std::to_string(descriptor);
    return std::u16string(path.begin(), path.end());
}

// True when both stat results are the same file, and it is not the null device
// (where an image and a report may well both be thrown away).
bool SameStream(const struct stat& a, const struct stat& b) {
    struct stat null;
    const bool isNull = S_ISCHR(a.st_mode) && stat("/dev/null", &null) == 0 &&
                        S_ISCHR(null.st_mode) && a.st_rdev == null.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && !isNull;
}

// '-' becomes the path of the standard stream. An image written to standard
// output moves the report to standard error (the library prints to standard
// output, which then is standard error), so the two never mix; an image that
// would land in the stream the report goes to is refused.
int RouteStandardStreams(HostArguments* arguments) {
    if (arguments->inputIsStandardInput) {
        arguments->inputPath = DescriptorPath(STDIN_FILENO);
    }
    struct stat output;
    struct stat error;
    if (arguments->outputIsStandardOutput) {
        if (fstat(STDOUT_FILENO, &output) == 0 && fstat(STDERR_FILENO, &error) == 0 &&
            SameStream(output, error)) {
            return UsageError("with OUTPUT '-' the report goes to standard error, which is "
                              "standard output here");
        }
        const int image = dup(STDOUT_FILENO);
        if (image < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            return UsageError("cannot set standard output aside for the image");
        }
        arguments->outputPath = DescriptorPath(image);
        return kExitWritten;
    }
    struct stat target;
    if (fstat(STDOUT_FILENO, &output) == 0 && stat(arguments->outputName.c_str(), &target) == 0 &&
        SameStream(output, target)) {
        return UsageError("OUTPUT is standard output, where the report goes; use '-' to write "
                          "the image there");
    }
    return kExitWritten;
}

#endif

} // namespace

// The whole host on UTF-8 arguments; main() only hands them over.
int RunHost(int argc, const char* const* argv) {
    HostArguments arguments = ParseHostArguments(argc, argv);
    switch (arguments.action) {
    case kHostHelp:
        PrintUsage(stdout);
        return FinishOutput();
    case kHostVersion:
        std::printf("pelindra %s\n", kVersion);
        return FinishOutput();
    case kHostUsageError:
        return UsageError(arguments.error);
    case kHostRun:
        break;
    }
#if !defined(_WIN32)
    // Like any filter: a reader that goes away ends the output with an error,
    // not the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const int routed = RouteStandardStreams(&arguments);
    if (routed != kExitWritten) {
        return routed;
    }
    std::srand(arguments.seeded ? arguments.seed : ClockSeed());
    const int32_t result =
        Pelindra(arguments.inputPath.c_str(), arguments.outputPath.c_str(), arguments.starCount);
    return result == PELINDRA_RESULT_WRITTEN ? kExitWritten : kExitFailed;
}

int main(int argc, char** argv) {
    argv = HostUtf8Arguments(&argc, argv);
    return RunHost(argc, argv);
}
