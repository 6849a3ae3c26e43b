// Helpers of the setup program's tests: a product made in a temporary folder
// (files, a library counted in SharedDLLs, a registration script, a registry
// key of its own), its manifests, orvsetup.exe run on them, and what the
// machine holds afterwards.
#pragma once
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <string>

#include "Machine.h"

namespace orv::test::setup {

inline std::wstring CommonFiles() {
    WCHAR path[MAX_PATH];
    DWORD size = sizeof(path);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir",
                     RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return L"C:\\Program Files\\Common Files";
    return path;
}
// The SharedDLLs count of a file, -1 when it has none.
inline long SharedCount(const std::wstring& file) { return long(DwordCount(Canonical(file))); }

// The run ended with this exit code and its output says this.
inline ::testing::AssertionResult Ran(const ProcessResult& run, DWORD code, const char* says = "") {
    if (run.exitCode == code && run.output.find(says) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << run.exitCode << ", expected " << code << " and \"" << says
                                         << "\" in:\n" << run.output;
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string Utf16File(const std::wstring& text) { return "\xFF\xFE" + Utf16(text, false); }

class Product {
public:
    Product() : m_key(UniqueKeyPath(L"setup")), m_lib(CommonFiles() + L"\\orvsetup_test_" + std::to_wstring(GetCurrentProcessId()) + L".dll") {
        CreateDirectoryW((m_dir / L"v1").c_str(), nullptr);
        CreateDirectoryW((m_dir / L"v2").c_str(), nullptr);
        WriteBytes(m_dir / L"readme.txt", "read me\r\n");
        CopyFileW(Join(FixturesDir(), L"files\\v1.dll").c_str(), (m_dir / L"v1\\lib.dll").c_str(), FALSE);
        CopyFileW(Join(FixturesDir(), L"files\\v2.dll").c_str(), (m_dir / L"v2\\lib.dll").c_str(), FALSE);
        WriteBytes(m_dir / L"app.reg",
                   "REGEDIT4\r\n[HKEY_CURRENT_USER\\" + Narrow(m_key) + "\\Script]\r\n\"Home\"=\"%orvtargetdir%\\data\"\r\n");
    }
    ~Product() {
        SHDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
        DeleteFileW(m_lib.c_str());
        DeleteSharedDllValuesContaining(m_lib);
    }

    std::wstring Dir() const { return m_dir.Path(); }
    std::wstring App() const { return m_dir / L"app"; }
    const std::wstring& Key() const { return m_key; }
    const std::wstring& Lib() const { return m_lib; }

    std::wstring Head(const wchar_t* version) const {
        return L"[Product]\r\nName=Pr\x00FC" L"fprodukt\r\nVersion=" + std::wstring(version) + L"\r\nInstallDir=" + App() +
               L"\r\n";
    }
    std::wstring LibItem(const wchar_t* version) const {
        return L"[File lib]\r\nSource=v" + std::wstring(version) + L"\\lib.dll\r\nTarget=" + m_lib + L"\r\n";
    }
    // Writes a manifest (UTF-16) and runs orvsetup on it.
    ProcessResult Run(const std::wstring& verb, const std::wstring& manifest, const std::wstring& name = L"p.ini") {
        if (!manifest.empty()) WriteBytes(m_dir / name, Utf16File(manifest));
        return RunProcess(L"\"" + Join(BinDir(), L"orvsetup.exe") + L"\" " + verb + L" \"" + (m_dir / name) + L"\"");
    }

private:
    TempDir m_dir;
    std::wstring m_key;
    std::wstring m_lib;
};

inline bool HasValue(const std::wstring& key, const wchar_t* name) { return ReadValue(HKEY_CURRENT_USER, key, name).exists; }

inline std::wstring Value(const std::wstring& key, const wchar_t* name) {
    std::wstring value;
    return ReadString(HKEY_CURRENT_USER, key, name, &value) ? value : L"<none>";
}

}  // namespace orv::test::setup
