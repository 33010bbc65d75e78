// The job through the DLL's import library, on Windows paths: backslashes, a
// drive letter, replacing an existing output, refusing a directory.
#include "morvane_pelindra.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Widen(const std::string& text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

int32_t RunJob(const std::string& input, const std::string& output, int32_t stars) {
    const std::wstring wideInput = Widen(input);
    const std::wstring wideOutput = Widen(output);
    std::srand(2026);
    return Pelindra(reinterpret_cast<const char16_t*>(wideInput.c_str()),
                    reinterpret_cast<const char16_t*>(wideOutput.c_str()), stars);
}

long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<long>(data.nFileSizeLow);
}

// Number of entries in `directory` other than . and ..
int CountEntries(const std::string& directory) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    int count = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            count += name != "." && name != ".." ? 1 : 0;
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return count;
}

void WriteText(const std::string& path, const char* text) {
    FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs(text, stream);
    std::fclose(stream);
}

class WindowsJob : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_GT(GetFullPathNameA(PELINDRA_NIGHT_SKY_BMP, MAX_PATH, base, nullptr), 0u);
        input_ = base;
        char temporary[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temporary), 0u);
        directory_ = std::string(temporary) + "pelindra-job-" +
                     std::to_string(GetCurrentProcessId()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(directory_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override {
        SetFileAttributesA((directory_ + "\\out.bmp").c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const char* name :
             {"out.bmp", "link.bmp", "large.bmp", "expected.bmp", "a long output name.bmp"}) {
            DeleteFileA((directory_ + "\\" + name).c_str());
        }
        RemoveDirectoryA((directory_ + "\\sub").c_str());
        RemoveDirectoryA(directory_.c_str());
    }

    std::string input_;
    std::string directory_;
};

TEST_F(WindowsJob, WritesThroughABackslashPathAndLeavesNoTemporaryFile) {
    ASSERT_NE(directory_.find('\\'), std::string::npos);
    ASSERT_EQ(directory_[1], ':');
    const std::string output = directory_ + "\\out.bmp";
    EXPECT_EQ(RunJob(input_, output, 40), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(FileSize(output), FileSize(input_));
    EXPECT_EQ(CountEntries(directory_), 1);
}

TEST_F(WindowsJob, ReplacesAnExistingOutput) {
    const std::string output = directory_ + "\\out.bmp";
    FILE* stream = std::fopen(output.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs("an older, shorter file", stream);
    std::fclose(stream);
    EXPECT_EQ(RunJob(input_, output, 40), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(FileSize(output), FileSize(input_));
    EXPECT_EQ(CountEntries(directory_), 1);
}

// An image large enough that a few stars read only their pages and the rest
// of the rows are copied from the input, which the job holds open to the end.
std::string LargeImage() {
    const int32_t width = 1603;
    const int32_t height = 800;
    const int32_t stride = (width * 3 + 3) / 4 * 4;
    std::string file(54 + static_cast<size_t>(stride) * height, '\0');
    const uint32_t fields[][2] = {{2, static_cast<uint32_t>(file.size())},
                                  {10, 54},
                                  {14, 40},
                                  {18, static_cast<uint32_t>(width)},
                                  {22, static_cast<uint32_t>(height)}};
    file[0] = 'B';
    file[1] = 'M';
    for (const auto& field : fields) {
        for (int i = 0; i < 4; ++i) {
            file[field[0] + i] = static_cast<char>(field[1] >> (8 * i));
        }
    }
    file[26] = 1;  // planes
    file[28] = 24; // bits per pixel
    for (size_t i = 54; i < file.size(); ++i) {
        file[i] = static_cast<char>(i % 251);
    }
    return file;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fclose(stream);
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        return "<missing>";
    }
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) {
        bytes.append(buffer, got);
    }
    std::fclose(stream);
    return bytes;
}

// Rewriting the large image in place must still replace it, and give what a
// new output gets.
TEST_F(WindowsJob, FewStarsInALargeImageRewriteItInPlace) {
    const std::string file = LargeImage();
    const std::string input = directory_ + "\\large.bmp";
    WriteBytes(input, file);

    const std::string output = directory_ + "\\out.bmp";
    EXPECT_EQ(RunJob(input, output, 6), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(RunJob(input, input, 6), PELINDRA_RESULT_WRITTEN);
    const std::string first = ReadBytes(output);
    // Compared as booleans: a failure would print 3.8 MB otherwise.
    EXPECT_TRUE(first == ReadBytes(input));
    EXPECT_FALSE(first == file) << "no star was drawn";
    EXPECT_EQ(first.compare(0, 54, file, 0, 54), 0);
    EXPECT_EQ(CountEntries(directory_), 2);
    DeleteFileA(input.c_str());
}

// The same few stars into an existing output named without a directory, by
// its short (8.3) name, and held open by a viewer that does not share
// deleting (so the replace is refused and the file is written in place): each
// time the long-named file gets the image, and no temporary is left.
TEST_F(WindowsJob, FewStarsReplaceABareShortOrHeldOutput) {
    const std::string input = directory_ + "\\large.bmp";
    WriteBytes(input, LargeImage());
    const std::string expected = directory_ + "\\expected.bmp";
    ASSERT_EQ(RunJob(input, expected, 6), PELINDRA_RESULT_WRITTEN);
    const std::string image = ReadBytes(expected);
    DeleteFileA(expected.c_str());
    const std::string output = directory_ + "\\a long output name.bmp";

    char previous[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(directory_.c_str()));
    WriteText(output, "old");
    EXPECT_EQ(RunJob("large.bmp", "a long output name.bmp", 6), PELINDRA_RESULT_WRITTEN);
    EXPECT_TRUE(ReadBytes(output) == image) << "bare name";
    SetCurrentDirectoryA(previous);

    WriteText(output, "old");
    char shortName[MAX_PATH];
    if (GetShortPathNameA(output.c_str(), shortName, MAX_PATH) > 0 && output != shortName) {
        EXPECT_EQ(RunJob(input, shortName, 6), PELINDRA_RESULT_WRITTEN);
        EXPECT_TRUE(ReadBytes(output) == image) << "short name " << shortName;
    }

    WriteText(output, "old");
    HANDLE viewer = CreateFileA(output.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunJob(input, output, 6), PELINDRA_RESULT_WRITTEN);
    CloseHandle(viewer);
    EXPECT_TRUE(ReadBytes(output) == image) << "held open";
    // Wine's refused ReplaceFileW leaves a file of its own (rf*.tmp) beside
    // the target; no temporary of the job's may stay.
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory_ + "\\.pelindra-*").c_str(), &entry);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << entry.cFileName;
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    DeleteFileA(output.c_str());
    DeleteFileA(input.c_str());
}

// A host that set the file functions to the OEM code page: the checks and
// the writes must still name the one file the ANSI path names, so that a
// hard-linked accented output is written in place, its link kept.
TEST_F(WindowsJob, FileFunctionsInTheOemCodePageNameTheSameFile) {
    if (GetACP() == GetOEMCP()) {
        GTEST_SKIP() << "the ANSI and OEM code pages are the same here";
    }
    const std::wstring output = Widen(directory_) + L"\\out-\u00e9.bmp";
    const std::wstring link = Widen(directory_) + L"\\link.bmp";
    FILE* stream = _wfopen(output.c_str(), L"wb");
    ASSERT_NE(stream, nullptr);
    std::fputs("old", stream);
    std::fclose(stream);
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), output.c_str(), nullptr)) << GetLastError();
    const std::wstring input = Widen(input_);
    SetFileApisToOEM();
    std::srand(2026);
    const int32_t result = Pelindra(reinterpret_cast<const char16_t*>(input.c_str()),
                                    reinterpret_cast<const char16_t*>(output.c_str()), 40);
    SetFileApisToANSI();
    EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN);
    const std::string linked = ReadBytes(directory_ + "\\link.bmp");
    EXPECT_EQ(static_cast<long>(linked.size()), FileSize(input_)) << "the link lost the image";

    // Read-only, the same file is refused with the line a plain open gives.
    ASSERT_TRUE(SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY));
    SetFileApisToOEM();
    testing::internal::CaptureStdout();
    const int32_t refused = Pelindra(reinterpret_cast<const char16_t*>(input.c_str()),
                                     reinterpret_cast<const char16_t*>(output.c_str()), 5);
    const std::string report = testing::internal::GetCapturedStdout();
    SetFileApisToANSI();
    EXPECT_EQ(refused, PELINDRA_RESULT_FAILED);
    EXPECT_NE(report.find("Error: Cannot create output file"), std::string::npos) << report;
    SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(output.c_str());
    EXPECT_EQ(CountEntries(directory_), 1);
}

