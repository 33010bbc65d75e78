// File names outside plain ASCII, run in the ANSI code page CTest chose for
// this process (PELINDRA_CODE_PAGE, 1252 or 932): through LoadLibraryW (the
// pelindra_windows_job program) and through the host, each started with a wide
// command line. A name the code page holds is written where it says, with no
// temporary file left; one it cannot hold is refused with nothing touched.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

enum Outcome { kWritten, kInputRefused, kOutputRefused };

struct NameCase {
    const char* label;
    const wchar_t* input;  // created in the test's directory
    const wchar_t* output; // relative to it, expanded by Expand()
    const wchar_t* folder; // a directory made beforehand besides the output's, or null
    Outcome in1252;
    Outcome in932;
};

// ソ (0x83 0x5C) and 表 (0x95 0x5C) end in the byte of a backslash in 932.
const NameCase kCases[] = {
    {"Accented", L"caf\u00e9.bmp", L"out-\u00e9.bmp", nullptr, kWritten, kInputRefused},
    {"TrailByte5C", L"\u8868.bmp", L"out\u30bd.bmp", nullptr, kInputRefused, kWritten},
    {"FullwidthSolidus", L"in.bmp", L"sub\uff0fescaped.bmp", L"sub", kOutputRefused, kWritten},
    {"DivisionSlashDots", L"in.bmp", L"sub\\\uff0e\uff0e\u2215escaped.bmp", L"sub", kOutputRefused,
     kOutputRefused},
    {"LongAsciiDirectory", L"in.bmp", L"{LONG}\\o.bmp", nullptr, kWritten, kWritten},
    {"LongTrailByteName", L"in.bmp", L"{LONG}\\{KANA}.bmp", nullptr, kOutputRefused, kWritten},
    {"UnpairedSurrogate", L"in.bmp", L"out\xD800.bmp", nullptr, kOutputRefused, kOutputRefused},
};

std::wstring BesideThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result(path, length);
    result.resize(result.find_last_of(L"\\/") + 1);
    return result + name;
}

std::wstring NightSky() {
    const char* path = PELINDRA_NIGHT_SKY_BMP;
    return std::wstring(path, path + std::char_traits<char>::length(path));
}

int AnsiBytes(const std::wstring& text) {
    return WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr) - 1;
}

// Fills {LONG} with a directory name of 'd's that makes the whole path 255
// bytes in the ANSI code page, and {KANA} with 80 ソ: as long as a name can be
// where Wine keeps it (255 bytes of UTF-8), so a temporary name built from
// part of it would not fit.
std::wstring Expand(const std::wstring& directory, const wchar_t* relative) {
    std::wstring text = relative;
    const size_t kana = text.find(L"{KANA}");
    if (kana != std::wstring::npos) {
        text.replace(kana, 6, std::wstring(80, L'\u30bd'));
    }
    const size_t at = text.find(L"{LONG}");
    if (at != std::wstring::npos) {
        text.erase(at, 6);
        text.insert(at, static_cast<size_t>(255 - AnsiBytes(directory + text)), L'd');
    }
    return text;
}

std::set<std::wstring> Listing(const std::wstring& directory) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                names.insert(name);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return names;
}

