#include "screensaver.h"

LRESULT CALLBACK saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
        closeViews();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
