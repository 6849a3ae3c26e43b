// Helpers of the COM server tests: the fixture servers (tests/fixtures/com)
// copied under names unique to a test, their registration keys and the
// marks their code leaves, offline registration files, and a clean slate
// afterwards. The fixtures share two class identifiers, so these tests take
// a lock of their own and run one at a time.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "KernelRecords.h"
#include "Machine.h"

namespace orv::test::com {

inline const wchar_t kInProcClsid[] = L"{6A1F0C52-3B7D-4E29-9C41-2D8E5F7A0B11}";
inline const wchar_t kLocalClsid[] = L"{6A1F0C52-3B7D-4E29-9C41-2D8E5F7A0B21}";
inline const wchar_t kMarksKey[] = L"Software\\OrvTest\\com_marks";
inline const wchar_t kTypeLibKey[] = L"TypeLib\\{6A1F0C52-3B7D-4E29-9C41-2D8E5F7A0B30}";
constexpr HRESULT kSelfRegClass = static_cast<HRESULT>(0x80040201L);

inline std::wstring ComFixture(const std::wstring& name) { return Join(FixturesDir(), L"com\\" + name); }
inline std::wstring ServerKey(const wchar_t* clsid, const wchar_t* kind = L"InProcServer32") {
    return std::wstring(L"CLSID\\") + clsid + L"\\" + kind;
}
// The default value of the coclass's server key; "" when there is none.
inline std::wstring RegisteredServer(const wchar_t* clsid, const wchar_t* kind = L"InProcServer32") {
    std::wstring value;
    return ReadString(HKEY_CLASSES_ROOT, ServerKey(clsid, kind), nullptr, &value) ? value : L"";
}
// How often the server file's entry ran ("DllRegisterServer", "RegServer", ...).
inline DWORD Marks(const std::wstring& path, const std::wstring& entry) {
    DWORD count = 0, size = sizeof(count);
    const std::wstring name = std::wstring(PathFindFileNameW(path.c_str())) + L":" + entry;
    SHGetValueW(HKEY_CURRENT_USER, kMarksKey, name.c_str(), nullptr, &count, &size);
    return count;
}
inline std::wstring KeptCorFolder() {
    WCHAR folder[MAX_PATH];
    ExpandEnvironmentStringsW(L"%ProgramFiles%\\Orv\\OrvSetup\\Setup\\cor", folder, MAX_PATH);
    return folder;
}
// "<stem>.cor" in the folder "cor" beside this program, where the kernel looks for it.
inline std::wstring CorBesideMe(const std::wstring& server) {
    std::wstring name = PathFindFileNameW(server.c_str());
    return Join(SelfDir(), L"cor\\" + name.substr(0, name.rfind(L'.')) + L".cor");
}
// A registration file that registers the in-process coclass to "%orvtargetdir%\<file name>".
inline std::string InProcCor(const std::wstring& server) {
    return "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\" + Narrow(kInProcClsid) + "\\InProcServer32]\r\n@=\"%orvtargetdir%\\" +
           Narrow(PathFindFileNameW(server.c_str())) + "\"\r\n\"ThreadingModel\"=\"Both\"\r\n";
}

inline void SetTime(const std::wstring& path, const FILETIME& time) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

