// Small Win32 helpers of the setup program: resource owners, files, paths.
// The setup program builds against the SDK alone (its header and type
// library), so it carries these few lines itself.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace orvsetup {

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

private:
    I* m_p = nullptr;
};

// An owned BSTR made from a string (null for a null pointer).
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : m_s(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_s; }
    BSTR* Put() {
        SysFreeString(m_s);
        m_s = nullptr;
        return &m_s;
    }

private:
    BSTR m_s = nullptr;
};

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~UniqueHandle() {
        if (Valid()) CloseHandle(m_h);
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }

private:
    HANDLE m_h;
};

std::wstring HrText(HRESULT hr);  // "0x800407D0"
// The system's text for a Win32 error or an HRESULT, without the line end.
std::wstring SystemText(DWORD code);

bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error);
// A new file beside the target, flushed, then renamed over it: a reader
// sees either the old or the new content, never a part.
bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, DWORD& error);

bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
std::wstring FullPathOf(const std::wstring& path);
std::wstring ProgramFolder();  // the folder of the running program
// Deletes a folder and everything in it (read-only files included).
void RemoveTree(const std::wstring& path);
// The file cannot be opened for writing because another process holds it.
bool IsInUse(const std::wstring& path);

}  // namespace orvsetup
