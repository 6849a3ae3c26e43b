// The kind of an open file (core/FileKind.h), read through its handle: the
// first bytes, the module header where the file has one, a font's tables.
// Header-only; the utility library's CWexFile::GetType and the kernel's file
// factory, which reads more of the same handle, share it.
#pragma once
#include <windows.h>

#include "core/FileKind.h"
#include "platform/Win32ByteSource.h"

namespace orv {

// file: opened for reading, a disk file; its position is moved.
inline int FileKindOfOpenFile(HANDLE file, LPCWSTR path) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return kKindData;

    BYTE head[kFileKindHeadBytes];
    DWORD headLen = 0;
    if (!ReadFile(file, head, sizeof(head), &headLen, nullptr)) return kKindData;

    // The module header is read only where the file has it, and never more than the classifier needs.
    BYTE module[kFileKindModuleBytes];
    DWORD moduleLen = 0;
    const uint32_t offset = ModuleHeaderOffset(head, headLen);
    if (offset != 0 && static_cast<LONGLONG>(offset) < size.QuadPart) {
        const LONGLONG available = size.QuadPart - offset;
        const DWORD want = available < static_cast<LONGLONG>(sizeof(module)) ? static_cast<DWORD>(available)
                                                                            : static_cast<DWORD>(sizeof(module));
        LARGE_INTEGER at;
        at.QuadPart = offset;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, module, want, &moduleLen, nullptr))
            moduleLen = 0;
    }
    const int kind = ClassifyFile(path, head, headLen, moduleLen ? module : nullptr, moduleLen);
    Win32ByteSource source(file);
    return ConfirmFontKind(kind, source, static_cast<uint64_t>(size.QuadPart), offset);
}

// Opens a file the way the kind is read from it: for reading, shared with
// every other user. Null (INVALID_HANDLE_VALUE) when it cannot be opened.
inline HANDLE OpenToReadKind(LPCWSTR path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace orv
