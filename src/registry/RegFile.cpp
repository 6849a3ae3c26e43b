// ReadRegistrationFile and ApplyRegistrySection: the applier of offline
// registration files.
#include "registry/RegFile.h"

#include <exception>
#include <new>
#include <vector>
#include "kernel/Module.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/TextCase.h"
#include "platform/WexUt.h"
#include "registry/RegistryKey.h"

namespace orv {

namespace {

constexpr REGSAM kScriptKeyAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;  // 3

HKEY RootOf(RegTopKey topKey) {
    switch (topKey) {
    case RegTopKey::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegTopKey::CurrentUser: return HKEY_CURRENT_USER;
    case RegTopKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegTopKey::Users: return HKEY_USERS;
    case RegTopKey::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case RegTopKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RegTopKey::DynData: return HKEY_DYN_DATA;
    }
    return nullptr;
}

// Lines that look like values but cannot be applied as read: logged, skipped.
// Empty lines, lines without "=" and lines before the first header are
// ignored without a word, as the format says.
bool IsRejected(RegLineStatus status) {
    switch (status) {
    case RegLineStatus::ValueNoColon:
    case RegLineStatus::ContainsNul:
    case RegLineStatus::ConversionFailed:
    case RegLineStatus::PlaceholderNoDirectory: return true;
    default: return false;
    }
}

void LogRejectedLine(const RegScriptLine& line) {
    LogWarning(L"Skipping line %lu of the registration file (%s): %s", static_cast<unsigned long>(line.lineNumber),
               DescribeRegLineStatus(line.status), line.text.c_str());
}

HRESULT RefuseSection(const RegScriptSection& section) {
    const RegScriptHeader& header = section.header;
    switch (header.status) {
    case RegHeaderStatus::InvalidTopKey:
        LogWin32Format(WEX_SEV_ERROR, ERROR_BADKEY, L"Found invalid top key %s: Skipping this key",
                       header.topKeyName.c_str());
        break;
    case RegHeaderStatus::RefusedOnWin9x:
    case RegHeaderStatus::RefusedOnNt:
        LogWin32(WEX_SEV_ERROR, ERROR_BADKEY, DescribeRegHeaderStatus(header.status));
        break;
    default:
        LogWin32Format(WEX_SEV_ERROR, ERROR_BADKEY, L"Invalid section header %s (%s): Skipping this key",
                       section.headerLine.text.c_str(), DescribeRegHeaderStatus(header.status));
        break;
    }
    return HResultFromWin32(ERROR_BADKEY);
}

void LogUnrecognizedType(const RegScriptValue& value) {
    LogWarning(L"Unrecognized value type %s: Skipping this value %s", value.typeWord.c_str(), value.name.c_str());
}

// The key marker is written by key creation alone: a line naming it is skipped, said, in both directions.
bool SkipMarkerValue(const RegScriptValue& value) {
    if (!EqualIgnoringCase(value.name.c_str(), value.name.size(), kOrvCreateKeyMarker, wcslen(kOrvCreateKeyMarker)))
        return false;
    LogWarning(L"Value %s is the key marker: Skipping this value", value.name.c_str());
    return true;
}

void InstallEntry(HKEY hKey, const RegScriptValue& value) {
    if (SkipMarkerValue(value)) return;
    RegValueData data;
    if (!MakeRegValueData(value, data)) {
        LogUnrecognizedType(value);
        return;
    }
    LONG e = ERROR_INVALID_DATA;
    if (data.bytes.size() <= MAXDWORD) {
        e = RegSetValueExW(hKey, value.name.c_str(), 0, static_cast<DWORD>(data.type),
                           data.bytes.empty() ? nullptr : data.bytes.data(), static_cast<DWORD>(data.bytes.size()));
    }
    if (e == ERROR_SUCCESS) return;
    LPCWSTR format = L"Error setting string value %s";
    if (data.type == RegValueType::Dword) format = L"Error setting dword value %s";
    if (data.type == RegValueType::Binary) format = L"Error setting hex value %s";
    LogWin32Format(WEX_SEV_ERROR, static_cast<DWORD>(e), format, value.name.c_str());
}

// The uninstall decision for one entry: delete only what still is as the
// file installed it.
void UnInstallEntry(HKEY hKey, const RegScriptValue& value) {
    if (SkipMarkerValue(value)) return;  // the marker goes with its key
    RegValueData expected;
    if (!MakeRegValueData(value, expected)) {
        LogUnrecognizedType(value);
        return;
    }
    LPCWSTR name = value.name.c_str();
    DWORD type = REG_NONE;
    DWORD cbStored = 0;
    LONG e = RegQueryValueExW(hKey, name, nullptr, &type, nullptr, &cbStored);
    if (e == ERROR_SUCCESS || e == ERROR_MORE_DATA) {
        if (type != static_cast<DWORD>(expected.type)) {
            LogInfo(L"Type of value %s was changed since installation: will not delete value", name);
            return;
        }
        if (cbStored != expected.bytes.size()) {
            LogInfo(L"Data of value %s was changed since installation: will not delete value", name);
            return;
        }
        std::vector<uint8_t> stored(cbStored);
        DWORD cbRead = cbStored;
        e = RegQueryValueExW(hKey, name, nullptr, &type, stored.empty() ? nullptr : stored.data(), &cbRead);
        if (e == ERROR_SUCCESS && !RegStoredDataMatches(expected, stored.data(), cbRead)) {
            LogInfo(L"Data of value %s was changed since installation: will not delete value", name);
            return;
        }
        // A value that cannot be read back is deleted without comparison.
    }
    e = RegDeleteValueW(hKey, name);
    if (e != ERROR_SUCCESS) LogWin32Format(WEX_SEV_WARNING, static_cast<DWORD>(e), L"Error deleting value %s", name);
}

HRESULT InstallSection(HKEY hRoot, const RegScriptSection& section) {
    CWexKrRegistryKey key;  // private; its 64-bit flag stays clear
    LONG e = key.CreateMarkedKey(hRoot, section.header.subkeyPath.c_str(), REG_OPTION_NON_VOLATILE, kScriptKeyAccess);
    if (e != ERROR_SUCCESS) {
        LogWin32Format(WEX_SEV_ERROR, static_cast<DWORD>(e), L"Unable to open or create key %s",
                       section.header.FullKeyText().c_str());
        return HResultFromWin32(e);
    }
    for (const RegScriptLine& line : section.lines) {
        if (line.status == RegLineStatus::Value)
            InstallEntry(key.m_hKey, line.value);
        else if (IsRejected(line.status))
            LogRejectedLine(line);
    }
    return S_OK;
}

HRESULT UnInstallSection(HKEY hRoot, const RegScriptSection& section) {
    CWexKrRegistryKey key;  // private; its 64-bit flag stays clear
    LONG e = key.OpenKey(hRoot, section.header.subkeyPath.c_str(), kScriptKeyAccess);
    if (e == ERROR_FILE_NOT_FOUND) {
        LogInfo(L"Key %s does not exist: nothing to do", section.header.FullKeyText().c_str());
        return S_FALSE;
    }
    if (e != ERROR_SUCCESS) return S_FALSE;
    // Values in keys the kernel did not create are never removed.
    if (!CWexKrRegistryKey::HasMarker(key.m_hKey)) return S_FALSE;
    for (const RegScriptLine& line : section.lines) {
        if (line.status == RegLineStatus::Value)
            UnInstallEntry(key.m_hKey, line.value);
        else if (IsRejected(line.status))
            LogRejectedLine(line);
    }
    key.RemoveMarkedKeys(hRoot, section.header.subkeyPath.c_str());
    return S_OK;
}

// The whole file into memory, shared for reading and writing with others.
// Returns a Win32 code.
DWORD ReadWholeFile(LPCWSTR pszPath, std::string& bytes) {
    UniqueFile file(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD e = GetLastError();
        return e ? e : ERROR_OPEN_FAILED;
    }
    LARGE_INTEGER size;
    if (GetFileSizeEx(file.Get(), &size)) {
        if (static_cast<ULONGLONG>(size.QuadPart) >= bytes.max_size()) return ERROR_FILE_TOO_LARGE;
        bytes.reserve(static_cast<size_t>(size.QuadPart));
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            DWORD e = GetLastError();
            return e ? e : ERROR_READ_FAULT;
        }
        if (got == 0) return ERROR_SUCCESS;
        bytes.append(buffer.data(), got);
    }
}

}  // namespace

