#include "host/host_command_line.h"

// POSIX hands main() the bytes of each name as they are.
char** HostUtf8Arguments(int* /*argc*/, char** argv) {
    return argv;
}
