#include "kernel/Registrar.h"

#include <oleauto.h>
#include <shlwapi.h>
#include <string>
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "platform/Raii.h"
#include "platform/TypeLibraryLock.h"

namespace orv {
namespace {

// One key of the registration, in creation order. Keys are removed in reverse
// order: a ForceRemove key with everything below it, any other key only when
// nothing else was put under it since.
struct RegKeyEntry {
    LPCWSTR key;        // below HKEY_CLASSES_ROOT; %CLSID% is the class identifier in braces
    LPCWSTR defValue;   // default value, or null; %CLSID%, %LIBID%, %MODULE% are replaced
    LPCWSTR valueName;  // one named value, or null
    LPCWSTR valueData;
    bool forceRemove;
};

const RegKeyEntry kEntries[] = {
    {L"TqOrvwexkr.OrvInstallerKernel.1", L"TqOrvInstallerKernel Class", nullptr, nullptr, false},
    {L"TqOrvwexkr.OrvInstallerKernel.1\\CLSID", L"%CLSID%", nullptr, nullptr, false},
    {L"Orvwexkr.OrvInstallerKernel", L"OrvInstallerKernel Class", nullptr, nullptr, false},
    {L"Orvwexkr.OrvInstallerKernel\\CLSID", L"%CLSID%", nullptr, nullptr, false},
    {L"Orvwexkr.OrvInstallerKernel\\CurVer", L"Orvwexkr.OrvInstallerKernel.1", nullptr, nullptr, false},
    {L"CLSID\\%CLSID%", L"TqOrvInstallerKernel Class", nullptr, nullptr, true},
    {L"CLSID\\%CLSID%\\ProgID", L"TqOrvwexkr.OrvInstallerKernel.1", nullptr, nullptr, false},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", L"TqOrvwexkr.OrvInstallerKernel", nullptr, nullptr, false},
    {L"CLSID\\%CLSID%\\InprocServer32", L"%MODULE%", L"ThreadingModel", L"Both", false},
    {L"CLSID\\%CLSID%\\TypeLib", L"%LIBID%", nullptr, nullptr, false},
};

struct Substitutions {
    WCHAR clsid[40];
    WCHAR libid[40];
    WCHAR module[MAX_PATH];
};

HRESULT GetSubstitutions(Substitutions& s) {
    if (!StringFromGUID2(CLSID_OrvInstallerKernel, s.clsid, 40)) return E_UNEXPECTED;
    if (!StringFromGUID2(LIBID_ORVWEXKRLib, s.libid, 40)) return E_UNEXPECTED;
    DWORD n = GetModuleFileNameW(ModuleInstance(), s.module, MAX_PATH);
    if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return S_OK;
}

std::wstring Expand(LPCWSTR text, const Substitutions& s) {
    std::wstring out(text);
    const struct { LPCWSTR name; LPCWSTR value; } vars[] = {
        {L"%CLSID%", s.clsid}, {L"%LIBID%", s.libid}, {L"%MODULE%", s.module}};
    for (const auto& v : vars) {
        size_t pos;
        while ((pos = out.find(v.name)) != std::wstring::npos) out.replace(pos, wcslen(v.name), v.value);
    }
    return out;
}

HRESULT SetString(HKEY key, LPCWSTR name, const std::wstring& data) {
    LONG e = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
    return e == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(e);
}

HRESULT RegisterKeys(const Substitutions& s) {
    for (const RegKeyEntry& entry : kEntries) {
        std::wstring key = Expand(entry.key, s);
        if (entry.forceRemove) SHDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        UniqueHKey hkey;
        LONG e = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE, nullptr, hkey.Put(), nullptr);
        if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
        if (entry.defValue) {
            HRESULT hr = SetString(hkey.Get(), nullptr, Expand(entry.defValue, s));
            if (FAILED(hr)) return hr;
        }
        if (entry.valueName) {
            HRESULT hr = SetString(hkey.Get(), entry.valueName, Expand(entry.valueData, s));
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT UnregisterKeys(const Substitutions& s) {
    for (size_t i = sizeof(kEntries) / sizeof(kEntries[0]); i-- > 0;) {
        const RegKeyEntry& entry = kEntries[i];
        std::wstring key = Expand(entry.key, s);
        if (entry.forceRemove) {
            LONG e = SHDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
            if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(e);
            continue;
        }
        if (entry.valueName) {
            UniqueHKey hkey;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_SET_VALUE, hkey.Put()) == ERROR_SUCCESS)
                RegDeleteValueW(hkey.Get(), entry.valueName);
        }
        // Fails while something else lives below the key: then it stays.
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    }
    return S_OK;
}

}  // namespace

HRESULT RegisterServer() {
    Substitutions s;
    HRESULT hr = GetSubstitutions(s);
    if (FAILED(hr)) return hr;
    hr = RegisterKeys(s);
    if (FAILED(hr)) return hr;

    TypeLibraryLock lock;
    ComPtr<ITypeLib> typeLib;
    hr = LoadTypeLibEx(s.module, REGKIND_NONE, typeLib.Put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(typeLib.Get(), s.module, nullptr);
}

HRESULT UnregisterServer() {
    Substitutions s;
    HRESULT hr = GetSubstitutions(s);
    if (FAILED(hr)) return hr;
    hr = UnregisterKeys(s);
    if (FAILED(hr)) return hr;

    TypeLibraryLock lock;
    ComPtr<ITypeLib> typeLib;
    hr = LoadTypeLibEx(s.module, REGKIND_NONE, typeLib.Put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    typeLib->ReleaseTLibAttr(attr);
    // Already gone counts as done.
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) hr = S_OK;
    return hr;
}

}  // namespace orv