// An output that is a symbolic link is written through, as a plain open
// would: the file it points to gets the image and the link stays a link.
TEST_F(WindowsJob, WritesThroughASymbolicLink) {
    const std::string target = directory_ + "\\out.bmp";
    const std::string link = directory_ + "\\link.bmp";
    WriteText(target, "old");
    if (!CreateSymbolicLinkA(link.c_str(), target.c_str(), 0)) {
        GTEST_SKIP() << "no symbolic links here: " << GetLastError();
    }
    if ((GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DeleteFileA(link.c_str());
        GTEST_SKIP() << "the link shows no reparse attribute here";
    }
    // The promise is a plain open's: where that replaces the link instead of
    // writing through it (Wine 8), there is nothing to check.
    WriteText(link, "probe");
    if (FileSize(target) != 5 ||
        (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DeleteFileA(link.c_str());
        GTEST_SKIP() << "a plain open for writing replaces a symbolic link here";
    }
    EXPECT_EQ(RunJob(input_, link, 40), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(FileSize(target), FileSize(input_));
    const DWORD attributes = GetFileAttributesA(link.c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link was replaced";
    EXPECT_EQ(CountEntries(directory_), 2);
}

// Writers of one output finishing at once each put a whole image in its
// place; none of them gives up on a target another one is replacing.
TEST_F(WindowsJob, ManyThreadsReplaceOneOutput) {
    const std::string output = directory_ + "\\out.bmp";
    const std::wstring wideInput = Widen(input_);
    const std::wstring wideOutput = Widen(output);
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 6; ++thread) {
        writers.emplace_back([&] {
            for (int call = 0; call < 10; ++call) {
                failures += Pelindra(reinterpret_cast<const char16_t*>(wideInput.c_str()),
                                     reinterpret_cast<const char16_t*>(wideOutput.c_str()),
                                     0) != PELINDRA_RESULT_WRITTEN;
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(FileSize(output), FileSize(input_));
    EXPECT_EQ(CountEntries(directory_), 1);
}

TEST_F(WindowsJob, WritesStraightIntoADevice) {
    // No temporary file and rename for NUL: it is opened and written as it is.
    EXPECT_EQ(RunJob(input_, "NUL", 5), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(RunJob(input_, "\\\\.\\NUL", 5), PELINDRA_RESULT_WRITTEN);
}

TEST_F(WindowsJob, RefusesADirectoryAsOutputAndAMissingInput) {
    ASSERT_TRUE(CreateDirectoryA((directory_ + "\\sub").c_str(), nullptr));
    EXPECT_EQ(RunJob(input_, directory_ + "\\sub", 5), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(RunJob(directory_ + "\\missing.bmp", directory_ + "\\out.bmp", 5),
              PELINDRA_RESULT_FAILED);
    EXPECT_EQ(CountEntries(directory_), 1);
}

// The replaced file keeps what the old one had besides its contents, as
// ReplaceFileW promises: here its attributes (Wine keeps no creation time to
// compare).
TEST_F(WindowsJob, ReplacingKeepsTheOldFilesAttributes) {
    const std::string output = directory_ + "\\out.bmp";
    WriteText(output, "an older, shorter file");
    ASSERT_TRUE(SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_HIDDEN));

    EXPECT_EQ(RunJob(input_, output, 40), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(GetFileAttributesA(output.c_str()) & FILE_ATTRIBUTE_HIDDEN,
              DWORD{FILE_ATTRIBUTE_HIDDEN});
    EXPECT_EQ(FileSize(output), FileSize(input_));
    EXPECT_EQ(CountEntries(directory_), 1);
}

// As a plain open for writing would, the job refuses a read-only file; a file
// with a second name is written in place, so that name sees the image too.
TEST_F(WindowsJob, RefusesAReadOnlyOutputAndWritesAHardLinkedOneInPlace) {
    const std::string output = directory_ + "\\out.bmp";
    WriteText(output, "read only");
    ASSERT_TRUE(SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(RunJob(input_, output, 5), PELINDRA_RESULT_FAILED);
    ASSERT_TRUE(SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(FileSize(output), 9);
    EXPECT_EQ(CountEntries(directory_), 1);

    const std::string link = directory_ + "\\link.bmp";
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), output.c_str(), nullptr)) << GetLastError();
    EXPECT_EQ(RunJob(input_, output, 5), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(FileSize(link), FileSize(input_));
    EXPECT_EQ(CountEntries(directory_), 2);
}

} // namespace
