// pelindra_windows_job SEED INPUT OUTPUT STARS
//
// Runs the job the way a Windows host does: loads MorvanePelindra.dll from
// beside this program with LoadLibraryW, finds Pelindra by name and by ordinal
// 1 (they must be the same function), seeds the C runtime's generator, which
// the DLL shares with this program, and calls it. Exit status 0 when the job
// returned 999, 1 when it returned 1, 2 for anything else going wrong.
#include "morvane_pelindra.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using PelindraFunction = int32_t(PELINDRA_CALL*)(const char16_t*, const char16_t*, int32_t);

std::wstring Widen(const char* text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::wstring BesideThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result(path, length);
    const size_t slash = result.find_last_of(L"\\/");
    result.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return result + name;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: pelindra_windows_job SEED INPUT OUTPUT STARS\n");
        return 2;
    }
    const unsigned seed = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const std::wstring input = Widen(argv[2]);
    const std::wstring output = Widen(argv[3]);
    const int32_t stars = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));

    HMODULE library = LoadLibraryW(BesideThisProgram(L"MorvanePelindra.dll").c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load MorvanePelindra.dll (error %lu)\n", GetLastError());
        return 2;
    }
#if PELINDRA_EXPECT_NO_FRAMEWORK
    // The desktop flavour runs where the framework does not exist.
    if (GetModuleHandleW(L"mfcce300.dll") != nullptr) {
        std::fprintf(stderr, "the desktop flavour brought in the framework\n");
        FreeLibrary(library);
        return 2;
    }
#endif
    auto byName = reinterpret_cast<PelindraFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "Pelindra")));
    auto byOrdinal = reinterpret_cast<PelindraFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    if (byName == nullptr || byName != byOrdinal) {
        std::fprintf(stderr, "Pelindra by name (%p) and by ordinal 1 (%p) differ\n",
                     reinterpret_cast<void*>(byName), reinterpret_cast<void*>(byOrdinal));
        FreeLibrary(library);
        return 2;
    }

    std::srand(seed);
    std::fflush(stdout);
    const int32_t result = byOrdinal(reinterpret_cast<const char16_t*>(input.c_str()),
                                     reinterpret_cast<const char16_t*>(output.c_str()), stars);
    std::printf("Pelindra returned %d\n", static_cast<int>(result));
    FreeLibrary(library);
    if (result == PELINDRA_RESULT_WRITTEN) {
        return 0;
    }
    return result == PELINDRA_RESULT_FAILED ? 1 : 2;
}
