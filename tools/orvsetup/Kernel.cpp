#include "Kernel.h"

#include <vector>

namespace orvsetup {
namespace {

constexpr const wchar_t* kProgId = L"TqOrvwexkr.OrvInstallerKernel.1";

VARIANT_BOOL Bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// The server path the registry names for a class, or "".
std::wstring RegisteredServer(REFCLSID clsid) {
    wchar_t guid[40];
    if (!StringFromGUID2(clsid, guid, 40)) return std::wstring();
    const std::wstring key = std::wstring(L"CLSID\\") + guid + L"\\InprocServer32";
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return std::wstring();
    wchar_t path[MAX_PATH + 1] = {};
    DWORD type = 0, size = sizeof(path) - sizeof(wchar_t);
    const LONG rc = RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) ? std::wstring(path) : std::wstring();
}

// The caller's check info as the kernel reads it: records ending in a null key.
class CheckInfoArray {
public:
    explicit CheckInfoArray(const std::vector<CheckPair>& pairs) : m_records(pairs.size() + 1) {
        for (size_t i = 0; i < pairs.size(); ++i) {
            m_records[i].bstrKey = SysAllocString(pairs[i].key.c_str());
            m_records[i].bstrValue = pairs[i].hasValue ? SysAllocString(pairs[i].value.c_str()) : nullptr;
        }
        m_records.back() = _ORV_CHECK_INFO{nullptr, nullptr};
    }
    ~CheckInfoArray() {
        for (_ORV_CHECK_INFO& r : m_records) {
            SysFreeString(r.bstrKey);
            SysFreeString(r.bstrValue);
        }
    }
    CheckInfoArray(const CheckInfoArray&) = delete;
    CheckInfoArray& operator=(const CheckInfoArray&) = delete;
    _ORV_CHECK_INFO* Get() { return m_records.data(); }

private:
    std::vector<_ORV_CHECK_INFO> m_records;
};

// Takes over the kernel's array: the pairs up to the first null key; every
// string and the block are freed.
void TakeCheckInfo(_ORV_CHECK_INFO* records, std::vector<CheckPair>& check) {
    check.clear();
    if (!records) return;
    for (size_t i = 0; records[i].bstrKey; ++i) {
        CheckPair pair;
        pair.key = records[i].bstrKey;
        pair.hasValue = records[i].bstrValue != nullptr;
        if (pair.hasValue) pair.value = records[i].bstrValue;
        check.push_back(pair);
        SysFreeString(records[i].bstrKey);
        SysFreeString(records[i].bstrValue);
    }
    CoTaskMemFree(records);
}

}  // namespace

Kernel::~Kernel() {
    m_kernel.Reset();
    if (m_module) FreeLibrary(m_module);
}

HRESULT Kernel::Create(std::wstring& how) {
    CLSID clsid{};
    if (SUCCEEDED(CLSIDFromProgID(kProgId, &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvInstallerKernel,
                                   reinterpret_cast<void**>(m_kernel.Put())))) {
        how = L"the registered kernel " + RegisteredServer(clsid);
        return S_OK;
    }
    const std::wstring dll = ProgramFolder() + L"\\TqOrvWexKr.dll";
    m_module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_module) return HRESULT_FROM_WIN32(GetLastError());
    using CreateFn = HRESULT(WINAPI*)(IOrvInstallerKernel**);
    const auto create = reinterpret_cast<CreateFn>(GetProcAddress(m_module, "OrvWexKrCreateInstance"));
    if (!create) return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT hr = create(m_kernel.Put());
    if (SUCCEEDED(hr)) how = L"the kernel beside this program, " + dll;
    return hr;
}

HRESULT Kernel::InstallFile(const ManifestItem& item, const std::wstring& source, unsigned mode, bool force,
                            std::vector<CheckPair>& check) {
    check.clear();
    Bstr src(source), target(item.target);
    _ORV_FILE_INSTALL_INFO info{};
    info.bstrSource = src.Get();
    info.bstrTarget = target.Get();
    Bstr appPathsText(item.appPaths), cmdText(item.dllInstallCmd);
    info.bstrAppPaths = item.hasAppPaths ? appPathsText.Get() : nullptr;
    info.bstrDllInstallCmd = item.hasDllInstallCmd ? cmdText.Get() : nullptr;
    info.dwInstallMode = mode;
    info.dwFlags = force ? INSTALL_FLAG_FORCE : 0;
    info.lpOrvCheckInfo = nullptr;
    const HRESULT hr = m_kernel->InstallFile(&info);
    TakeCheckInfo(info.lpOrvCheckInfo, check);
    return hr;
}

