// pelindra_msvcrt_reference SEED INPUT OUTPUT STARS
//
// Runs the job as built for this machine, with the random draws a Windows host
// gets after srand(SEED). Its output is what the Windows DLL has to write for
// the same arguments, and what every other target has to write too.
// Exit status 0 when the job returned 999, 1 when it returned 1, 2 for bad use.
#include "morvane_pelindra.h"
#include "msvcrt_draws.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The test paths are plain ASCII; anything else is refused rather than guessed.
bool Widen(const char* text, std::u16string* wide) {
    wide->clear();
    for (; *text != '\0'; ++text) {
        const auto byte = static_cast<unsigned char>(*text);
        if (byte >= 0x80) {
            return false;
        }
        wide->push_back(static_cast<char16_t>(byte));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::u16string input;
    std::u16string output;
    if (argc != 5 || !Widen(argv[2], &input) || !Widen(argv[3], &output)) {
        std::fprintf(stderr, "usage: pelindra_msvcrt_reference SEED INPUT OUTPUT STARS"
                             " (ASCII paths)\n");
        return 2;
    }
    SeedMsvcrtDraws(static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)));
    const int32_t stars = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));
    const int32_t result = Pelindra(input.c_str(), output.c_str(), stars);
    return result == PELINDRA_RESULT_WRITTEN ? 0 : 1;
}
