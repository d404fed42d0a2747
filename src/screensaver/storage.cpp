// Local storage: the data folder, bounded whole-file reading, atomic replacement of a file, and
// the reduced-motion preference kept in "preferences.json".

#include "screensaver.h"

#include "preferences.h"

#include <shlobj.h>
// The known-folder ids live in libuuid, which the program does not link: define the one it uses
// here instead (the definition is selectany, so a second one elsewhere does no harm).
#include <initguid.h>
#include <knownfolders.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace {

// Virus scanners and the search indexer open a freshly written file for a moment, which makes the
// replacing move fail with access denied or a sharing violation. Trying again for about a second
// rides that out; a target that stays locked (or, on Windows, is read-only) fails afterwards.
const ULONGLONG moveRetryMilliseconds = 1000;
const DWORD longestMovePause = 100;

bool isTransientMoveFailure(DWORD failure) {
    return failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION;
}

// Windows replaces a target that another handle holds open with delete sharing, and refuses a
// read-only target; Wine refuses any open target, whatever its sharing, and replaces a read-only
// one. Both report the refusal as access denied.
bool replaceTarget(const std::wstring& temporary, const std::wstring& target) {
    const ULONGLONG deadline = GetTickCount64() + moveRetryMilliseconds;
    DWORD pause = 10;
    for (;;) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (!isTransientMoveFailure(GetLastError())) return false;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
        pause = std::min(pause * 2, longestMovePause);
    }
}

// One write of the whole content, then a flush: only bytes that reached the disk may replace the
// target. A content over 4 GiB would be cut by the 32-bit count and fails the length comparison.
bool writeDurably(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return wrote && written == bytes.size() && FlushFileBuffers(file);
}

} // namespace

std::filesystem::path dataFolder() {
    PWSTR found = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &found);
    // The shell may hand out a string even when it fails; it is the caller's to free either way.
    const owners::TaskString owned(found);
    if (FAILED(result) || !found)
        throw std::runtime_error("Windows could not find the local settings folder.");
    return std::filesystem::path(found) / L"Wishwell Lumiary";
}

std::string readFile(const std::filesystem::path& file) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(file, failure);
    if (failure || size > wishwell::maximumBackupBytes)
        throw std::runtime_error("The file could not be read, or exceeds 30 MB.");

    std::ifstream stream(file, std::ios::binary);
    if (!stream) throw std::runtime_error("Could not open the file.");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (size == 0) return bytes;
    stream.read(bytes.data(), static_cast<std::streamsize>(size));
    if (!stream) throw std::runtime_error("Could not read the entire file.");
    return bytes;
}

void atomicSave(const std::filesystem::path& target, const std::string& bytes) {
    // A bare file name lies in the current folder, which exists; the library refuses an empty path.
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());

    const std::wstring temporary =
        target.native() + L".tmp-" + std::to_wstring(GetCurrentProcessId());
    HANDLE created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE)
        throw std::runtime_error("Could not save your screensaver settings.");

    owners::File file(created);
    const bool durable = writeDurably(file.get(), bytes);
    file.reset(); // the move fails while the temporary file is still open
    if (durable && replaceTarget(temporary, target.native())) return;

    DeleteFileW(temporary.c_str());
    throw std::runtime_error("Could not finish saving. Your previous collection is unchanged.");
}

bool readReducedMotion(const std::filesystem::path& folder, bool fallback) {
    // An unusable preference must never stop the screensaver: it simply keeps its default.
    try {
        return wishwell::reducedMotionFrom(readFile(folder / L"preferences.json"));
    } catch (...) {
        return fallback;
    }
}

void saveReducedMotion(const std::filesystem::path& folder, bool value) {
    atomicSave(folder / L"preferences.json", wishwell::preferencesDocument(value));
}
