// What the kernel's file methods share: the null-argument line, the refusal of
// paths that do not fit a MAX_PATH buffer or name no file, and the file object
// of one call.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "platform/KrLog.h"

namespace orv::kernel {

// The Win32 error number of the "Invalid parameter ( NULL pointer )" lines.
constexpr DWORD kInvalidParameterError = 0x4003;

// A null BSTR is the empty string.
inline LPCWSTR Text(LPCWSTR s) { return s ? s : L""; }

inline HRESULT NullArgument(LPCWSTR text) {
    LogWin32(WEX_SEV_ERROR, kInvalidParameterError, text);
    return E_POINTER;
}

// Paths are held in MAX_PATH buffers: a longer one is refused before anything is touched.
inline bool RefuseLongPath(LPCWSTR path, HRESULT* hr) {
    if (!path) path = L"";
    if (files::PathFits(path)) return false;
    *hr = files::RefusePathTooLong(path);
    return true;
}

// A path of a file the call reads or writes: too long for a MAX_PATH buffer,
// or naming a folder, a drive root or a device, it is refused before anything
// is touched. folderAllowed: InstallFile's target, which is the directory a
// registration file is applied with (the copy rules refuse folders themselves).
// attributes: where not null, what the check read of the path (see
// files::RefuseIfNotAFile), which tells the method whether the file exists.
inline bool RefusePath(LPCWSTR path, HRESULT* hr, bool folderAllowed = false, DWORD* attributes = nullptr) {
    if (attributes) *attributes = INVALID_FILE_ATTRIBUTES;
    if (RefuseLongPath(path, hr)) return true;
    const HRESULT refused = files::RefuseIfNotAFile(path, folderAllowed, attributes);
    if (SUCCEEDED(refused)) return false;
    *hr = refused;
    return true;
}

// The file object of one call; destroyed with Destroy whatever happens.
class FileObject {
public:
    // keepOpen: see CWexKrFile::CreateInstance.
    explicit FileObject(LPCWSTR path, bool keepOpen = false) : m_file(CWexKrFile::CreateInstance(path, keepOpen)) {
        if (!m_file) LogWin32(WEX_SEV_ERROR, ERROR_OUTOFMEMORY, L"CWexKrFile::CreateInstance() failed");
    }
    ~FileObject() {
        if (m_file) m_file->Destroy();
    }
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;
    CWexKrFile* operator->() const { return m_file; }
    CWexKrFile* Get() const { return m_file; }
    explicit operator bool() const { return m_file != nullptr; }

private:
    CWexKrFile* m_file;
};

}  // namespace orv::kernel