void RemoveTree(const std::wstring& directory) {
    for (const std::wstring& name : Listing(directory)) {
        const std::wstring path = directory + L"\\" + name;
        if ((GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveTree(path);
        } else {
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(directory.c_str());
}

// Runs the command line with standard output into `log`; the exit status.
DWORD RunProgram(std::wstring commandLine, const std::wstring& log, std::string* output) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file =
        CreateFileW(log.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1000;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    DWORD status = 1001;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    char buffer[4096];
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        output->append(buffer, got);
    }
    CloseHandle(file);
    return status;
}

class WindowsNames : public ::testing::TestWithParam<std::tuple<NameCase, bool>> {
  protected:
    void SetUp() override {
        const char* expected = std::getenv("PELINDRA_CODE_PAGE");
        ASSERT_NE(expected, nullptr) << "run by CTest, which sets the code page";
        // Wine takes the ANSI code page from the locale; without a generated
        // ja_JP.UTF-8 it quietly stays at 1252.
        ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
        wchar_t temporary[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temporary), 0u);
        root_ = std::wstring(temporary) + L"pn" + std::to_wstring(GetCurrentProcessId());
        directory_ = root_ + L"\\d";
        CreateDirectoryW(root_.c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override {
        RemoveTree(root_);
    }

    std::wstring root_;
    std::wstring directory_;
};

TEST_P(WindowsNames, WritesWhatTheCodePageHoldsAndRefusesTheRest) {
    const NameCase& name = std::get<0>(GetParam());
    const bool throughHost = std::get<1>(GetParam());
    const Outcome outcome = GetACP() == 932 ? name.in932 : name.in1252;

    const std::wstring input = directory_ + L"\\" + name.input;
    ASSERT_TRUE(CopyFileW(NightSky().c_str(), input.c_str(), TRUE)) << GetLastError();
    const std::wstring output = directory_ + L"\\" + Expand(directory_ + L"\\", name.output);
    const std::wstring outputFolder = output.substr(0, output.find_last_of(L'\\'));
    const std::wstring folder =
        name.folder != nullptr ? directory_ + L"\\" + name.folder : outputFolder;
    if (folder != directory_) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    }
    const std::set<std::wstring> before = Listing(directory_);

    const std::wstring program =
        BesideThisProgram(throughHost ? L"pelindra.exe" : L"pelindra_windows_job.exe");
    const std::wstring commandLine = L"\"" + program + L"\" " + (throughHost ? L"--seed " : L"") +
                                     L"7 \"" + input + L"\" \"" + output + L"\" 30";
    std::string printed;
    const DWORD status = RunProgram(commandLine, root_ + L"\\log.txt", &printed);

    if (outcome == kWritten) {
        EXPECT_EQ(status, 0u) << printed;
        WIN32_FILE_ATTRIBUTE_DATA in, out;
        ASSERT_TRUE(GetFileAttributesExW(output.c_str(), GetFileExInfoStandard, &out));
        ASSERT_TRUE(GetFileAttributesExW(input.c_str(), GetFileExInfoStandard, &in));
        EXPECT_EQ(out.nFileSizeLow, in.nFileSizeLow);
        // Only the output is new, in the directory it names: no temporary
        // file left over, nothing beside it.
        std::set<std::wstring> expected =
            outputFolder == directory_ ? before : std::set<std::wstring>{};
        expected.insert(output.substr(outputFolder.size() + 1));
        EXPECT_EQ(Listing(outputFolder), expected);
        if (outputFolder != directory_) {
            EXPECT_EQ(Listing(directory_), before);
        }
    } else {
        EXPECT_EQ(status, 1u) << printed;
        const char* which = outcome == kInputRefused ? "input" : "output";
        EXPECT_NE(printed.find(std::string("Error: The ") + which +
                               " path cannot be represented in the system encoding"),
                  std::string::npos)
            << printed;
        EXPECT_EQ(Listing(directory_), before);
        if (folder != directory_) {
            EXPECT_EQ(Listing(folder), std::set<std::wstring>{});
        }
    }
    EXPECT_EQ(Listing(root_), (std::set<std::wstring>{L"d", L"log.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Names, WindowsNames,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<NameCase, bool>>& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (std::get<1>(info.param) ? "ThroughHost"
                                                             : "ThroughLoadLibraryW");
                         });

// The host's own streams: an output that is the file its standard output is
// redirected to is refused before anything runs, and --quiet prints nothing on
// success and only the error line on failure.
TEST(WindowsHost, KeepsTheReportOutOfTheImageAndQuiet) {
    wchar_t temporary[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temporary), 0u);
    const std::wstring log =
        std::wstring(temporary) + L"ph" + std::to_wstring(GetCurrentProcessId()) + L".bmp";
    const std::wstring host = L"\"" + BesideThisProgram(L"pelindra.exe") + L"\" ";
    const std::wstring input = L" \"" + NightSky() + L"\" ";
    std::string printed;
    EXPECT_EQ(RunProgram(host + input + L"\"" + log + L"\" 3", log, &printed), 2u) << printed;
    EXPECT_EQ(printed.find("Image size"), std::string::npos) << printed;
    printed.clear();
    EXPECT_EQ(RunProgram(host + L"-q" + input + L"\"" + log + L".out\" 3", log, &printed), 0u);
    EXPECT_EQ(printed, "");
    printed.clear();
    EXPECT_EQ(RunProgram(host + L"--quiet missing.bmp x.bmp 3", log, &printed), 1u);
    EXPECT_EQ(printed.substr(0, printed.find_last_not_of("\r\n") + 1),
              "Error: Cannot open input file 'missing.bmp'");
    DeleteFileW(log.c_str());
    DeleteFileW((log + L".out").c_str());
}

} // namespace
