// Seams of the file engine for what no test can make happen for real: memory
// that runs out. Null members mean the real behaviour. Only white-box tests
// set them; nothing here is exported.
#pragma once
#include <windows.h>

namespace orv::files {

struct FileEngineSeams {
    // Asked by CWexKrFile::CreateInstance before it allocates: true makes the
    // allocation fail.
    bool (*pfnObjectAllocationFails)() = nullptr;
    // Allocates the check-info array of InstallFile instead of CoTaskMemAlloc.
    void* (*pfnAllocateCheckInfo)(SIZE_T cb) = nullptr;
};

FileEngineSeams& Seams();

}  // namespace orv::files
