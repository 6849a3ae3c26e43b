// COM servers through the kernel DLL: PostRebootRegister; InstallCheck of
// files that InstallFile installed, after the world changed.
#include <optional>

#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

using KernelCom = KernelComTest;

TEST_F(KernelCom, PostRebootRegister) {
    const std::wstring v1 = Place(L"srv_v1.dll"), gone = Place(L"srv_needgone.dll", L"gone");
    const std::wstring part = Place(L"srv_needpart.dll", L"part"), av = Place(L"srv_av.dll");
    PlaceAsIs(L"orvpart.dll", L"part");
    const std::wstring moduleMissing = Win32Line(L'E', L"In process registration failed", ERROR_MOD_NOT_FOUND);
    const struct { const char* label; std::wstring server; HRESULT expected; std::vector<std::wstring> lines; } rows[] = {
        {"the registration program registers it", v1, S_OK,
         Expand({L"Post Reboot Step: Attempting registration of {T}", L"File type: InProc COM server file",
                 L"CreateProcess on: 'orvregsv.exe {T} /s /w'", L"Post reboot registration succeeded"}, v1)},
        {"a library that is not there", gone, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
         {Win32Line(L'E', L"Out of process registration failed.", ERROR_MOD_NOT_FOUND),
          Line(L' ', L"Falling back to in process self registration"), moduleMissing,
          Line(L'E', L"The module " + gone + L" could not be loaded due to unresolved module dependencies:"),
          Line(L'E', L"Module orvgone.dll is unresolved")}},
        // Windows refuses to load it (127); Wine loads it and the call of the missing function raises an exception.
        {"a function that is not there", part, E_UNEXPECTED,
         {Win32Line(L'E', L"In process registration failed", 0xFFFF),
          Line(L'E', L"Export OrvPartMissing <-- " + m_temp / L"part\\orvpart.dll" + L" ( version 0.0.0.0 ) is unresolved")}},
        {"a server that faults, in both processes", av, E_UNEXPECTED,
         {Win32Line(L'E', L"Out of process registration failed.", 574), Line(L'E', L"Exception 0xC0000005 raised while loading " + av),
          Win32Line(L'E', L"In process registration failed", 0xFFFF)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Clean();
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->PostRebootRegister(Bstr(row.server).Get())), Hex(row.expected));
        EXPECT_TRUE(LogHas(log.Text(), row.lines));
        EXPECT_EQ(RegisteredServer(kInProcClsid).empty(), FAILED(row.expected));
    }
    // The faults did not harm the kernel object: it still installs a file.
    const std::wstring data = m_temp / L"data.txt", target = m_temp / L"installed\\data.txt";
    ASSERT_TRUE(WriteBytes(data, "data"));
    InstallRecord record(data, target, 1);
    EXPECT_EQ(Hex(m_kernel->InstallFile(record.Get())), Hex(S_OK));
    EXPECT_EQ(ReadBytes(target), "data");
}

