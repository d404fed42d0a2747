// Wine or Windows itself: a test of a behaviour that only one of the two shows skips on the other
// and says why, so the same executable passes on both.

#pragma once

#include <windows.h>

#include <gtest/gtest.h>

// Wine's ntdll exports wine_get_version; Windows' never has.
inline bool underWine() {
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

#define ONLY_UNDER_WINE(why)                                                                       \
    do {                                                                                           \
        if (!underWine()) GTEST_SKIP() << "Only under Wine: " << why;                              \
    } while (false)

#define ONLY_ON_WINDOWS(why)                                                                       \
    do {                                                                                           \
        if (underWine()) GTEST_SKIP() << "Only on Windows: " << why;                               \
    } while (false)
