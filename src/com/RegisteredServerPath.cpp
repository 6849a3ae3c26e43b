// GetRegisteredServerPath of local and in-process servers: where the system
// has a coclass of the server's type library registered, when the file
// registered there has the server's own file name.
#include <shlwapi.h>

#include <string>

#include "files/FileModel.h"
#include "files/ModuleImage.h"
#include "platform/Raii.h"
#include "platform/TypeLibraryLock.h"
#include "platform/WexUt.h"

namespace {

// The registered path of the first coclass whose server key (under
// HKEY_CLASSES_ROOT\CLSID\{...}) names a file of ownPath's file name: S_OK
// and path. S_FALSE when the file holds no type library or no coclass is
// registered to a file of that name.
HRESULT FindRegisteredServer(LPCWSTR ownPath, LPCWSTR serverKey, std::wstring& path) {
    orv::TypeLibraryLock lock;
    orv::ComPtr<ITypeLib> typeLib;
    // Only read: REGKIND_NONE keeps the look-up free of registry writes.
    if (FAILED(LoadTypeLibrary(ownPath, typeLib.Put())) || !typeLib) return S_FALSE;
    const UINT count = typeLib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        orv::ComPtr<ITypeInfo> info;
        if (FAILED(typeLib->GetTypeInfo(i, info.Put())) || !info) continue;
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes)) || !attributes) continue;
        const bool coclass = attributes->typekind == TKIND_COCLASS;
        const GUID clsid = attributes->guid;
        info->ReleaseTypeAttr(attributes);
        if (!coclass) continue;

        WCHAR text[39];
        if (!StringFromGUID2(clsid, text, 39)) continue;
        const std::wstring key = std::wstring(L"CLSID\\") + text + serverKey;
        WCHAR value[MAX_PATH + 1] = {};
        DWORD type = 0, size = MAX_PATH * sizeof(WCHAR);
        if (SHGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &type, value, &size) != ERROR_SUCCESS) continue;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        value[size / sizeof(WCHAR) < MAX_PATH ? size / sizeof(WCHAR) : MAX_PATH] = 0;
        // Only the file name decides: the same name registered in another folder counts.
        if (CWexPath::PathIsEqual(PathFindFileNameW(value), PathFindFileNameW(ownPath))) {
            path = value;
            return S_OK;
        }
    }
    return S_FALSE;
}

}  // namespace

HRESULT CWexKrLocalServerFile::GetRegisteredServerPath(std::wstring& strPath) {
    return FindRegisteredServer(m_szPath, L"\\LocalServer32", strPath);
}

HRESULT CWexKrInProcServerFile::GetRegisteredServerPath(std::wstring& strPath) {
    return FindRegisteredServer(m_szPath, L"\\InProcServer32", strPath);
}
