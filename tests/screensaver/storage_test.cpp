// Local storage against the real Win32 file calls, each test in a fresh folder with a non-ASCII
// name, as a user profile such as "Zoë" gives.

#include "screensaver.h"

#include "importpatch.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <initguid.h> // defines FOLDERID_LocalAppData here instead of needing libuuid
#include <knownfolders.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string tooLarge = "The file could not be read, or exceeds 30 MB.";
const std::string unfinished = "Could not finish saving. Your previous collection is unchanged.";

// The helpers use Win32 directly, so they share no code with the functions they check.
void writeBytes(const fs::path& file, const std::string& bytes) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("test: cannot create a file");
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    if (!wrote || written != bytes.size()) throw std::runtime_error("test: cannot write a file");
}

std::string bytesOf(const fs::path& file) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "(no file)";
    LARGE_INTEGER size{};
    GetFileSizeEx(handle, &size);
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ::ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(handle);
    bytes.resize(read);
    return bytes;
}

// The names in a folder, sorted, to show that nothing was left behind.
std::vector<std::wstring> entriesOf(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path temporaryOf(const fs::path& target) {
    return target.native() + L".tmp-" + std::to_wstring(GetCurrentProcessId());
}

// Held as another program would: deleting is not shared, so no move can replace the file.
HANDLE holdOpen(const fs::path& file, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("test: cannot open a file");
    return handle;
}

template <typename Action>
std::string failureOf(Action action) {
    try {
        action();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(nothing raised)";
}

// The program's import entries for two kernel32 calls: pointed at failing stand-ins for one save.
extern "C" void* importedWriteFile __asm__("__imp_WriteFile");
extern "C" void* importedFlushFileBuffers __asm__("__imp_FlushFileBuffers");
extern "C" void* importedMoveFileExW __asm__("__imp_MoveFileExW");

BOOL WINAPI failingWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI shortWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED at) {
    static const auto real = reinterpret_cast<decltype(&WriteFile)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WriteFile")));
    return real(file, bytes, size > 0 ? size - 1 : 0, written, at);
}

BOOL WINAPI failingFlush(HANDLE) {
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
}

// A replacing move that fails with a chosen error a number of times before it moves for real, and
// notes when each attempt came.
struct RefusedMoves {
    DWORD error = 0;
    int refusals = 0;
    std::vector<ULONGLONG> attempts;
};
RefusedMoves refusedMoves;

BOOL WINAPI refusingMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    static const auto real = reinterpret_cast<decltype(&MoveFileExW)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "MoveFileExW")));
    refusedMoves.attempts.push_back(GetTickCount64());
    if (static_cast<int>(refusedMoves.attempts.size()) > refusedMoves.refusals) return real(from, to, flags);
    SetLastError(refusedMoves.error);
    return FALSE;
}

class StorageFolder : public ::testing::Test {
protected:
    void SetUp() override {
        static int count = 0;
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        folder = fs::path(temp) / (L"Zoë Ελληνικά 中文 " + std::to_wstring(GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(++count));
        fs::remove_all(folder);
        fs::create_directory(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
};

} // namespace

// Inside a namespace of their own, so the suite name ReadFile is the fixture, not the Win32 call.
namespace storage {

class ReadFile : public StorageFolder {};
class AtomicSave : public StorageFolder {};
class ReducedMotion : public StorageFolder {};
class DataFolder : public StorageFolder {};

// ---- readFile --------------------------------------------------------------------------------

TEST_F(ReadFile, ReadsUpToThirtyMegabytesWholeAndRefusesOneByteMore) {
    std::string bound(wishwell::maximumBackupBytes, '\0');
    for (std::size_t i = 0; i < bound.size(); ++i) bound[i] = static_cast<char>(i * 7 + i / 4096);
    const fs::path file = folder / L"backup Zoë.json";
    writeBytes(file, bound);
    EXPECT_TRUE(readFile(file) == bound); // not EXPECT_EQ: a failure would print 30 MB

    writeBytes(file, bound + "x");
    EXPECT_EQ(failureOf([&] { readFile(file); }), tooLarge);
}

TEST_F(ReadFile, MissingFileAndFolderGiveTheSameTextAsTooLarge) {
    fs::create_directory(folder / L"文件夹.json");
    for (const fs::path& path : {folder / L"missing.json", folder / L"文件夹.json",
                                 folder / L"no folder" / L"missing.json"}) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(failureOf([&] { readFile(path); }), tooLarge);
    }
}

TEST_F(ReadFile, ReturnsTheBytesExactlyAsStored) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"byte order mark kept", "\xEF\xBB\xBF{\"intentions\":[]}"},
        {"line ends and zero bytes unchanged", std::string("a\r\nb\n\0c\r", 8)},
        {"bytes that are not UTF-8", "\xFF\xFE\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = folder / L"Ελληνικά.json";
        writeBytes(file, c.bytes);
        EXPECT_EQ(readFile(file), c.bytes);
    }
}

