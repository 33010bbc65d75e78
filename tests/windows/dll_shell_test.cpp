// What a Windows host sees of MorvanePelindra.dll besides the job: the export,
// the framework registration at load and unload (observed through the stand-in
// framework this program is linked against, so it stays loaded and keeps its
// record of calls while the library comes and goes), and the resources.
#include "framework_standin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kLibraryName[] = L"MorvanePelindra.dll";
// The desktop flavour has the same name in a folder of its own.
constexpr const wchar_t* kLibraryFolder = PELINDRA_FRAMEWORK_REGISTRATION ? L"" : L"desktop\\";

std::wstring LibraryPath() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result(path, length);
    const size_t slash = result.find_last_of(L"\\/");
    result.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return result + kLibraryFolder + kLibraryName;
}

[[maybe_unused]] uintptr_t Address(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

std::vector<StandinCall> RecordedCalls() {
    std::vector<StandinCall> calls(static_cast<size_t>(StandinCallCount()));
    for (size_t i = 0; i < calls.size(); ++i) {
        StandinCallAt(static_cast<int32_t>(i), &calls[i]);
    }
    return calls;
}

std::vector<int32_t> Ordinals(const std::vector<StandinCall>& calls) {
    std::vector<int32_t> ordinals;
    for (const StandinCall& call : calls) {
        ordinals.push_back(call.ordinal);
    }
    return ordinals;
}

// Sets a stand-in switch for the life of one test.
class ScopedSwitch {
  public:
    explicit ScopedSwitch(const char* name) : name_(name) {
        SetEnvironmentVariableA(name_, "1");
    }
    ~ScopedSwitch() {
        SetEnvironmentVariableA(name_, nullptr);
    }
    ScopedSwitch(const ScopedSwitch&) = delete;
    ScopedSwitch& operator=(const ScopedSwitch&) = delete;

  private:
    const char* name_;
};

class DllShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetModuleHandleW(kLibraryName), nullptr) << "a previous test left it loaded";
        StandinReset();
    }
    void TearDown() override {
        EXPECT_EQ(GetModuleHandleW(kLibraryName), nullptr) << "the library stayed loaded";
    }
};

TEST_F(DllShellTest, ExportsPelindraByNameAsOrdinalOneAndNothingElse) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    FARPROC byName = GetProcAddress(library, "Pelindra");
    FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(1));
    EXPECT_NE(byName, nullptr);
    EXPECT_EQ(byName, byOrdinal);
    EXPECT_EQ(GetProcAddress(library, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(library, "Pelindra@12"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "_Pelindra@12"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "DllMain"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "PelindraDllEntry"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
}

#if PELINDRA_FRAMEWORK_REGISTRATION

TEST_F(DllShellTest, LoadRunsTheEarlyHookThenRegistersThenMakesTheFrameworkObject) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    const std::vector<StandinCall> calls = RecordedCalls();
    ASSERT_EQ(Ordinals(calls), (std::vector<int32_t>{644, 655, 315, 88}));

    // Register: the module record, zero-filled, and this library's instance.
    const uintptr_t record = calls[1].arguments[0];
    EXPECT_NE(record, 0u);
    EXPECT_EQ(calls[1].arguments[1], Address(library));
    EXPECT_EQ(calls[1].recordWasZero, 1);
    // Allocate 64 bytes, then initialise that memory with the record and 0.
    EXPECT_EQ(calls[2].arguments[0], 64u);
    ASSERT_NE(calls[2].result, 0u);
    EXPECT_EQ(calls[3].arguments[0], calls[2].result);
    EXPECT_EQ(calls[3].arguments[1], record);
    EXPECT_EQ(calls[3].arguments[2], 0u);

    EXPECT_TRUE(FreeLibrary(library));
}

TEST_F(DllShellTest, EarlyHookTakesOverTheParkedStateWords) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    // Byte offsets 32 -> 28 and 44 -> 40, the parking places cleared.
    EXPECT_EQ(StandinStateWord(7), StandinInitialStateWord(8));
    EXPECT_EQ(StandinStateWord(8), 0u);
    EXPECT_EQ(StandinStateWord(10), StandinInitialStateWord(11));
    EXPECT_EQ(StandinStateWord(11), 0u);
    for (int32_t word : {0, 1, 2, 3, 4, 5, 6, 9, 12, 13, 14, 15}) {
        EXPECT_EQ(StandinStateWord(word), StandinInitialStateWord(word)) << "word " << word;
    }
    EXPECT_TRUE(FreeLibrary(library));
    // Unloading leaves the state record alone.
    EXPECT_EQ(StandinStateWord(7), StandinInitialStateWord(8));
    EXPECT_EQ(StandinStateWord(8), 0u);
}

