#include "FilesTest.h"

#include <shlwapi.h>

namespace orv::test::files {

std::wstring Fixture(const std::wstring& name, const wchar_t* tree) { return Join(Join(FixturesDir(), tree), name); }

std::wstring OtherFixture(const std::wstring& name) {
    const std::wstring dir = OtherFixturesDir();
    return dir.empty() ? dir : Join(Join(dir, L"files"), name);
}

Holder::Holder(const std::wstring& path, Share share) {
    static const wchar_t* const kModes[] = {L"", L" read", L" delete", L" map"};
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    m_ready = CreateEventW(&sa, TRUE, FALSE, nullptr);
    std::wstring command = L"\"" + Fixture(L"holder.exe") + L"\" \"" + path + L"\" " +
                           std::to_wstring(reinterpret_cast<uintptr_t>(m_ready)) + kModes[static_cast<int>(share)];
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

::testing::AssertionResult NoTemporaryCopies(const std::wstring& folder) {
    for (const std::wstring& name : FindNames(folder, L"*")) {
        const std::wstring path = Join(folder, name);
        if (name == L"." || name == L"..") continue;
        if (IsFolder(path)) {
            if (auto below = NoTemporaryCopies(path); !below) return below;
        } else if (_wcsnicmp(name.c_str(), L"_orv", 4) == 0) {
            return ::testing::AssertionFailure() << "temporary copy left behind: " << Narrow(path);
        }
    }
    return ::testing::AssertionSuccess();
}

static const wchar_t kRegSrvKey[] = L"Software\\OrvTest\\files_regsrv";  // written by regsrv.dll's entry

void KernelTest::SetUp() {
    FilesTest::SetUp();
    SHDeleteKeyW(HKEY_CURRENT_USER, kRegSrvKey);
    ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created";
}

void KernelTest::TearDown() {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey)) << "a library was registered";
    FilesTest::TearDown();
}

}  // namespace orv::test::files