TEST_F(ReadFile, FileHeldExclusivelyByAnotherHandleCannotBeOpened) {
    const fs::path file = folder / L"intentions.json";
    writeBytes(file, "{}");
    HANDLE exclusive = holdOpen(file, 0);
    const std::string failure = failureOf([&] { readFile(file); });
    CloseHandle(exclusive);
    EXPECT_EQ(failure, "Could not open the file.");
    EXPECT_EQ(readFile(file), "{}"); // and nothing was left open by the failure
}

// Windows refuses to read bytes that another handle has locked; Wine does not enforce such locks.
TEST_F(ReadFile, LockedBytesAreReportedAsAnIncompleteRead) {
    ONLY_ON_WINDOWS("Wine lets another handle read bytes that one handle has locked");
    const fs::path file = folder / L"intentions.json";
    writeBytes(file, "{\"intentions\":[]}");
    HANDLE holder = holdOpen(file);
    OVERLAPPED start{};
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, 100, 0, &start));
    const bool enforced = bytesOf(file).empty();
    const std::string failure = failureOf([&] { readFile(file); });
    UnlockFileEx(holder, 0, 100, 0, &start);
    CloseHandle(holder);
    EXPECT_TRUE(enforced) << "the lock did not keep another handle from reading";
    EXPECT_EQ(failure, "Could not read the entire file.");
}

// Linux reports 4096 bytes for a kernel status file that holds only a few; Wine passes both on.
TEST_F(ReadFile, FileYieldingFewerBytesThanItsSizeIsAnIncompleteRead) {
    ONLY_UNDER_WINE("it reads a Linux kernel status file through Wine's drive Z:");
    const fs::path status = L"Z:\\sys\\devices\\system\\cpu\\online";
    std::error_code failure;
    if (fs::file_size(status, failure) <= bytesOf(status).size())
        GTEST_SKIP() << "this kernel reports the status file's true size";
    EXPECT_EQ(failureOf([&] { readFile(status); }), "Could not read the entire file.");
}

// ---- atomicSave ------------------------------------------------------------------------------

TEST_F(AtomicSave, CreatesMissingFoldersAndLeavesOnlyTheTarget) {
    for (const fs::path& target : {folder / L"Wishwell Lumiary" / L"intentions.json",
                                   folder / L"Zoë" / L"Ελληνικά" / L"中文" / L"preferences.json"}) {
        SCOPED_TRACE(target.string());
        atomicSave(target, "{\"reducedMotion\":true}");
        EXPECT_EQ(bytesOf(target), "{\"reducedMotion\":true}");
        EXPECT_EQ(entriesOf(target.parent_path()), std::vector<std::wstring>{target.filename()});
    }
}

// The whole target is replaced, and a leftover temporary file is overwritten, not appended to.
TEST_F(AtomicSave, ReplacesTheWholeTarget) {
    const fs::path target = folder / L"intentions.json";
    writeBytes(target, std::string(5000, 'o'));
    writeBytes(temporaryOf(target), "left behind by an earlier process with this id");
    atomicSave(target, "new");
    EXPECT_EQ(bytesOf(target), "new");
    atomicSave(target, "");
    EXPECT_EQ(bytesOf(target), ""); // an empty file, not a missing one
    EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"intentions.json"});
}

