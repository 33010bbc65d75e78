// The Win32 runtime services on their own, run under Wine: ANSI code page
// conversion, path kinds, the new file beside a target and its replace, sizes.
#include "platform/platform_calls.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A fresh directory per test, removed with its files afterwards.
class RuntimeServicesWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
        directory_ = std::string(base) + "pelindra-services-" +
                     std::to_string(GetCurrentProcessId()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(directory_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((directory_ + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    if (std::strcmp(entry.cFileName, ".") != 0 &&
                        std::strcmp(entry.cFileName, "..") != 0) {
                        RemoveDirectoryA(Path(entry.cFileName).c_str());
                    }
                } else {
                    DeleteFileA(Path(entry.cFileName).c_str());
                }
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryA(directory_.c_str());
    }
    std::string Path(const char* name) const {
        return directory_ + "\\" + name;
    }
    void WriteFile(const char* name, const std::string& contents) const {
        FILE* stream = std::fopen(Path(name).c_str(), "wb");
        ASSERT_NE(stream, nullptr);
        std::fwrite(contents.data(), 1, contents.size(), stream);
        std::fclose(stream);
    }
    std::string ReadFile(const char* name) const {
        std::string contents;
        FILE* stream = std::fopen(Path(name).c_str(), "rb");
        if (stream == nullptr) {
            return "<missing>";
        }
        char buffer[256];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
            contents.append(buffer, got);
        }
        std::fclose(stream);
        return contents;
    }

    std::string directory_;
};

TEST_F(RuntimeServicesWin32, WideToNarrowUsesTheAnsiCodePageExactlyOrNotAtAll) {
    char narrow[64];
    // Best fit would turn the division slash into '/' in either code page.
    EXPECT_EQ(shell.WideToNarrow(u"sub\u2215x.bmp", narrow, sizeof narrow), -1);
    const int32_t written = shell.WideToNarrow(u"stars-\u00e9.bmp", narrow, sizeof narrow);
    if (GetACP() == 1252) {
        EXPECT_EQ(written, 12);
        EXPECT_STREQ(narrow, "stars-\xe9.bmp");
    } else if (GetACP() == 932) {
        EXPECT_EQ(written, -1);
    }
}

TEST_F(RuntimeServicesWin32, WideToNarrowReportsWhatDoesNotFit) {
    char narrow[4];
    EXPECT_EQ(shell.WideToNarrow(u"abcdef", narrow, sizeof narrow), 0);
    EXPECT_EQ(shell.WideToNarrow(u"abc", narrow, sizeof narrow), 4);
    EXPECT_STREQ(narrow, "abc");
}

TEST_F(RuntimeServicesWin32, QueryPathTellsFilesDirectoriesAndMissingNames) {
    WriteFile("file.bmp", "BM");
    ShellPathInfo info;
    shell.QueryPath(Path("file.bmp").c_str(), &info);
    EXPECT_EQ(info.kind, kShellPathRegular);
    shell.QueryPath(directory_.c_str(), &info);
    EXPECT_EQ(info.kind, kShellPathDirectory);
    shell.QueryPath(Path("missing.bmp").c_str(), &info);
    EXPECT_EQ(info.kind, kShellPathMissing);
    // A device is written through, never replaced by a rename, and so is
    // anything named in the device namespace.
    for (const char* device : {"NUL", "\\\\.\\NUL", "\\\\.\\pipe\\pelindra-missing"}) {
        shell.QueryPath(device, &info);
        EXPECT_EQ(info.kind, kShellPathOther) << device;
    }
}

TEST_F(RuntimeServicesWin32, OpenRefusesADirectoryForReading) {
    ShellFile* file = nullptr;
    EXPECT_NE(shell.FileOpen(directory_.c_str(), kShellOpenRead, &file), kShellFileDone);
    EXPECT_NE(shell.FileOpen(Path("missing.bmp").c_str(), kShellOpenRead, &file), kShellFileDone);
    EXPECT_EQ(file, nullptr);
}

