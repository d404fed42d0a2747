#pragma once
// Points one of the program's import entries (an "__imp_" slot) at a stand-in for as long as the
// patch lives, so that a test can make a Windows call fail or behave as Windows, not Wine, does.

#include <windows.h>

class ImportPatch {
public:
    ImportPatch(void*& slot, void* replacement) : slot_(slot), original_(slot) { set(replacement); }
    ~ImportPatch() { set(original_); }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

private:
    void set(void* value) {
        DWORD protection = 0;
        VirtualProtect(&slot_, sizeof slot_, PAGE_READWRITE, &protection);
        slot_ = value;
        VirtualProtect(&slot_, sizeof slot_, protection, &protection);
    }
    void*& slot_;
    void* original_;
};
