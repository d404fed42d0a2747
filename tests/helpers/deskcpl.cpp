#include <windows.h>
extern "C" __declspec(dllexport) void WINAPI InstallScreenSaverW(HWND, HINSTANCE, LPWSTR, int) {}