// Answer() of a new object of the coclass: the fixture's ORV_ANSWER, or the failing result.
inline HRESULT CreateAndAsk(const wchar_t* clsid, DWORD context, long* answer) {
    CLSID id;
    CLSIDFromString(clsid, &id);
    IDispatch* object = nullptr;
    HRESULT hr = CoCreateInstance(id, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    DISPPARAMS none = {};
    VARIANT result;
    VariantInit(&result);
    hr = object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    *answer = result.vt == VT_I4 ? result.lVal : -1;
    object->Release();
    CoFreeUnusedLibrariesEx(0, 0);
    return hr;
}

// Test base: a temp folder, server copies named "<tag>_<n>.<ext>", and
// everything the servers, the kernel and the test wrote removed afterwards.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override {
        CoFreeUnusedLibrariesEx(0, 0);
        Clean();
    }
    // The fixture copied into the temp folder (or a subfolder of it, created) under a unique name.
    std::wstring Place(const std::wstring& fixture, const std::wstring& folder = L"") {
        const std::wstring dir = folder.empty() ? m_temp.Path() : m_temp / folder;
        CreateDirectoryW(dir.c_str(), nullptr);
        const std::wstring extension = fixture.substr(fixture.rfind(L'.'));
        const std::wstring path = Join(dir, m_tag + L"_" + std::to_wstring(m_placed++) + extension);
        EXPECT_TRUE(CopyFileW(ComFixture(fixture).c_str(), path.c_str(), FALSE)) << Narrow(fixture);
        return path;
    }
    // A fixture copied under its own name (a library a server imports).
    void PlaceAsIs(const std::wstring& fixture, const std::wstring& folder = L"") {
        const std::wstring dir = folder.empty() ? m_temp.Path() : m_temp / folder;
        EXPECT_TRUE(CopyFileW(ComFixture(fixture).c_str(), Join(dir, PathFindFileNameW(fixture.c_str())).c_str(), FALSE));
    }
    // Everything named after this test's tag: marks, .cor files, App Paths keys, SharedDLLs values.
    void Clean() {
        SHDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kInProcClsid).c_str());
        SHDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kLocalClsid).c_str());
        SHDeleteKeyW(HKEY_CLASSES_ROOT, kTypeLibKey);
        DeleteSharedDllValuesContaining(m_tag);
        HKEY key = nullptr;
        WCHAR name[512];
        for (const auto& [root, path, values] : {std::tuple{HKEY_CURRENT_USER, kMarksKey, true}, {HKEY_LOCAL_MACHINE, kAppPathsKey, false}}) {
            if (RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
            for (DWORD i = 0, cch = 512; (values ? RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)
                                                 : RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)) == 0;
                 cch = 512)
                if (wcsncmp(name, m_tag.c_str(), m_tag.size()) != 0 ||
                    (values ? RegDeleteValueW(key, name) : SHDeleteKeyW(key, name)) != ERROR_SUCCESS)
                    ++i;
            RegCloseKey(key);
        }
        for (const std::wstring& folder : {KeptCorFolder(), Join(SelfDir(), L"cor")}) {
            for (const std::wstring& name : FindNames(folder, m_tag + L"*")) DeleteFileW(Join(folder, name).c_str());
        }
    }

    TempDir m_temp;
    std::wstring m_tag = UniqueName(L"orvcom", L"");
    int m_placed = 0;
};

// The same with the built kernel DLL, created through its class factory.
class KernelComTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created";
    }
    LoadedKernel m_kernel;
};

// "{T}", "{R}" and "{F}" in the text replaced by the values given.
inline std::wstring Fill(std::wstring text, const std::wstring& t, const std::wstring& r = L"", const std::wstring& f = L"") {
    for (const auto& [key, value] : {std::pair{L"{T}", &t}, {L"{R}", &r}, {L"{F}", &f}})
        for (size_t at; (at = text.find(key)) != std::wstring::npos;) text.replace(at, 3, *value);
    return text;
}
// The texts as log lines, filled in; a leading "W " or "E " gives the severity.
inline std::vector<std::wstring> Expand(const std::vector<std::wstring>& texts, const std::wstring& t,
                                        const std::wstring& r = L"", const std::wstring& f = L"") {
    std::vector<std::wstring> lines;
    for (const std::wstring& text : texts) {
        const bool marked = text.size() > 2 && text[1] == L' ';
        lines.push_back(Line(marked ? text[0] : L' ', Fill(text.substr(marked ? 2 : 0), t, r, f)));
    }
    return lines;
}

}  // namespace orv::test::com
