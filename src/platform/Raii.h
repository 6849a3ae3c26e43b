// Small owners of Win32 and COM resources. Detach() is the only way to hand a
// resource on; everything else is released when the owner goes out of scope.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <objbase.h>

namespace orv {

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : m_value(value) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.Detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }

    T Get() const { return m_value; }
    bool IsValid() const { return m_value != Traits::Empty(); }
    explicit operator bool() const { return IsValid(); }
    void Reset(T value = Traits::Empty()) {
        if (m_value != Traits::Empty()) Traits::Close(m_value);
        m_value = value;
    }
    T Detach() {
        T v = m_value;
        m_value = Traits::Empty();
        return v;
    }
    // For out-parameters: releases what is held and gives the slot.
    T* Put() {
        Reset();
        return &m_value;
    }

private:
    T m_value = Traits::Empty();
};

struct HandleTraits {
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct HKeyTraits {
    static HKEY Empty() { return nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
struct ModuleTraits {
    static HMODULE Empty() { return nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
struct MapViewTraits {
    static const void* Empty() { return nullptr; }
    static void Close(const void* p) { UnmapViewOfFile(p); }
};
struct FindTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct CoTaskMemTraits {
    static void* Empty() { return nullptr; }
    static void Close(void* p) { CoTaskMemFree(p); }
};
struct BstrTraits {
    static BSTR Empty() { return nullptr; }
    static void Close(BSTR s) { SysFreeString(s); }
};

using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;
using UniqueFile = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueHKey = UniqueResource<HKEY, HKeyTraits>;
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;
using UniqueView = UniqueResource<const void*, MapViewTraits>;
using UniqueFind = UniqueResource<HANDLE, FindTraits>;
using UniqueCoTaskMem = UniqueResource<void*, CoTaskMemTraits>;
using UniqueBstr = UniqueResource<BSTR, BstrTraits>;

// Owner of one COM interface reference.
template <typename I>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    I* Get() const { return m_p; }
    I* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }
    I** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    I* Detach() {
        I* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    I* m_p = nullptr;
};

}  // namespace orv
