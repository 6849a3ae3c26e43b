// Self-registration of the kernel class and its type library.
#pragma once
#include <windows.h>

namespace orv {

// Writes the class's keys under HKEY_CLASSES_ROOT (module path of the kernel
// DLL) and registers the type library resource 1. First failing HRESULT, else S_OK.
HRESULT RegisterServer();
// Removes the keys in reverse order (the class key as a whole; HKCR\CLSID
// itself stays) and unregisters the type library.
HRESULT UnregisterServer();

}  // namespace orv