HRESULT ApplyRegistrySection(const RegScriptSection& section, RegFileDirection direction) {
    if (!section.bHasHeader) return S_FALSE;  // lines before the first header
    if (section.header.status != RegHeaderStatus::Ok) return RefuseSection(section);
    HKEY hRoot = RootOf(section.header.topKey);
    return direction == RegFileDirection::Install ? InstallSection(hRoot, section) : UnInstallSection(hRoot, section);
}

HRESULT ReadRegistrationFile(LPCWSTR pszPath, LPCWSTR pszDirectory, RegFileDirection direction) {
    if (!pszPath) {
        LogError(L"ReadRegistrationFile(): Invalid parameter ( NULL pointer )");
        return E_POINTER;
    }
    try {
        DWORD e = ERROR_SUCCESS;
        std::string bytes;
        if (wcslen(pszPath) >= MAX_PATH)
            e = ERROR_FILENAME_EXCED_RANGE;
        else
            e = ReadWholeFile(pszPath, bytes);
        if (e != ERROR_SUCCESS) {
            LogWin32(WEX_SEV_ERROR, e, L"Error reading reg file");
            return HResultFromWin32(static_cast<LONG>(e));
        }

        RegScriptOptions options;
        if (pszDirectory) options.targetDir = pszDirectory;
        if (LPCWSTR sysDir = CWexSystem::GetSysDir()) options.systemDir = sysDir;
        options.bNtFamily = IsWindowsNT();
        RegScriptReader reader(bytes, std::move(options));
        RegScriptSection section;
        while (reader.NextSection(section)) ApplyRegistrySection(section, direction);
        return S_OK;
    } catch (const std::exception&) {  // out of memory
        LogWin32(WEX_SEV_ERROR, ERROR_OUTOFMEMORY, L"Error reading reg file");
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv
