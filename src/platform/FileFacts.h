// What the file system says of a file without reading it: attributes, size,
// last write time and, where the system gives it, the time of the last
// change of the file's record. Read from a path without opening the file
// (ntdll's NtQueryFullAttributesFile, which GetFileAttributesExW wraps), or
// from an open handle. Header-only; the kernel and the utility library share it.
//
// Two names of one file give the same facts. A copy keeps the size and the
// last write time, but its record changed when it was made: facts that
// differ tell two files apart without opening either.
#pragma once
#include <windows.h>

#include "platform/NtFileApi.h"

namespace orv {

struct FileFacts {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // INVALID_FILE_ATTRIBUTES: nothing known
    ULONGLONG size = 0;
    FILETIME written{};
    LONGLONG changed = 0;
    bool hasChanged = false;
    bool Known() const { return attributes != INVALID_FILE_ATTRIBUTES; }
};

namespace facts_detail {

struct NetworkOpenInformation {
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, AllocationSize, EndOfFile;
    ULONG FileAttributes;
};

inline void FromInformation(const NetworkOpenInformation& info, FileFacts* facts) {
    facts->attributes = info.FileAttributes;
    facts->size = static_cast<ULONGLONG>(info.EndOfFile.QuadPart);
    facts->written.dwLowDateTime = info.LastWriteTime.LowPart;
    facts->written.dwHighDateTime = static_cast<DWORD>(info.LastWriteTime.HighPart);
    facts->changed = info.ChangeTime.QuadPart;
    facts->hasChanged = true;
}

}  // namespace facts_detail

// False (and nothing known) when the path names nothing or cannot be asked.
inline bool FileFactsOfPath(LPCWSTR path, FileFacts* facts) {
    *facts = FileFacts();
    if (!path) return false;
    nt::NtPath ntPath(path);
    if (ntPath.Ok()) {
        constexpr ULONG kObjCaseInsensitive = 0x40;
        nt::ObjectAttributes attributes{sizeof(attributes), nullptr, ntPath.Get(), kObjCaseInsensitive, nullptr,
                                        nullptr};
        facts_detail::NetworkOpenInformation info{};
        if (nt::Functions().queryPath(&attributes, &info) < 0) return false;
        facts_detail::FromInformation(info, facts);
        return true;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    facts->attributes = data.dwFileAttributes;
    facts->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts->written = data.ftLastWriteTime;
    return true;
}

// The same through an open handle (the volume is not asked, unlike
// GetFileInformationByHandle, which costs several times the open under Wine).
inline bool FileFactsOfHandle(HANDLE file, FileFacts* facts) {
    *facts = FileFacts();
    const nt::Api& api = nt::Functions();
    if (api.Found()) {
        // The basic and standard information, which the system reads from the
        // open file itself (the network-open class asks Wine's server for the
        // file's name).
        struct {
            LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
            ULONG FileAttributes;
        } basic{};
        struct {
            LARGE_INTEGER AllocationSize, EndOfFile;
            ULONG NumberOfLinks;
            BOOLEAN DeletePending, Directory;
        } standard{};
        nt::IoStatusBlock io{0, 0};
        constexpr int kFileBasicInformation = 4, kFileStandardInformation = 5;
        if (api.queryHandle(file, &io, &basic, sizeof(basic), kFileBasicInformation) < 0 ||
            api.queryHandle(file, &io, &standard, sizeof(standard), kFileStandardInformation) < 0)
            return false;
        facts_detail::NetworkOpenInformation info{};
        info.LastWriteTime = basic.LastWriteTime;
        info.ChangeTime = basic.ChangeTime;
        info.EndOfFile = standard.EndOfFile;
        info.FileAttributes = basic.FileAttributes;
        facts_detail::FromInformation(info, facts);
        return true;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &facts->written)) return false;
    facts->size = static_cast<ULONGLONG>(size.QuadPart);
    facts->attributes = FILE_ATTRIBUTE_NORMAL;
    return true;
}

// Facts of two existing files that say they are two files.
inline bool FactsTellApart(const FileFacts& a, const FileFacts& b) {
    return a.Known() && b.Known() &&
           (a.size != b.size || CompareFileTime(&a.written, &b.written) != 0 ||
            (a.hasChanged && b.hasChanged && a.changed != b.changed));
}

}  // namespace orv
