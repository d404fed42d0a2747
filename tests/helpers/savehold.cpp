// Test helper: the program's own atomicSave, held still at one moment of the save so that a test
// can kill the process there, as a power cut or a killed task would.
//   savehold before TARGET CONTENT MARKER  the temporary file is written and flushed, the move
//                                          not yet made
//   savehold after TARGET CONTENT MARKER   the move has been made, atomicSave not yet returned
//   savehold save TARGET CONTENT [LEFTOVER] an ordinary save; a leftover temporary file is first
//                                          given this process's id, as when Windows reuses the id
//                                          of the killed process
// CONTENT is a file holding the new bytes. At the held moment the helper writes its process id
// into MARKER and sleeps until it is killed. Exit codes: 0 saved, 2 usage, 3 the save raised (its
// text on standard error), 4 the save returned although it was to be held.
// The hold replaces the helper's own import of MoveFileExW; the shipped screensaver has no such
// hook.

#include "screensaver.h"

#include <cstdio>
#include <exception>
#include <string>

extern "C" void* importedMoveFileExW __asm__("__imp_MoveFileExW");

namespace {

std::wstring marker;

decltype(&MoveFileExW) realMove() {
    static const auto real = reinterpret_cast<decltype(&MoveFileExW)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "MoveFileExW")));
    return real;
}

// The marker is written whole under another name and then renamed, so a test that sees it can
// read the id at once.
void holdForever() {
    const std::string id = std::to_string(GetCurrentProcessId());
    const std::wstring partial = marker + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
        CloseHandle(file);
        realMove()(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    for (;;)
        Sleep(INFINITE);
}

BOOL WINAPI holdBeforeMove(LPCWSTR, LPCWSTR, DWORD) {
    holdForever();
    return FALSE;
}

BOOL WINAPI holdAfterMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (!realMove()(from, to, flags)) return FALSE; // a failed move is the save's own failure
    holdForever();
    return TRUE;
}

void replaceMove(void* replacement) {
    DWORD protection = 0;
    VirtualProtect(&importedMoveFileExW, sizeof(void*), PAGE_READWRITE, &protection);
    importedMoveFileExW = replacement;
    VirtualProtect(&importedMoveFileExW, sizeof(void*), protection, &protection);
}

int usage() {
    std::fputs("usage: savehold before|after TARGET CONTENT MARKER\n"
               "       savehold save TARGET CONTENT [LEFTOVER]\n",
               stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return usage();
    const std::wstring mode = argv[1];
    const std::filesystem::path target = argv[2];
    try {
        const std::string bytes = readFile(argv[3]);
        if (mode == L"save") {
            if (argc > 5) return usage();
            if (argc == 5) {
                const std::wstring own =
                    target.native() + L".tmp-" + std::to_wstring(GetCurrentProcessId());
                if (!realMove()(argv[4], own.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                    std::fputs("The leftover temporary file could not be renamed.\n", stderr);
                    return 3;
                }
            }
            atomicSave(target, bytes);
            return 0;
        }
        if (argc != 5 || (mode != L"before" && mode != L"after")) return usage();
        marker = argv[4];
        replaceMove(reinterpret_cast<void*>(mode == L"before" ? &holdBeforeMove : &holdAfterMove));
        atomicSave(target, bytes);
        return 4;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 3;
    }
}
