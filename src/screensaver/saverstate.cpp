// What decides whether and when Windows starts this screensaver, read afresh each time from the
// registry, the system's parameters, the power scheme and the files that the settings name.
// Nothing here writes a setting.

#include "screensaver.h"

#include <powrprof.h>

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace {

inline void closeKey(HKEY key) {
    RegCloseKey(key);
}
using RegistryKey = owners::Owner<std::remove_pointer_t<HKEY>, &closeKey>;
inline void freeLibrary(HMODULE module) {
    FreeLibrary(module);
}
using Library = owners::Owner<std::remove_pointer_t<HMODULE>, &freeLibrary>;
inline void freeLocal(GUID* memory) {
    LocalFree(memory);
}
using LocalGuid = owners::Owner<GUID, &freeLocal>;

// winnt.h only declares these; their definitions live in a library the program does not link.
constexpr GUID videoSubgroup = {
    0x7516b95f, 0xf776, 0x4464, {0x8c, 0x53, 0x06, 0x16, 0x7f, 0x40, 0xcc, 0x99}};
constexpr GUID videoPowerDownTimeout = {
    0x3c0bc021, 0xc8a8, 0x4e07, {0xa9, 0x73, 0x6b, 0x14, 0xcb, 0xcb, 0x2b, 0x7e}};

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Attributes only, and every kind of sharing: this opens a running executable too (the installed
// copy while Windows previews it), and changes nothing about the file.
std::optional<FileIdentity> identify(const std::wstring& path) {
    if (path.empty()) return {};
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const owners::File file(handle);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) return {};
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                        information.nFileIndexLow};
}

std::wstring expanded(const std::wstring& text) {
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0) return text;
    std::wstring result(size, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), result.data(), size);
    if (written == 0 || written > size) return text;
    result.resize(written - 1);
    return result;
}

// A string value, with its environment variables expanded where its type asks for it: empty when
// the key or the value is not there, and nothing at all when the registry would not say.
std::optional<std::wstring> readString(HKEY root, const wchar_t* path, const wchar_t* name) {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return std::wstring();
    if (status != ERROR_SUCCESS) return {};
    const RegistryKey key(opened);
    DWORD type = 0;
    DWORD bytes = 0;
    status = RegQueryValueExW(opened, name, nullptr, &type, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return std::wstring();
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    // A stored string need not end in its terminator; the spare unit keeps one.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS) {
        return {};
    }
    text.resize(text.find(L'\0'));
    return type == REG_EXPAND_SZ ? expanded(text) : text;
}

std::optional<std::uint64_t> fileVersion(const std::filesystem::path& file) {
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &unused);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return {};
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(*fixed)) {
        return {};
    }
    return std::uint64_t{fixed->dwFileVersionMS} << 32 | fixed->dwFileVersionLS;
}

template <typename Function> Function* entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The active power scheme's display time-out for the power the PC runs on now. powrprof.dll is
// loaded only here, from the system folder alone. Wine has no power schemes and answers nothing.
std::optional<std::uint32_t> displayTimeout() {
    SYSTEM_POWER_STATUS power{};
    if (!GetSystemPowerStatus(&power) || power.ACLineStatus > 1) return {};
    const Library library(LoadLibraryExW(L"powrprof.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!library) return {};
    const auto activeScheme =
        entryPoint<decltype(PowerGetActiveScheme)>(library.get(), "PowerGetActiveScheme");
    // Both readers take the same arguments.
    const auto readIndex = entryPoint<decltype(PowerReadACValueIndex)>(
        library.get(), power.ACLineStatus == 1 ? "PowerReadACValueIndex" : "PowerReadDCValueIndex");
    if (!activeScheme || !readIndex) return {};
    GUID* scheme = nullptr;
    if (activeScheme(nullptr, &scheme) != ERROR_SUCCESS || !scheme) return {};
    const LocalGuid owned(scheme);
    DWORD seconds = 0;
    if (readIndex(nullptr, scheme, &videoSubgroup, &videoPowerDownTimeout, &seconds) !=
        ERROR_SUCCESS) {
        return {};
    }
    return seconds;
}

std::filesystem::path programFile() {
    std::vector<wchar_t> module(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length == 0 || length >= module.size()) return {};
    return std::wstring(module.data(), length);
}

} // namespace

wishwell::Choice chosenFile(const std::wstring& named, const std::filesystem::path& program,
                            const std::filesystem::path& installed) {
    using wishwell::Choice;
    if (named.empty()) return Choice::none;
    // Windows often keeps the short 8.3 form of the path, in any letter case: only the files
    // themselves tell whether two names are one.
    const std::optional<FileIdentity> file = identify(named);
    if (!file) return Choice::another;
    if (file == identify(installed.native())) return Choice::installedCopy;
    if (file == identify(program.native())) return Choice::thisProgram;
    return Choice::another;
}

wishwell::SaverFacts readSaverFacts() {
    wishwell::SaverFacts facts;
    const std::filesystem::path program = programFile();
    const std::filesystem::path installed = directory / L"Wishwell Lumiary.scr";

    // The machine's policy comes before the user's.
    const wchar_t* const policies =
        L"Software\\Policies\\Microsoft\\Windows\\Control Panel\\Desktop";
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        if (readString(root, policies, L"ScreenSaveActive") == L"0") facts.policyOff = true;
        const std::optional<std::wstring> named = readString(root, policies, L"SCRNSAVE.EXE");
        if (!facts.policyChoice && named && !named->empty())
            facts.policyChoice = chosenFile(*named, program, installed);
    }
    if (const auto named =
            readString(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"SCRNSAVE.EXE"))
        facts.userChoice = chosenFile(*named, program, installed);

    facts.installedVersion = fileVersion(installed);
    if (!program.empty()) facts.ownVersion = fileVersion(program);
    UINT seconds = 0;
    if (SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0))
        facts.saverTimeout = seconds;
    facts.displayTimeout = displayTimeout();
    return facts;
}
