// Test helper standing in for the Windows display control panel, which Wine does not have:
// rundll32 calls InstallScreenSaverW with the command line it was given; every call is appended,
// UTF-16, one line each, to C:\deskcpl-calls.txt for the test to read.

#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) void WINAPI InstallScreenSaverW(HWND, HINSTANCE, LPWSTR line, int) {
    HANDLE file = CreateFileW(L"C:\\deskcpl-calls.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    const wchar_t* text = line ? line : L"";
    WriteFile(file, text, static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t)), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}
