#include "FilesTest.h"

#include <cstdio>

namespace orv::test::files {

std::wstring Fixture(const std::wstring& name) { return Join(Join(FixturesDir(), L"files"), name); }

std::wstring OtherFixture(const std::wstring& name) {
    const std::wstring dir = OtherFixturesDir();
    return dir.empty() ? std::wstring() : Join(Join(dir, L"files"), name);
}

std::wstring UtFixture(const std::wstring& name) { return Join(Join(FixturesDir(), L"ut"), name); }

Holder::Holder(const std::wstring& path, Sharing sharing) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE stdinRead = nullptr, stdoutRead = nullptr, stdoutWrite = nullptr;
    if (!CreatePipe(&stdinRead, &m_stdinWrite, &sa, 0)) return;
    if (!CreatePipe(&stdoutRead, &stdoutWrite, &sa, 0)) {
        CloseHandle(stdinRead);
        return;
    }
    SetHandleInformation(m_stdinWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(stdoutRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = stdinRead;
    si.hStdOutput = stdoutWrite;
    si.hStdError = stdoutWrite;
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + Fixture(L"holder.exe") + L"\" \"" + path + L"\"";
    if (sharing == Sharing::kRead) command += L" read";
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(stdinRead);
    CloseHandle(stdoutWrite);
    if (started) {
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        std::string said;
        char buffer[64];
        DWORD got = 0;
        while (said.find('\n') == std::string::npos && ReadFile(stdoutRead, buffer, sizeof(buffer), &got, nullptr) &&
               got > 0)
            said.append(buffer, got);
        m_holding = said.rfind("held", 0) == 0;
    }
    CloseHandle(stdoutRead);
}

Holder::~Holder() {
    if (m_stdinWrite) CloseHandle(m_stdinWrite);  // the holder's standard input ends: it lets go
    if (m_process) {
        WaitForSingleObject(m_process, 10000);
        CloseHandle(m_process);
    }
}

bool Write(const std::wstring& path, const std::string& bytes) { return WriteBytes(path, bytes); }
std::string Content(const std::wstring& path) { return ReadBytes(path); }

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
bool SetAttributes(const std::wstring& path, DWORD attributes) {
    return SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SetWriteTime(const std::wstring& path, const FILETIME& time) {
    const DWORD attributes = Attributes(path);
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    bool ok = false;
    if (file != INVALID_HANDLE_VALUE) {
        ok = SetFileTime(file, nullptr, nullptr, &time) != FALSE;
        CloseHandle(file);
    }
    if (readOnly) SetAttributes(path, attributes);
    return ok;
}

bool SetAge(const std::wstring& path, int daysAgo) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    // Whole seconds: every file system keeps them.
    t.QuadPart = (t.QuadPart / 10000000ULL) * 10000000ULL;
    t.QuadPart -= static_cast<ULONGLONG>(daysAgo) * 24ULL * 3600ULL * 10000000ULL;
    FILETIME time{t.LowPart, t.HighPart};
    return SetWriteTime(path, time);
}

bool Copy(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

bool IsFolder(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ShortPath(const std::wstring& path) {
    WCHAR buffer[MAX_PATH];
    const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buffer, n) : std::wstring();
}

std::wstring LongPathBelow(const std::wstring& folder, size_t length) {
    std::wstring path = folder + L"\\";
    while (path.size() < length) path += (path.size() % 60 == 59) ? L'\\' : L'n';
    path.resize(length);
    if (path.back() == L'\\') path.back() = L'z';
    return path;
}

namespace {

void CollectTemporaries(const std::wstring& folder, std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(folder, L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectTemporaries(Join(folder, name), found);
        } else if (name.size() >= 4 && CompareStringOrdinal(name.c_str(), 4, L"_orv", 4, TRUE) == CSTR_EQUAL) {
            found.push_back(Join(folder, name));
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

::testing::AssertionResult NoTemporaryCopies(const std::wstring& folder) {
    std::vector<std::wstring> found;
    CollectTemporaries(folder, found);
    if (found.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "temporary copies left behind:";
    for (const auto& path : found) failure << " " << Narrow(path);
    return failure;
}

std::wstring Line(WCHAR severity, const std::wstring& text, int level) {
    return L"TqOrvWexKr " + std::to_wstring(level) + L" " + std::wstring(1, severity) + L" " + text;
}

std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error) {
    return Line(severity, text) + L": error " + std::to_wstring(error) + L" ";
}

::testing::AssertionResult HasLinesInOrder(const std::wstring& log, const std::vector<std::wstring>& lines) {
    size_t from = 0;
    for (const auto& line : lines) {
        const size_t at = log.find(line, from);
        if (at == std::wstring::npos) {
            const bool elsewhere = log.find(line) != std::wstring::npos;
            return ::testing::AssertionFailure() << "line \"" << Narrow(line) << "\" "
                                                 << (elsewhere ? "is out of order" : "is missing") << " in the log:\n"
                                                 << Narrow(log);
        }
        from = at + line.size();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LacksText(const std::wstring& log, const std::wstring& text) {
    if (log.find(text) == std::wstring::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "unexpected \"" << Narrow(text) << "\" in the log:\n" << Narrow(log);
}

std::string Hex(HRESULT hr) {
    char buffer[16];
    snprintf(buffer, sizeof(buffer), "0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

std::wstring BlobText(const FILETIME& time) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&time);
    std::wstring text;
    for (size_t i = 0; i < sizeof(time); ++i) {
        WCHAR pair[3];
        _snwprintf(pair, 3, L"%02X", bytes[i]);
        text.append(pair, 2);
    }
    return text;
}

void FilesTest::SetUp() {
    ASSERT_FALSE(FixturesDir().empty()) << "ORV_FIXTURES is not set";
    ASSERT_TRUE(FileExists(Fixture(L"holder.exe"))) << "fixtures not built";
}

void FilesTest::TearDown() { EXPECT_TRUE(NoTemporaryCopies(m_temp.Path())); }

std::wstring Expand(std::wstring text, const std::wstring& source, const std::wstring& target) {
    const std::pair<const wchar_t*, const std::wstring*> keys[] = {{L"{S}", &source}, {L"{T}", &target}};
    for (const auto& key : keys)
        for (size_t at = text.find(key.first); at != std::wstring::npos; at = text.find(key.first))
            text.replace(at, 3, *key.second);
    return text;
}

std::vector<std::wstring> ExpandAll(const std::vector<std::wstring>& lines, const std::wstring& source,
                                    const std::wstring& target) {
    std::vector<std::wstring> out;
    for (const auto& line : lines) out.push_back(Expand(line, source, target));
    return out;
}


namespace {
typedef HRESULT(STDAPICALLTYPE* PFN_GetClassObject)(REFCLSID, REFIID, void**);

std::string Show(BSTR s) { return s ? "\"" + Narrow(s) + "\"" : "null"; }

bool Same(BSTR got, const wchar_t* expected) {
    if (!expected) return got == nullptr;
    return got && std::wstring(got, SysStringLen(got)) == expected;
}
}  // namespace

void KernelFixture::SetUp() {
    m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
    ASSERT_NE(m_module, nullptr) << GetLastError();
    auto getClassObject = reinterpret_cast<PFN_GetClassObject>(GetProcAddress(m_module, "DllGetClassObject"));
    ASSERT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    const HRESULT hr =
        factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&m_kernel));
    factory->Release();
    ASSERT_EQ(hr, S_OK);
}

void KernelFixture::TearDown() {
    if (m_kernel) m_kernel->Release();
    m_kernel = nullptr;
    if (m_module) FreeLibrary(m_module);
    m_module = nullptr;
}

InstallRecord::InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode, ULONG flags)
    : m_source(source), m_target(target) {
    m_info.bstrSource = m_source.Get();
    m_info.bstrTarget = m_target.Get();
    m_info.dwInstallMode = mode;
    m_info.dwFlags = flags;
    m_info.lpOrvCheckInfo = Sentinel();
    m_info.dwVersion = 0xdeadbeef;
}

_ORV_CHECK_INFO* InstallRecord::Sentinel() { return reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef)); }

InstallRecord::~InstallRecord() {
    _ORV_CHECK_INFO* records = m_info.lpOrvCheckInfo;
    if (!records || records == Sentinel()) return;
    for (size_t i = 0; i < 3; ++i) {
        SysFreeString(records[i].bstrKey);
        SysFreeString(records[i].bstrValue);
    }
    CoTaskMemFree(records);
}

bool InstallRecord::CheckInfoUntouched() const { return m_info.lpOrvCheckInfo == Sentinel(); }

const _ORV_CHECK_INFO* InstallRecord::CheckInfo() const {
    return m_info.lpOrvCheckInfo == Sentinel() ? nullptr : m_info.lpOrvCheckInfo;
}

::testing::AssertionResult CheckInfoIs(const _ORV_CHECK_INFO* records, const wchar_t* key0, const wchar_t* value0,
                                       const wchar_t* key1, const wchar_t* value1) {
    if (!records) return ::testing::AssertionFailure() << "no check-info array";
    if (!Same(records[0].bstrKey, key0) || !Same(records[0].bstrValue, value0) || !Same(records[1].bstrKey, key1) ||
        !Same(records[1].bstrValue, value1) || records[2].bstrKey || records[2].bstrValue)
        return ::testing::AssertionFailure()
               << "check info {" << Show(records[0].bstrKey) << ", " << Show(records[0].bstrValue) << "} {"
               << Show(records[1].bstrKey) << ", " << Show(records[1].bstrValue) << "} {" << Show(records[2].bstrKey)
               << ", " << Show(records[2].bstrValue) << "}";
    return ::testing::AssertionSuccess();
}

}  // namespace orv::test::files