TEST_F(DllShellTest, UnloadWithdrawsTheSameRecordAndNothingElse) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    ASSERT_EQ(StandinCallCount(), 4);
    StandinCall registration;
    ASSERT_EQ(StandinCallAt(1, &registration), 1);

    EXPECT_TRUE(FreeLibrary(library));
    const std::vector<StandinCall> calls = RecordedCalls();
    ASSERT_EQ(Ordinals(calls), (std::vector<int32_t>{644, 655, 315, 88, 699}));
    EXPECT_EQ(calls[4].arguments[0], registration.arguments[0]);
    EXPECT_EQ(calls[4].arguments[1], 0u);
}

DWORD WINAPI DoNothing(LPVOID) {
    return 0;
}

TEST_F(DllShellTest, ThreadsStartingAndEndingDoNotReachTheFramework) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    ASSERT_EQ(StandinCallCount(), 4);
    HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(StandinCallCount(), 4);
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_EQ(StandinCallCount(), 5);
}

TEST_F(DllShellTest, RefusedRegistrationFailsTheLoad) {
    ScopedSwitch refuse("PELINDRA_STANDIN_REFUSE_REGISTRATION");
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    EXPECT_EQ(library, nullptr);
    if (library != nullptr) {
        FreeLibrary(library);
    }
    // Nothing after the refusal: no allocation, and no withdrawal of a record
    // the framework never took.
    const std::vector<StandinCall> calls = RecordedCalls();
    ASSERT_EQ(Ordinals(calls), (std::vector<int32_t>{644, 655}));
    EXPECT_EQ(calls[1].result, 0u);
}

TEST_F(DllShellTest, NullAllocationStillLoadsWithoutTheObject) {
    ScopedSwitch noMemory("PELINDRA_STANDIN_NULL_ALLOCATION");
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(library, "Pelindra"), nullptr);
    EXPECT_EQ(Ordinals(RecordedCalls()), (std::vector<int32_t>{644, 655, 315}));
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_EQ(Ordinals(RecordedCalls()), (std::vector<int32_t>{644, 655, 315, 699}));
}

#else

TEST_F(DllShellTest, WithoutRegistrationLoadAndUnloadLeaveTheFrameworkAlone) {
    HMODULE library = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    EXPECT_EQ(Ordinals(RecordedCalls()), std::vector<int32_t>{});
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_EQ(Ordinals(RecordedCalls()), std::vector<int32_t>{});
    EXPECT_EQ(StandinStateWord(8), StandinInitialStateWord(8));
}

#endif

// --- Resources -------------------------------------------------------------

std::vector<unsigned char> FileVersionInfo() {
    const std::wstring path = LibraryPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

TEST_F(DllShellTest, VersionRecordFixedPart) {
    std::vector<unsigned char> block = FileVersionInfo();
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileOS, 4u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileType, 2u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
    EXPECT_EQ(fixed->dwFileDateMS, 0u);
    EXPECT_EQ(fixed->dwFileDateLS, 0u);
}

TEST_F(DllShellTest, VersionRecordTranslation) {
    std::vector<unsigned char> block = FileVersionInfo();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
    EXPECT_EQ(translation[1], 1200);
}

struct VersionString {
    const wchar_t* key;
    const wchar_t* value;
};

constexpr VersionString kVersionStrings[] = {
    {L"CompanyName", L""},
    {L"FileDescription", L"MorvanePelindra DLL"},
    {L"FileVersion", L"1, 0, 0, 1"},
    {L"InternalName", L"MorvanePelindra"},
    {L"LegalCopyright", L"Copyright (C) 2026 The Morvane Pelindra developers"},
    {L"LegalTrademarks", L""},
    {L"OriginalFilename", L"MorvanePelindra.DLL"},
    {L"ProductName", L"MorvanePelindra Dynamic Link Library"},
    {L"ProductVersion", L"1, 0, 0, 1"},
    {L"OLESelfRegister", L""},
};

TEST_F(DllShellTest, VersionRecordStringValues) {
    std::vector<unsigned char> block = FileVersionInfo();
    ASSERT_FALSE(block.empty());
    for (const VersionString& expected : kVersionStrings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + expected.key;
        wchar_t* value = nullptr;
        UINT length = 0;
        const BOOL found =
            VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length);
        ASSERT_TRUE(found) << "missing key";
        const std::wstring actual = length == 0 || value == nullptr ? L"" : std::wstring(value);
        EXPECT_TRUE(actual == expected.value)
            << "key " << std::string(expected.key, expected.key + wcslen(expected.key));
    }
}

// One node of a version resource: length, value length, type, key, value and
// children, each part aligned to 4 bytes from the start of the resource.
struct VersionNode {
    std::wstring key;
    const unsigned char* children;
    const unsigned char* end;
};

size_t AlignedOffset(const unsigned char* base, const unsigned char* at) {
    return (static_cast<size_t>(at - base) + 3) & ~static_cast<size_t>(3);
}

