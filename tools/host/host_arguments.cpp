#include "host/host_arguments.h"
#include "host/host_utf.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Exactly an optional sign and decimal digits: no spaces, no other base.
bool ParseWhole(const char* text, long long lowest, long long highest, long long* value) {
    const char* digits = text + (*text == '+' || *text == '-' ? 1 : 0);
    if (*digits == '\0') {
        return false;
    }
    for (const char* at = digits; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < lowest || parsed > highest) {
        return false;
    }
    *value = parsed;
    return true;
}

#if !defined(_WIN32)
// The names a POSIX system gives the process's own stream `descriptor`. Opened
// as files they would read a redirected file from its start, or write into
// whatever descriptor 1 is during the call (the report's pipe), so the host
// takes them as '-', which uses the stream where it stands.
bool NamesOwnStream(const char* path, int descriptor) {
    const char* const names[2][3] = {{"/dev/stdin", "/dev/fd/0", "/proc/self/fd/0"},
                                     {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}};
    for (const char* name : names[descriptor]) {
        if (std::strcmp(path, name) == 0) {
            return true;
        }
    }
    return false;
}
#else
bool NamesOwnStream(const char*, int) {
    return false;
}
#endif

HostArguments Refuse(HostArguments arguments, std::string why) {
    arguments.action = kHostUsageError;
    arguments.error = std::move(why);
    return arguments;
}

} // namespace

HostArguments ParseHostArguments(int argc, const char* const* argv) {
    HostArguments arguments;
    const char* positional[3] = {nullptr, nullptr, nullptr};
    int positionalCount = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!optionsEnded && std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded &&
                   (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
            arguments.action = kHostHelp;
            return arguments;
        } else if (!optionsEnded && std::strcmp(argument, "--version") == 0) {
            arguments.action = kHostVersion;
            return arguments;
        } else if (!optionsEnded &&
                   (std::strcmp(argument, "--quiet") == 0 || std::strcmp(argument, "-q") == 0)) {
            arguments.quiet = true;
        } else if (!optionsEnded && (std::strcmp(argument, "--seed") == 0 ||
                                     std::strncmp(argument, "--seed=", 7) == 0)) {
            const char* value = argument[6] == '=' ? argument + 7 : nullptr;
            if (value == nullptr) {
                if (i + 1 >= argc) {
                    return Refuse(arguments, "--seed needs a value");
                }
                value = argv[++i];
            }
            long long seed = 0;
            if (!ParseWhole(value, 0, UINT_MAX, &seed)) {
                return Refuse(arguments, std::string("seed '") + value +
                                             "' is not a whole number from 0 to " +
                                             std::to_string(UINT_MAX));
            }
            arguments.seeded = true;
            arguments.seed = static_cast<uint32_t>(seed);
        } else if (!optionsEnded && argument[0] == '-' && argument[1] != '\0' &&
                   !(argument[1] >= '0' && argument[1] <= '9')) {
            return Refuse(arguments, std::string("unknown option '") + argument + "'");
        } else {
            if (positionalCount == 3) {
                return Refuse(arguments, "too many arguments");
            }
            positional[positionalCount++] = argument;
        }
    }
    if (positionalCount < 2) {
        return Refuse(arguments, "an input and an output path are needed");
    }
    if (!ConvertUtf8ToUtf16(positional[0], &arguments.inputPath)) {
        return Refuse(arguments,
                      std::string("input path '") + positional[0] + "' is not valid UTF-8");
    }
    if (!ConvertUtf8ToUtf16(positional[1], &arguments.outputPath)) {
        return Refuse(arguments,
                      std::string("output path '") + positional[1] + "' is not valid UTF-8");
    }
    arguments.inputIsStandardInput =
        std::strcmp(positional[0], "-") == 0 || NamesOwnStream(positional[0], 0);
    arguments.outputIsStandardOutput =
        std::strcmp(positional[1], "-") == 0 || NamesOwnStream(positional[1], 1);
    arguments.outputName = positional[1];
    if (positionalCount == 3) {
        long long stars = 0;
        if (!ParseWhole(positional[2], INT32_MIN, INT32_MAX, &stars)) {
            return Refuse(arguments, std::string("star count '") + positional[2] +
                                         "' is not a whole number that fits in 32 bits");
        }
        arguments.starCount = static_cast<int32_t>(stars);
    }
    arguments.action = kHostRun;
    return arguments;
}