HRESULT Kernel::UnInstallFile(const std::wstring& source, const std::wstring& target) {
    Bstr src(source), tgt(target);
    _ORV_FILE_INSTALL_INFO info{};
    info.bstrSource = src.Get();
    info.bstrTarget = tgt.Get();
    info.dwInstallMode = kModeUninstall;
    return m_kernel->UnInstallFile(&info);
}

HRESULT Kernel::PreparePostRebootCopyFile(const std::wstring& source, const std::wstring& target, unsigned mode) {
    Bstr src(source), tgt(target);
    return m_kernel->PreparePostRebootCopyFile(src.Get(), tgt.Get(), mode);
}

HRESULT Kernel::PreparePostRebootDeleteFile(const std::wstring& target) {
    Bstr tgt(target);
    return m_kernel->PreparePostRebootDeleteFile(tgt.Get());
}

HRESULT Kernel::PostRebootRegister(const std::wstring& server) {
    Bstr path(server);
    return m_kernel->PostRebootRegister(path.Get());
}

HRESULT Kernel::InstallCheck(const std::wstring& target, const std::vector<CheckPair>& check, std::wstring& text) {
    text.clear();
    Bstr path(target), result;
    CheckInfoArray records(check);
    const HRESULT hr = m_kernel->InstallCheck(path.Get(), records.Get(), result.Put());
    if (result.Get()) text = result.Get();
    return hr;
}

HRESULT Kernel::InstallValue(const ManifestItem& item, bool overwrite) {
    Bstr keyPath(item.keyPath), name(item.valueName);
    ComPtr<IOrvRegKey> key;
    HRESULT hr = m_kernel->InstallRegKey(keyPath.Get(), key.Put());
    if (FAILED(hr)) return hr;
    if (!key) return E_POINTER;
    switch (item.valueType) {
    case ValueType::String:
    case ValueType::ExpandString: {
        Bstr data(item.text);
        return key->InstallStringValue(name.Get(), data.Get(), Bool(overwrite),
                                       Bool(item.valueType == ValueType::ExpandString));
    }
    case ValueType::MultiString: {
        std::vector<BSTR> strings;
        for (const std::wstring& s : item.strings) strings.push_back(SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
        BSTR none = nullptr;
        hr = key->InstallMultiStringValue(name.Get(), strings.empty() ? &none : strings.data(),
                                          static_cast<LONG>(strings.size()), Bool(overwrite));
        for (BSTR s : strings) SysFreeString(s);
        return hr;
    }
    case ValueType::Dword:
        return key->InstallIntegerValue(name.Get(), static_cast<LONG>(item.dword), Bool(overwrite));
    case ValueType::Binary: {
        unsigned char none = 0;
        return key->InstallBinaryValue(name.Get(),
                                       item.bytes.empty() ? &none : const_cast<unsigned char*>(item.bytes.data()),
                                       static_cast<ULONG>(item.bytes.size()), Bool(overwrite));
    }
    }
    return E_INVALIDARG;
}

HRESULT Kernel::UnInstallValue(const ManifestItem& item) {
    Bstr keyPath(item.keyPath), name(item.valueName);
    ComPtr<IOrvRegKey> key;
    HRESULT hr = m_kernel->UnInstallRegKey(keyPath.Get(), key.Put(), VARIANT_FALSE);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_FALSE;  // the key is gone already
    if (FAILED(hr)) return hr;
    if (!key) return E_POINTER;
    hr = key->UnInstallValue(name.Get());
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_FALSE : hr;
}

HRESULT Kernel::InstallLink(const ManifestItem& item) {
    Bstr cmd(ShortcutCommandLine(item)), folder(item.folder), description(item.description);
    return m_kernel->InstallLink(cmd.Get(), folder.Get(), item.description.empty() ? nullptr : description.Get(),
                                 Bool(item.allUsers));
}

HRESULT Kernel::UnInstallLink(const ManifestItem& item) {
    Bstr cmd(ShortcutCommandLine(item)), folder(item.folder);
    return m_kernel->UnInstallLink(cmd.Get(), folder.Get(), item.allUsers ? 1 : 0);
}

}  // namespace orvsetup