bool ReadVersionNode(const unsigned char* base, const unsigned char* at, VersionNode* node,
                     const unsigned char** valueStart, WORD* valueLength, WORD* type) {
    WORD header[3];
    std::memcpy(header, at, sizeof header);
    if (header[0] < sizeof header) {
        return false;
    }
    node->end = at + header[0];
    *valueLength = header[1];
    *type = header[2];
    const unsigned char* key = at + sizeof header;
    node->key.clear();
    for (;; key += 2) {
        wchar_t unit = 0;
        std::memcpy(&unit, key, 2);
        if (unit == 0) {
            break;
        }
        node->key.push_back(unit);
    }
    *valueStart = base + AlignedOffset(base, key + 2);
    const size_t valueBytes = *type == 1 ? *valueLength * 2u : *valueLength;
    node->children = base + AlignedOffset(base, *valueStart + valueBytes);
    return true;
}

std::vector<std::wstring> ChildKeys(const unsigned char* base, const VersionNode& parent) {
    std::vector<std::wstring> keys;
    const unsigned char* at = parent.children;
    while (at < parent.end) {
        VersionNode child;
        const unsigned char* value = nullptr;
        WORD valueLength = 0;
        WORD type = 0;
        if (!ReadVersionNode(base, at, &child, &value, &valueLength, &type)) {
            break;
        }
        keys.push_back(child.key);
        at = base + AlignedOffset(base, child.end);
    }
    return keys;
}

const unsigned char* FindChild(const unsigned char* base, const VersionNode& parent,
                               const wchar_t* key, VersionNode* found) {
    const unsigned char* at = parent.children;
    while (at < parent.end) {
        const unsigned char* value = nullptr;
        WORD valueLength = 0;
        WORD type = 0;
        if (!ReadVersionNode(base, at, found, &value, &valueLength, &type)) {
            return nullptr;
        }
        if (found->key == key) {
            return at;
        }
        at = base + AlignedOffset(base, found->end);
    }
    return nullptr;
}

TEST_F(DllShellTest, VersionRecordKeysComeInTheirOrder) {
    // The raw resource as stored in the file, not the copy the version API
    // makes, so the order is the one written.
    HMODULE data = LoadLibraryExW(LibraryPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    HRSRC resource = FindResourceW(data, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(resource, nullptr);
    const auto* base =
        static_cast<const unsigned char*>(LockResource(LoadResource(data, resource)));
    ASSERT_NE(base, nullptr);

    VersionNode root;
    const unsigned char* value = nullptr;
    WORD valueLength = 0;
    WORD type = 0;
    ASSERT_TRUE(ReadVersionNode(base, base, &root, &value, &valueLength, &type));
    EXPECT_TRUE(root.key == L"VS_VERSION_INFO");
    EXPECT_EQ(valueLength, sizeof(VS_FIXEDFILEINFO));
    EXPECT_TRUE(ChildKeys(base, root) ==
                (std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}));

    VersionNode stringFileInfo;
    ASSERT_NE(FindChild(base, root, L"StringFileInfo", &stringFileInfo), nullptr);
    EXPECT_TRUE(ChildKeys(base, stringFileInfo) == std::vector<std::wstring>{L"040904B0"});
    VersionNode table;
    ASSERT_NE(FindChild(base, stringFileInfo, L"040904B0", &table), nullptr);
    std::vector<std::wstring> expectedKeys;
    for (const VersionString& expected : kVersionStrings) {
        expectedKeys.push_back(expected.key);
    }
    EXPECT_TRUE(ChildKeys(base, table) == expectedKeys);
    FreeLibrary(data);
}

BOOL CALLBACK CollectResourceName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

TEST_F(DllShellTest, StringTableHoldsOnlyEntry101) {
    HMODULE data = LoadLibraryExW(LibraryPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    wchar_t text[128] = {};
    ASSERT_GT(LoadStringW(data, 101, text, 128), 0);
    EXPECT_TRUE(std::wstring(text) == L"Windows sockets initialization failed.");

    // Strings live in blocks of sixteen; 101 is entry 5 of block 7. No other
    // block exists and no other entry of that block holds anything.
    std::vector<ULONG_PTR> blocks;
    EnumResourceNamesW(data, MAKEINTRESOURCEW(6), CollectResourceName,
                       reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(blocks, std::vector<ULONG_PTR>{7});
    for (UINT id = 96; id < 112; ++id) {
        if (id != 101) {
            EXPECT_EQ(LoadStringW(data, id, text, 128), 0) << "string " << id;
        }
    }
    FreeLibrary(data);
}

TEST_F(DllShellTest, CarriesAnEmptyTypeLibraryNamedMorvanePelindraW) {
    HMODULE data = LoadLibraryExW(LibraryPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    EXPECT_NE(FindResourceW(data, MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
    FreeLibrary(data);

    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(LibraryPath().c_str(), REGKIND_NONE, &library), S_OK);
    EXPECT_EQ(library->GetTypeInfoCount(), 0u);
    BSTR name = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(std::wstring(name) == L"MorvanePelindraW");
    SysFreeString(name);
    library->Release();
}

} // namespace