// A new file is made under a name not yet taken, written in binary, and
// takes an existing target's place by a rename.
TEST_F(RuntimeServicesWin32, NewFileTakesTheTargetsPlace) {
    WriteFile("to.bmp", "old");
    ShellFile* file = nullptr;
    EXPECT_EQ(shell.FileOpen(Path("to.bmp").c_str(), kShellOpenNewPrivate, &file),
              kShellFileExists);
    ASSERT_EQ(shell.FileOpen(Path("new.tmp").c_str(), kShellOpenNewPrivate, &file), kShellFileDone);
    // Line ends and the old end-of-file byte pass through untranslated.
    const char bytes[] = {'\n', '\r', '\n', 0x1A, '\0', 'x'};
    EXPECT_EQ(shell.FileWriteAt(file, bytes, sizeof bytes, 0), sizeof bytes);
    EXPECT_EQ(shell.FileClose(file), 0);
    EXPECT_EQ(shell.FileRename(Path("new.tmp").c_str(), Path("to.bmp").c_str()), kShellFileDone);
    EXPECT_EQ(ReadFile("to.bmp"), std::string(bytes, sizeof bytes));
    EXPECT_EQ(GetFileAttributesA(Path("new.tmp").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(shell.FileRename(Path("new.tmp").c_str(), Path("to.bmp").c_str()), kShellFileFailed)
        << "the new file is missing";
    EXPECT_EQ(shell.FileOpen(Path("no-such-dir\\x.bmp").c_str(), kShellOpenNew, &file),
              kShellFileFailed);
}

TEST_F(RuntimeServicesWin32, PathQueryFindsAReadOnlyFileNotWritable) {
    ShellPathInfo info;
    WriteFile("plain.bmp", "x");
    shell.QueryPath(Path("plain.bmp").c_str(), &info);
    EXPECT_TRUE(info.writable);
    WriteFile("locked.bmp", "x");
    ASSERT_NE(SetFileAttributesA(Path("locked.bmp").c_str(), FILE_ATTRIBUTE_READONLY), 0);
    shell.QueryPath(Path("locked.bmp").c_str(), &info);
    EXPECT_FALSE(info.writable);
    SetFileAttributesA(Path("locked.bmp").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile("locked.bmp"), "x");
}

TEST_F(RuntimeServicesWin32, RemainingCountsBytesAfterThePosition) {
    WriteFile("ten.bmp", "0123456789");
    ShellFile* file = nullptr;
    ASSERT_EQ(shell.FileOpen(Path("ten.bmp").c_str(), kShellOpenRead, &file), kShellFileDone);
    ShellFileStamp stamp;
    EXPECT_EQ(shell.FileRemaining(file, &stamp), 10);
    EXPECT_EQ(stamp.size, 10);
    EXPECT_NE(stamp.modified, 0);
    char buffer[8];
    EXPECT_EQ(shell.FileReadAt(file, buffer, 4, kShellAtPosition), 4u);
    EXPECT_EQ(shell.FileRemaining(file, &stamp), 6);
    EXPECT_EQ(shell.FileReadAt(file, buffer, 8, kShellAtPosition), 6u);
    EXPECT_EQ(shell.FileRemaining(file, &stamp), 0);
    EXPECT_EQ(shell.FileClose(file), 0);
}

// Reads at offsets that stop at the end, writes at offsets or where the file
// stands, and scratch files that read back what was written and leave
// nothing behind. There is no kernel copy: the job copies through a buffer.
TEST_F(RuntimeServicesWin32, ReadsAndWritesAtOffsets) {
    std::string contents(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i * 7 + i / 4096);
    }
    WriteFile("source.bin", contents);

    std::string read(contents.size(), '\0');
    ShellFile* from = nullptr;
    ASSERT_EQ(shell.FileOpen(Path("source.bin").c_str(), kShellOpenRead, &from), kShellFileDone);
    EXPECT_EQ(shell.FileReadAt(from, read.data(), contents.size(), 0), contents.size());
    EXPECT_EQ(read, contents);
    EXPECT_EQ(shell.FileReadAt(from, read.data(), 100, static_cast<int64_t>(contents.size()) - 40),
              40u);

    ShellFile* scratch = nullptr;
    ASSERT_EQ(shell.FileOpen("", kShellOpenScratch, &scratch), kShellFileDone);
    EXPECT_EQ(shell.FileCopyRange(from, 5, 70000, scratch, 10), -1);
    EXPECT_EQ(shell.FileWriteAt(scratch, contents.data() + 5, 70000, 10), 70000u);
    EXPECT_EQ(shell.FileReadAt(scratch, read.data(), 70000, 10), 70000u);
    EXPECT_EQ(read.substr(0, 70000), contents.substr(5, 70000));
    EXPECT_EQ(shell.FileClose(scratch), 0);

    ShellFile* to = nullptr;
    ASSERT_EQ(shell.FileOpen(Path("copy.bin").c_str(), kShellOpenWrite, &to), kShellFileDone);
    ASSERT_EQ(shell.FileWriteAt(to, "ab", 2, kShellAtPosition), 2u);
    const size_t copied = 2 * 1024 * 1024 + 5;
    EXPECT_EQ(shell.FileWriteAt(to, contents.data() + 1000, copied, kShellAtPosition), copied);
    EXPECT_EQ(shell.FileWriteAt(to, "XYZ", 3, 1), 3u);
    ASSERT_EQ(shell.FileWriteAt(to, "cd", 2, static_cast<int64_t>(copied) + 2), 2u);
    EXPECT_EQ(shell.FileClose(from), 0);
    EXPECT_EQ(shell.FileClose(to), 0);
    const std::string expected = "aXYZ" + contents.substr(1002, copied - 2) + "cd";
    EXPECT_EQ(ReadFile("copy.bin"), expected);
}

TEST_F(RuntimeServicesWin32, RandomIsTheRuntimeGenerator) {
    // msvcrt: state * 214013 + 2531011, bits 16 to 30.
    std::srand(1);
    int32_t values[3] = {};
    shell.RandomDraws(values, 3);
    EXPECT_EQ(values[0], 41);
    EXPECT_EQ(values[1], 18467);
    EXPECT_EQ(values[2], 6334);
}

} // namespace
