// copy_file INPUT OUTPUT: copies a file with CopyFileW, the way Windows
// programs copy files, as the baseline the job is timed against under Wine
// (bench/whole_job.sh). Built with the Windows tests.
#include <windows.h>

#include <string>

namespace {

std::wstring Widen(const char* text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    return wide;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    return CopyFileW(Widen(argv[1]).c_str(), Widen(argv[2]).c_str(), FALSE) ? 0 : 1;
}
