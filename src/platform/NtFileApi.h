// The few native (ntdll) file functions the kernel asks directly, where the
// Win32 call around them costs a second open or a second look-up of a name.
// Found once with GetProcAddress, so that the import list stays that of the
// oldest supported system. Header-only; the kernel and the utility library
// share it.
#pragma once
#include <windows.h>

namespace orv::nt {

struct UnicodeString {
    USHORT Length, MaximumLength;
    PWSTR Buffer;
};
struct ObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    UnicodeString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor, SecurityQualityOfService;
};
struct IoStatusBlock {
    ULONG_PTR status, information;
};

struct Api {
    BOOLEAN(WINAPI* toNtPath)(PCWSTR, UnicodeString*, PWSTR*, void*) = nullptr;
    void(WINAPI* freeString)(UnicodeString*) = nullptr;
    LONG(WINAPI* queryPath)(ObjectAttributes*, void*) = nullptr;
    LONG(WINAPI* queryHandle)(HANDLE, IoStatusBlock*, void*, ULONG, int) = nullptr;
    LONG(WINAPI* setHandle)(HANDLE, IoStatusBlock*, void*, ULONG, int) = nullptr;
    ULONG(WINAPI* toWin32Error)(LONG) = nullptr;
    bool Found() const { return toNtPath != nullptr; }
};

// All members null where ntdll lacks any of them (Windows 9x).
inline const Api& Functions() {
    static const Api api = [] {
        Api found;
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // in every NT process: nothing is loaded
        if (!ntdll) return found;
        auto get = [ntdll](const char* name) { return reinterpret_cast<void*>(GetProcAddress(ntdll, name)); };
        found.toNtPath = reinterpret_cast<decltype(found.toNtPath)>(get("RtlDosPathNameToNtPathName_U"));
        found.freeString = reinterpret_cast<decltype(found.freeString)>(get("RtlFreeUnicodeString"));
        found.queryPath = reinterpret_cast<decltype(found.queryPath)>(get("NtQueryFullAttributesFile"));
        found.queryHandle = reinterpret_cast<decltype(found.queryHandle)>(get("NtQueryInformationFile"));
        found.setHandle = reinterpret_cast<decltype(found.setHandle)>(get("NtSetInformationFile"));
        found.toWin32Error = reinterpret_cast<decltype(found.toWin32Error)>(get("RtlNtStatusToDosError"));
        if (!found.toNtPath || !found.freeString || !found.queryPath || !found.queryHandle || !found.setHandle ||
            !found.toWin32Error)
            found = Api();
        return found;
    }();
    return api;
}

// The native form of a Win32 path, freed with the object.
class NtPath {
public:
    explicit NtPath(LPCWSTR path) {
        const Api& api = Functions();
        m_ok = api.Found() && path && api.toNtPath(path, &m_name, nullptr, nullptr);
    }
    ~NtPath() {
        if (m_ok) Functions().freeString(&m_name);
    }
    NtPath(const NtPath&) = delete;
    NtPath& operator=(const NtPath&) = delete;
    bool Ok() const { return m_ok; }
    UnicodeString* Get() { return &m_name; }

private:
    UnicodeString m_name{};
    bool m_ok = false;
};

}  // namespace orv::nt
