// The registry calls through which keys are created, opened and deleted.
// A 64-bit process shows no difference between registry views, so white-box
// tests replace this table to see the access masks the kernel asks for. The
// table is part of the static library only; the DLL exports nothing of it.
#pragma once
#include <windows.h>
#include <shlwapi.h>

namespace orv {

struct RegistryApi {
    decltype(&::RegCreateKeyExW) pfnCreateKeyEx;
    decltype(&::RegOpenKeyExW) pfnOpenKeyEx;
    decltype(&::RegDeleteKeyW) pfnDeleteKey;
    decltype(&::SHDeleteKeyW) pfnSHDeleteKey;
};

// The table in use; it starts out as the system's functions.
RegistryApi& RegistryCalls();
// The system's functions, for putting the table back.
const RegistryApi& SystemRegistryCalls();

}  // namespace orv
