// InstallCheck: an installed program or library checked against the facts
// InstallFile recorded for it (its version or time stamp, and where its COM
// server was registered). Each finding is a text appended to the result and
// a result code; a later check overwrites the code of an earlier one.
#include <cstdarg>
#include <cwchar>
#include <map>
#include <string>

#include "files/FileModel.h"
#include "kernel/KernelObject.h"
#include "kernel/MethodSupport.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::kernel;

namespace {

constexpr HRESULT kHrVersionLower = static_cast<HRESULT>(0x800407D4L);
constexpr HRESULT kHrVersionDiffers = static_cast<HRESULT>(0x000407D5L);  // a warning, counts as success
constexpr HRESULT kHrServerPathUnknown = static_cast<HRESULT>(0x800407D7L);
constexpr HRESULT kHrServerPathDiffers = static_cast<HRESULT>(0x800407D8L);
// Characters of the buffer each finding is formatted into.
constexpr size_t kMessageChars = 1024;
const wchar_t kNotRegistered[] = L"N/A ( not registered )";

// Key text -> value of the caller's records, up to the first null key. Keys
// match exactly; the first record of a key wins; a null value is empty text.
using CheckInfoMap = std::map<std::wstring, std::wstring>;

CheckInfoMap ReadCheckInfo(const _ORV_CHECK_INFO* records) {
    CheckInfoMap facts;
    for (; records->bstrKey; ++records) facts.emplace(records->bstrKey, Text(records->bstrValue));
    return facts;
}

const std::wstring* Find(const CheckInfoMap& facts, LPCWSTR key) {
    const auto found = facts.find(key);
    return found == facts.end() ? nullptr : &found->second;
}

// The finding formatted into a buffer of kMessageChars (a longer text is cut)
// and appended to the result text without a separator.
LPCWSTR Append(std::wstring& result, WCHAR (&message)[kMessageChars], LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, kMessageChars, format, args);
    va_end(args);
    message[kMessageChars - 1] = 0;
    result += message;
    return message;
}

HRESULT CheckVersion(LPCWSTR target, CWexKrExecutableFile* executable, const std::wstring& recorded,
                     std::wstring& result) {
    const CWexFileVersion expected(recorded.c_str());
    CWexFileVersion current;  // a file without version: 0.0.0.0
    if (executable) executable->GetVersion(current);
    if (expected == current) return S_OK;
    WCHAR currentText[32], expectedText[32], message[kMessageChars];
    current.GetVersionString(currentText, 32);
    expected.GetVersionString(expectedText, 32);
    if (expected > current) {
        LogError(L"File '%s' suffers version mismatch - %s", target,
                 Append(result, message,
                        L"Error: File versions lower then expected. Current Version: %s Installed Version: %s",
                        currentText, expectedText));
        return kHrVersionLower;
    }
    LogWarning(L"File '%s' suffers version mismatch - %s", target,
               Append(result, message, L"Warning: File versions do not match. Current Version: %s Installed Version: %s",
                      currentText, expectedText));
    return kHrVersionDiffers;
}

// Only said, never a failure.
void CheckTimeStamp(LPCWSTR target, LPCWSTR path, const std::wstring& recordedText, std::wstring& result) {
    FILETIME now{}, recorded{};
    if (FAILED(CWexFile::GetTimeStamp(path, &now, WEX_TIME_LASTWRITE))) now = FILETIME{};
    CWexTools::StringToBlob(reinterpret_cast<BYTE*>(&recorded), sizeof(recorded), recordedText.c_str());
    if (CompareFileTime(&now, &recorded) == 0) return;
    // A time the system cannot show is shown as zeros.
    SYSTEMTIME then{}, current{};
    if (!FileTimeToSystemTime(&recorded, &then)) then = SYSTEMTIME{};
    if (!FileTimeToSystemTime(&now, &current)) current = SYSTEMTIME{};
    WCHAR message[kMessageChars];
    LogWarning(L"File '%s' suffers timestamp mismatch - %s", target,
               Append(result, message,
                      L"TimeStamp at installation: %.2d.%.2d.%4d %.2d:%.2d:%.2d. TimeStamp now: %.2d.%.2d.%4d %.2d:%.2d:%.2d.",
                      then.wDay, then.wMonth, then.wYear, then.wHour, then.wMinute, then.wSecond, current.wDay,
                      current.wMonth, current.wYear, current.wHour, current.wMinute, current.wSecond));
}

// Not found is 0x800407D7; a path that differs from the recorded one, "not
// found" included unless that is what was recorded, is 0x800407D8.
HRESULT CheckServerPath(CWexKrCOMServerFile* server, const std::wstring& recorded, HRESULT hr, std::wstring& result) {
    std::wstring registered;
    if (server->GetRegisteredServerPath(registered) != S_OK) {
        registered = kNotRegistered;
        hr = kHrServerPathUnknown;
    }
    if (!CWexPath::PathIsEqual(registered.c_str(), recorded.c_str())) {
        WCHAR message[kMessageChars];
        Append(result, message, L"Error: COM Server registration paths do not match. RegPath: %s ", registered.c_str());
        hr = kHrServerPathDiffers;
    }
    return hr;
}

HRESULT DoInstallCheck(BSTR bstrTargetFile, const _ORV_CHECK_INFO* lpCheckInfo, BSTR* lpbstrResult) {
    HRESULT hr = S_OK;
    if (RefusePath(bstrTargetFile, &hr)) return hr;
    const LPCWSTR target = bstrTargetFile;
    if (!CWexFile::DoesExist(target)) {
        *lpbstrResult = SysAllocString(L"Error: File not found");
        return HResultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    // Only programs and libraries are checked; nothing is stored for others.
    const int kind = CWexFile::GetType(target);
    if (kind != WEX_KIND_PROGRAM && kind != WEX_KIND_LIBRARY) return S_OK;
    FileObject file(target);
    if (!file) return E_OUTOFMEMORY;
    const CheckInfoMap facts = ReadCheckInfo(lpCheckInfo);
    std::wstring result;

    if (const std::wstring* version = Find(facts, L"version")) {
        hr = CheckVersion(target, dynamic_cast<CWexKrExecutableFile*>(file.Get()), *version, result);
    } else if (const std::wstring* time = Find(facts, L"timestamp")) {
        CheckTimeStamp(target, file->GetPath(), *time, result);
    }
    auto* server = dynamic_cast<CWexKrCOMServerFile*>(file.Get());
    if (const std::wstring* path = Find(facts, L"comserverregpath"); path && server)
        hr = CheckServerPath(server, *path, hr, result);

    if (result.empty()) {
        *lpbstrResult = nullptr;
        return hr;
    }
    *lpbstrResult = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
    // The findings cannot be handed over: a result without its text would hide them.
    return *lpbstrResult ? hr : E_OUTOFMEMORY;
}

}  // namespace

STDMETHODIMP COrvInstallerKernel::InstallCheck(BSTR bstrTargetFile, _ORV_CHECK_INFO* lpCheckInfo, BSTR* lpbstrResult) {
    if (!bstrTargetFile || !lpCheckInfo || !lpbstrResult)
        return NullArgument(L"InstallCheck(): Invalid parameter ( NULL pointer )");
    try {
        return DoInstallCheck(bstrTargetFile, lpCheckInfo, lpbstrResult);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