// A virus scanner or the search indexer lets go of the file after a moment; the save rides it out.
TEST_F(AtomicSave, TargetReleasedAfterAMomentIsReplaced) {
    const fs::path target = folder / L"intentions.json";
    writeBytes(target, "previous");
    HANDLE holder = holdOpen(target);
    HANDLE timer = nullptr;
    auto release = [](void* handle, BOOLEAN) { CloseHandle(static_cast<HANDLE>(handle)); };
    ASSERT_TRUE(
        CreateTimerQueueTimer(&timer, nullptr, release, holder, 300, 0, WT_EXECUTEONLYONCE));
    const std::string failure = failureOf([&] { atomicSave(target, "next"); });
    DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE); // waits until it has closed
    EXPECT_EQ(failure, "(nothing raised)");
    EXPECT_EQ(bytesOf(target), "next");
    EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"intentions.json"});
}

// Access denied and sharing violations are what a scanner's open handle gives: the move is tried
// again for one second. Any other failure is final at once.
TEST_F(AtomicSave, OnlyTransientMoveFailuresAreTriedAgainForOneSecond) {
    const int always = 1 << 30;
    const struct {
        const char* name;
        DWORD error;
        int refusals;
        const char* failure;
        const char* stored;
    } cases[] = {
        {"sharing violation, then the move", ERROR_SHARING_VIOLATION, 3, "(nothing raised)", "next"},
        {"access denied, then the move", ERROR_ACCESS_DENIED, 3, "(nothing raised)", "next"},
        {"access denied throughout", ERROR_ACCESS_DENIED, always, unfinished.c_str(), "previous"},
        {"sharing violation throughout", ERROR_SHARING_VIOLATION, always, unfinished.c_str(), "previous"},
        {"disk full", ERROR_DISK_FULL, always, unfinished.c_str(), "previous"},
        {"path not found", ERROR_PATH_NOT_FOUND, always, unfinished.c_str(), "previous"},
    };
    const fs::path target = folder / L"intentions.json";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(target, "previous");
        refusedMoves = RefusedMoves{c.error, c.refusals, {}};
        std::string failure;
        {
            const ImportPatch patch(importedMoveFileExW, reinterpret_cast<void*>(&refusingMove));
            failure = failureOf([&] { atomicSave(target, "next"); });
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(bytesOf(target), c.stored);
        EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"intentions.json"});
        const std::vector<ULONGLONG>& attempts = refusedMoves.attempts;
        ASSERT_FALSE(attempts.empty());
        const bool transient = c.error == ERROR_ACCESS_DENIED || c.error == ERROR_SHARING_VIOLATION;
        if (!transient) {
            EXPECT_EQ(attempts.size(), 1u);
        } else if (c.refusals != always) {
            EXPECT_EQ(attempts.size(), static_cast<std::size_t>(c.refusals + 1));
        } else {
            // The last attempt comes when the second is over; the tick count moves in steps of
            // up to 16 ms, and a busy machine may wake the sleeper late.
            const ULONGLONG span = attempts.back() - attempts.front();
            EXPECT_GE(span, 980u);
            EXPECT_LT(span, 2000u);
            EXPECT_GE(attempts.size(), 10u); // short pauses first, then at most 100 ms apart
            for (std::size_t i = 1; i < attempts.size(); ++i) EXPECT_LE(attempts[i] - attempts[i - 1], 400u);
        }
    }
}

TEST_F(AtomicSave, ReadOnlyTargetKeepsItsBytes) {
    ONLY_ON_WINDOWS("Wine replaces a read-only target; Windows refuses");
    const fs::path target = folder / L"intentions.json";
    writeBytes(target, "previous");
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string failure = failureOf([&] { atomicSave(target, "next"); });
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(failure, unfinished);
    EXPECT_EQ(bytesOf(target), "previous");
    EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"intentions.json"});
}

TEST_F(AtomicSave, PlainFileWhereTheFolderShouldBeRaisesTheLibraryError) {
    writeBytes(folder / L"Wishwell Lumiary", "a file, not a folder");
    const fs::path target = folder / L"Wishwell Lumiary" / L"数据" / L"intentions.json";
    EXPECT_THROW(atomicSave(target, "{}"), fs::filesystem_error);
    EXPECT_EQ(bytesOf(folder / L"Wishwell Lumiary"), "a file, not a folder");
    EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"Wishwell Lumiary"});
}

TEST_F(AtomicSave, TemporaryFileThatCannotBeCreatedLeavesTheTarget) {
    const fs::path target = folder / L"intentions.json";
    writeBytes(target, "previous");
    fs::create_directory(temporaryOf(target));
    EXPECT_EQ(failureOf([&] { atomicSave(target, "next"); }),
              "Could not save your screensaver settings.");
    EXPECT_EQ(bytesOf(target), "previous");
    EXPECT_TRUE(fs::is_empty(temporaryOf(target)));
}

// A target held open past the retries, or a failed write or flush: the target keeps its bytes.
TEST_F(AtomicSave, FailedSaveRemovesTheTemporaryFileAndKeepsTheTarget) {
    void* unpatched = nullptr;
    const struct {
        const char* name;
        void*& slot;
        void* replacement;
    } cases[] = {
        {"target held open throughout", unpatched, nullptr},
        {"write fails", importedWriteFile, reinterpret_cast<void*>(&failingWrite)},
        {"write is one byte short", importedWriteFile, reinterpret_cast<void*>(&shortWrite)},
        {"flush fails", importedFlushFileBuffers, reinterpret_cast<void*>(&failingFlush)},
    };
    const fs::path target = folder / L"intentions.json";
    writeBytes(target, "previous");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string failure;
        if (c.replacement == nullptr) {
            HANDLE holder = holdOpen(target);
            failure = failureOf([&] { atomicSave(target, "next"); });
            CloseHandle(holder);
        } else {
            const ImportPatch patch(c.slot, c.replacement);
            failure = failureOf([&] { atomicSave(target, "next"); });
        }
        EXPECT_EQ(failure, unfinished);
        EXPECT_EQ(bytesOf(target), "previous");
        EXPECT_EQ(entriesOf(folder), std::vector<std::wstring>{L"intentions.json"});
    }
}

TEST_F(AtomicSave, BareFileNameIsSavedInTheCurrentFolder) {
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const std::string failure = failureOf([] { atomicSave(L"preferences.json", "{}"); });
    fs::current_path(previous);
    EXPECT_EQ(failure, "(nothing raised)");
    EXPECT_EQ(bytesOf(folder / L"preferences.json"), "{}");
}

// ---- readReducedMotion and saveReducedMotion -----------------------------------------------

TEST_F(ReducedMotion, AbsentFileOrFolderGivesTheFallback) {
    for (const bool fallback : {false, true}) {
        SCOPED_TRACE(fallback);
        EXPECT_EQ(readReducedMotion(folder, fallback), fallback);
        EXPECT_EQ(readReducedMotion(folder / L"Wishwell Lumiary", fallback), fallback);
    }
}

TEST_F(ReducedMotion, SavesTheExactDocumentAndReadsItBack) {
    const fs::path data = folder / L"Wishwell Lumiary"; // not there yet: the save creates it
    saveReducedMotion(data, true);
    EXPECT_EQ(bytesOf(data / L"preferences.json"), "{\"reducedMotion\":true}");
    EXPECT_TRUE(readReducedMotion(data, false));

    saveReducedMotion(data, false);
    EXPECT_EQ(bytesOf(data / L"preferences.json"), "{\"reducedMotion\":false}");
    EXPECT_FALSE(readReducedMotion(data, true));
    EXPECT_EQ(entriesOf(data), std::vector<std::wstring>{L"preferences.json"});
}

TEST_F(ReducedMotion, ObjectWithoutTheMemberMeansOff) {
    for (const char* text :
         {"{}", "{\"motion\":true}", "{\"settings\":{\"reducedMotion\":true}}"}) {
        SCOPED_TRACE(text);
        writeBytes(folder / L"preferences.json", text);
        EXPECT_FALSE(readReducedMotion(folder, true));
    }
    writeBytes(folder / L"preferences.json",
               "{\"theme\":\"blues\",\"reducedMotion\":true,\"n\":1}");
    EXPECT_TRUE(readReducedMotion(folder, false));
}

TEST_F(ReducedMotion, UnusableFilesGiveTheFallbackWithoutRaising) {
    const char* const texts[] = {"",
                                 "true",
                                 "[true]",
                                 "{\"reducedMotion\":\"true\"}",
                                 "{\"reducedMotion\":1}",
                                 "{\"reducedMotion\":null}",
                                 "{\"reducedMotion\":true} // on",
                                 "{\"reducedMotion\":tru",
                                 "1",
                                 "null"};
    for (const char* text : texts) {
        writeBytes(folder / L"preferences.json", text);
        for (const bool fallback : {false, true}) {
            SCOPED_TRACE(std::string(text) + (fallback ? " / fallback on" : " / fallback off"));
            bool value = !fallback;
            EXPECT_NO_THROW(value = readReducedMotion(folder, fallback));
            EXPECT_EQ(value, fallback);
        }
    }
    HANDLE exclusive = holdOpen(folder / L"preferences.json", 0);
    EXPECT_TRUE(readReducedMotion(folder, true));
    CloseHandle(exclusive);
    fs::remove(folder / L"preferences.json");
    fs::create_directory(folder / L"preferences.json");
    EXPECT_TRUE(readReducedMotion(folder, true));
}

TEST_F(ReducedMotion, FailedSaveRaisesAndKeepsTheStoredValue) {
    saveReducedMotion(folder, true);
    HANDLE holder = holdOpen(folder / L"preferences.json");
    const std::string failure = failureOf([&] { saveReducedMotion(folder, false); });
    CloseHandle(holder);
    EXPECT_EQ(failure, unfinished);
    EXPECT_EQ(bytesOf(folder / L"preferences.json"), "{\"reducedMotion\":true}");
}

// ---- dataFolder ------------------------------------------------------------------------------

// Moves the user's local application-data folder for one test through the shell-folder setting
// that Wine reads on every query (Wine lacks SHSetKnownFolderPath; never on real Windows).
class LocalAppDataRedirect {
public:
    explicit LocalAppDataRedirect(const fs::path& place) {
        const wchar_t* const folders =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
        if (RegOpenKeyExW(HKEY_CURRENT_USER, folders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_))
            return;
        wchar_t previous[1024] = {};
        DWORD size = sizeof previous;
        if (RegQueryValueExW(key_, name, nullptr, &type_, reinterpret_cast<BYTE*>(previous), &size))
            return;
        previous_.assign(reinterpret_cast<const BYTE*>(previous),
                         reinterpret_cast<const BYTE*>(previous) + size);
        redirected_ = set(REG_SZ, reinterpret_cast<const BYTE*>(place.c_str()),
                          (place.native().size() + 1) * sizeof(wchar_t));
    }
    ~LocalAppDataRedirect() {
        if (redirected_) set(type_, previous_.data(), previous_.size());
        if (key_) RegCloseKey(key_);
    }
    LocalAppDataRedirect(const LocalAppDataRedirect&) = delete;
    LocalAppDataRedirect& operator=(const LocalAppDataRedirect&) = delete;
    bool redirected() const { return redirected_; }

private:
    bool set(DWORD type, const BYTE* value, std::size_t size) {
        return RegSetValueExW(key_, name, 0, type, value, static_cast<DWORD>(size)) ==
               ERROR_SUCCESS;
    }
    static constexpr const wchar_t* name = L"Local AppData";
    HKEY key_ = nullptr;
    DWORD type_ = 0;
    std::vector<BYTE> previous_;
    bool redirected_ = false;
};

TEST_F(DataFolder, LiesInTheLocalApplicationDataFolder) {
    wchar_t local[MAX_PATH + 1] = {};
    ASSERT_NE(GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH + 1), 0u);
    const fs::path data = dataFolder();
    EXPECT_EQ(data.filename(), L"Wishwell Lumiary");
    EXPECT_TRUE(fs::equivalent(data.parent_path(), local));
}

// A moved folder is followed without creating anything; a missing one is reported.
TEST_F(DataFolder, FollowsAMovedFolderAndReportsAMissingOne) {
    ONLY_UNDER_WINE("it moves the user's own folder, which only Wine's throwaway prefix may lose");
    const fs::path profile = folder / L"Zoë" / L"AppData" / L"Local";
    fs::create_directories(profile);
    {
        const LocalAppDataRedirect redirect(profile);
        ASSERT_TRUE(redirect.redirected());
        EXPECT_EQ(dataFolder(), profile / L"Wishwell Lumiary");
        EXPECT_TRUE(fs::is_empty(profile));
    }
    const LocalAppDataRedirect redirect(folder / L"gone" / L"Local");
    ASSERT_TRUE(redirect.redirected());
    EXPECT_EQ(failureOf([] { dataFolder(); }), "Windows could not find the local settings folder.");
    EXPECT_FALSE(fs::exists(folder / L"gone"));
}

} // namespace storage
