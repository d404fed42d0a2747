// Test helper: the program itself, started as Windows' Screen Saver Settings dialog starts it
// ("/c:HWND"), dying when "Import intention backup…" is pressed, so that a test can see what a
// dead settings process leaves of its owner. WISHWELL_CRASH in the environment says how it dies:
// "fault" writes through a null pointer, "throw" throws a C++ exception that nothing catches.
//   settingscrash /c:HWND
// The crash replaces the helper's own import of GetOpenFileNameW; the shipped screensaver has no
// such hook.

#include "screensaver.h"

#include <commdlg.h>

#include <string>

extern "C" void* importedGetOpenFileNameW __asm__("__imp_GetOpenFileNameW");

namespace {

BOOL WINAPI fault(OPENFILENAMEW*) {
    *static_cast<volatile int*>(nullptr) = 0;
    return FALSE;
}

// Not a std::exception, so no guard of the program takes it.
BOOL WINAPI throwNothingCatches(OPENFILENAMEW*) {
    throw 23;
}

void replaceDialog(void* replacement) {
    DWORD protection = 0;
    VirtualProtect(&importedGetOpenFileNameW, sizeof(void*), PAGE_READWRITE, &protection);
    importedGetOpenFileNameW = replacement;
    VirtualProtect(&importedGetOpenFileNameW, sizeof(void*), protection, &protection);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t how[16] = {};
    GetEnvironmentVariableW(L"WISHWELL_CRASH", how, 16);
    const std::wstring way = how;
    if (argc != 2 || (way != L"fault" && way != L"throw")) return 2;
    replaceDialog(reinterpret_cast<void*>(way == L"fault" ? &fault : &throwNothingCatches));
    return runProgram(GetModuleHandleW(nullptr), argv[1]);
}
