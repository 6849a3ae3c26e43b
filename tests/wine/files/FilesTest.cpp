#include "FilesTest.h"

#include <shlwapi.h>

namespace orv::test::files {

std::wstring Fixture(const std::wstring& name, const wchar_t* tree) { return Join(Join(FixturesDir(), tree), name); }

std::wstring OtherFixture(const std::wstring& name) {
    const std::wstring dir = OtherFixturesDir();
    return dir.empty() ? dir : Join(Join(dir, L"files"), name);
}

Holder::Holder(const std::wstring& path, bool shareRead) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    m_ready = CreateEventW(&sa, TRUE, FALSE, nullptr);
    std::wstring command = L"\"" + Fixture(L"holder.exe") + L"\" \"" + path + L"\" " +
                           std::to_wstring(reinterpret_cast<uintptr_t>(m_ready)) + (shareRead ? L" read" : L"");
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return;
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    const HANDLE either[] = {m_ready, m_process};
    m_holding = WaitForMultipleObjects(2, either, FALSE, 10000) == WAIT_OBJECT_0;
}

Holder::~Holder() {
    if (m_process) {
        TerminateProcess(m_process, 0);
        WaitForSingleObject(m_process, 10000);
        CloseHandle(m_process);
    }
    if (m_ready) CloseHandle(m_ready);
}

bool Copy(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE); }

bool IsFolder(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

FILETIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    const SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SetWriteTime(const std::wstring& path, const FILETIME& time) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok;
}

std::wstring BlobText(const FILETIME& time) {
    std::wstring text;
    WCHAR pair[3];
    for (size_t i = 0; i < sizeof(time); ++i) {
        _snwprintf(pair, 3, L"%02X", reinterpret_cast<const BYTE*>(&time)[i]);
        text.append(pair, 2);
    }
    return text;
}

std::wstring Line(WCHAR severity, const std::wstring& text, int level) {
    return L"TqOrvWexKr " + std::to_wstring(level) + L" " + severity + L" " + text;
}

std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error) {
    return Line(severity, text) + L": error " + std::to_wstring(error) + L" ";
}

::testing::AssertionResult LogHas(const std::wstring& log, const Lines& lines, const Lines& absent,
                                  const std::wstring& source, const std::wstring& target) {
    size_t from = 0;
    for (std::wstring line : lines) {
        for (const auto& [key, value] : {std::pair{L"{S}", &source}, std::pair{L"{T}", &target}})
            for (size_t at = line.find(key); at != std::wstring::npos; at = line.find(key)) line.replace(at, 3, *value);
        const size_t at = log.find(line, from);
        if (at == std::wstring::npos)
            return ::testing::AssertionFailure() << "\"" << Narrow(line) << "\" is "
                                                 << (log.find(line) == std::wstring::npos ? "missing" : "out of order")
                                                 << " in the log:\n" << Narrow(log);
        from = at + line.size();
    }
    for (const auto& text : absent)
        if (log.find(text) != std::wstring::npos)
            return ::testing::AssertionFailure() << "unexpected \"" << Narrow(text) << "\" in the log:\n" << Narrow(log);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoTemporaryCopies(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(folder, L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return ::testing::AssertionSuccess();
    auto result = ::testing::AssertionSuccess();
    do {
        const std::wstring name = entry.cFileName, path = Join(folder, name);
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            result = NoTemporaryCopies(path);
        } else if (_wcsnicmp(name.c_str(), L"_orv", 4) == 0) {
            result = ::testing::AssertionFailure() << "temporary copy left behind: " << Narrow(path);
        }
    } while (result && FindNextFileW(find, &entry));
    FindClose(find);
    return result;
}

InstallRecord::InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode)
    : m_source(B(source)), m_target(B(target)) {
    m_info.bstrSource = m_source.get();
    m_info.bstrTarget = m_target.get();
    m_info.dwInstallMode = mode;
    m_info.lpOrvCheckInfo = Sentinel();
    m_info.dwVersion = 0xdeadbeef;
}

InstallRecord::~InstallRecord() {
    if (Untouched() || !m_info.lpOrvCheckInfo) return;
    for (size_t i = 0; i < 3; ++i) {
        SysFreeString(m_info.lpOrvCheckInfo[i].bstrKey);
        SysFreeString(m_info.lpOrvCheckInfo[i].bstrValue);
    }
    CoTaskMemFree(m_info.lpOrvCheckInfo);
}

std::string InstallRecord::CheckInfo() const {
    if (Untouched() || !m_info.lpOrvCheckInfo) return "none";
    auto show = [](BSTR s) { return s ? Narrow(std::wstring(s, SysStringLen(s))) : std::string("null"); };
    std::string text;
    for (size_t i = 0; i < 3; ++i)
        text += show(m_info.lpOrvCheckInfo[i].bstrKey) + "=" + show(m_info.lpOrvCheckInfo[i].bstrValue) + ";";
    return text;
}

static const wchar_t kRegSrvKey[] = L"Software\\OrvTest\\files_regsrv";  // written by regsrv.dll's entry

void KernelTest::SetUp() {
    FilesTest::SetUp();
    SHDeleteKeyW(HKEY_CURRENT_USER, kRegSrvKey);
    m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
    ASSERT_NE(m_module, nullptr) << GetLastError();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(m_module, "DllGetClassObject"));
    ASSERT_NE(get, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(get(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&m_kernel)), S_OK);
    factory->Release();
}

void KernelTest::TearDown() {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey)) << "a library was registered";
    if (m_kernel) m_kernel->Release();
    if (m_module) FreeLibrary(m_module);
    FilesTest::TearDown();
}

}  // namespace orv::test::files