// "{T}" is the installed file, "{R}" a file of its name in the folder "elsewhere".
TEST_F(KernelCom, InstallCheckAfterInstallFile) {
    enum Change { kNone, kTouched, kDeleted, kUnregistered, kElsewhere };
    using Records = std::vector<std::pair<const wchar_t*, const wchar_t*>>;
    const std::wstring older = L"Error: File versions lower then expected. Current Version: 1.0.0.0 Installed Version: 2.0.0.0",
                       newer = L"Warning: File versions do not match. Current Version: ",
                       paths = L"Error: COM Server registration paths do not match. RegPath: ",
                       version = L"File '{T}' suffers version mismatch - ", untouched = L"<untouched>", none = L"<null>";
    const HRESULT kLower = static_cast<HRESULT>(0x800407D4L), kUnknown = static_cast<HRESULT>(0x800407D7L),
                  kOther = static_cast<HRESULT>(0x800407D8L);
    // fixture, replacement: below the fixtures folder (no fixture: a data file); records: instead of those
    // InstallFile recorded (a null record is added); line: the log line's start (none: no "suffers" line).
    const struct { const char* label; const wchar_t *fixture, *replacement; Change change; std::optional<Records> records;
                   HRESULT expected; std::wstring text, line; } rows[] = {
        {"older library", L"files\\v2.dll", L"files\\v1.dll", kNone, {}, kLower, older, L"E " + version + older},
        {"newer library", L"files\\v1.dll", L"files\\v2.dll", kNone, {}, 0x000407D5,
         newer + L"2.0.0.0 Installed Version: 1.0.0.0", L"W " + version + newer},
        {"program deleted", L"files\\plain.exe", nullptr, kDeleted, {}, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         L"Error: File not found", L""},
        {"touched library without version", L"files\\nover.dll", nullptr, kTouched, {}, S_OK,
         L"TimeStamp at installation: 06.05.2010 07:08:09. TimeStamp now: 02.01.2011 03:04:05.",
         L"W File '{T}' suffers timestamp mismatch - TimeStamp at installation: "},
        {"touched data file", nullptr, nullptr, kTouched, {}, S_OK, untouched, L""},
        {"server as installed", L"com\\srv_v1.dll", nullptr, kNone, {}, S_OK, none, L""},
        {"older server, unregistered", L"com\\srv_v2.dll", L"com\\srv_v1.dll", kUnregistered, {}, kOther,
         older + paths + L"N/A ( not registered ) ", L"E " + version},
        {"server registered elsewhere", L"com\\srv_v1.dll", nullptr, kElsewhere, {}, kOther, paths + L"{R} ", L""},
        {"not registered, as recorded", L"com\\srv_v1.dll", nullptr, kUnregistered,
         Records{{L"comserverregpath", L"n/a ( NOT registered )"}}, kUnknown, none, L""},
        {"first of equal keys, letter case counts", L"files\\v1.dll", nullptr, kNone,
         Records{{L"Version", L"9.0.0.0"}, {L"version", L"1.0.0.0"}, {L"version", L"9.0.0.0"}}, S_OK, none, L""},
        {"nothing after a null key", L"com\\srv_v1.dll", nullptr, kUnregistered,
         Records{{L"version", L"1.0.0.0"}, {nullptr, L"x"}, {L"comserverregpath", L"C:\\x.dll"}}, S_OK, none, L""},
        {"empty array", L"files\\v2.dll", L"files\\v1.dll", kNone, Records{}, S_OK, none, L""},
        {"null values", L"com\\srv_v1.dll", nullptr, kNone, Records{{L"version", nullptr}, {L"comserverregpath", nullptr}},
         kOther, newer + L"1.0.0.0 Installed Version: 0.0.0.0" + paths + L"{T} ", L"W " + version},
    };
    CreateDirectoryW((m_temp / L"source").c_str(), nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Clean();
        const std::wstring name =
            m_tag + L"_" + std::to_wstring(m_placed++) + PathFindExtensionW(row.fixture ? row.fixture : L".txt");
        const std::wstring source = m_temp / (L"source\\" + name), target = m_temp / name;
        const std::wstring other = m_temp / (L"elsewhere\\" + name);
        ASSERT_TRUE(row.fixture ? CopyFileW(Join(FixturesDir(), row.fixture).c_str(), source.c_str(), FALSE)
                                : WriteBytes(source, "data"));
        SetTime(source, FILETIME{0xE1E71280, 0x01CAECEA});  // 2010-05-06 07:08:09
        InstallRecord record(source, target, /*INSTALL_MODE_PATCH*/ 3);
        ASSERT_EQ(Hex(m_kernel->InstallFile(record.Get())), Hex(S_OK));
        ASSERT_TRUE(!row.replacement || CopyFileW(Join(FixturesDir(), row.replacement).c_str(), target.c_str(), FALSE));
        if (row.change == kTouched) SetTime(target, FILETIME{0xB6F3C080, 0x01CBAA29});  // 2011-01-02 03:04:05
        if (row.change == kDeleted) DeleteFileW(target.c_str());
        if (row.change == kUnregistered) Clean();
        if (row.change == kElsewhere) SetValue(HKEY_CLASSES_ROOT, ServerKey(kInProcClsid), L"", REG_SZ, Utf16(other));
        std::vector<_ORV_CHECK_INFO> own;
        for (const auto& [key, value] : row.records.value_or(Records{}))
            own.push_back({key ? SysAllocString(key) : nullptr, value ? SysAllocString(value) : nullptr});
        own.push_back({nullptr, nullptr});
        LogCursor log;
        BSTR result = reinterpret_cast<BSTR>(uintptr_t{0xdeadbeef});
        _ORV_CHECK_INFO* facts = row.records ? own.data() : record.Get()->lpOrvCheckInfo;
        EXPECT_EQ(Hex(m_kernel->InstallCheck(Bstr(target).Get(), facts, &result)), Hex(row.expected));
        const bool stored = result != reinterpret_cast<BSTR>(uintptr_t{0xdeadbeef});
        EXPECT_EQ(Narrow(!stored ? untouched : result ? result : none), Narrow(Fill(row.text, target, other)));
        if (stored) SysFreeString(result);
        for (const _ORV_CHECK_INFO& fact : own) SysFreeString(fact.bstrKey), SysFreeString(fact.bstrValue);
        EXPECT_TRUE(row.line.empty() ? Lacks(log.Text(), L"suffers") : LogHas(log.Text(), Expand({row.line}, target, other)));
    }
}
