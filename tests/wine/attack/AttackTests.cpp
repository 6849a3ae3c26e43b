// Every kernel method under hostile arguments, one table per category. Each
// call must return within 10 s; afterwards the canary set must be unchanged
// byte for byte (Attack.h). Rows say only what class of result they expect:
// the tests of each subsystem check the exact results and log lines.
#include <shlobj.h>
#include <shlwapi.h>

#include "Attack.h"
#include "KernelRecords.h"

using namespace orv::test;
using namespace orv::test::attack;

namespace {

constexpr ULONG kPrimary = 1, kRepair = 2;

// A BSTR from any bytes: odd lengths and embedded nulls included.
Bstr RawBstr(const void* bytes, UINT size) {
    return Bstr(SysAllocStringByteLen(static_cast<const char*>(bytes), size));
}

std::wstring Repeat(const std::wstring& piece, size_t times) {
    std::wstring out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Texts no argument should ever be: each one a BSTR (null separately). Those
// that name a file name one in the folder (relative ones too: the current
// folder is the attack's).
std::vector<std::pair<std::string, Bstr>> Garbage(const std::wstring& folder) {
    std::vector<std::pair<std::string, Bstr>> g;
    g.emplace_back("empty", B(L""));
    g.emplace_back("embedded null", B(folder + std::wstring(L"\\a\0C:\\b.txt", 11)));
    g.emplace_back("100000 characters", B(std::wstring(100000, L'x')));
    g.emplace_back("odd byte length", RawBstr("\x41\x00\x42", 3));
    g.emplace_back("format specifiers", B(L"%s%n%x%n%s%S%hs%ls%p%99999d"));
    g.emplace_back("lone surrogates", B(L"\xD800\xDFFF\xDC00x\xD800"));
    g.emplace_back("control characters", B(L"a\r\n2026-01-01 00:00:00.000  1/1  TqOrvWexKr 2 E forged\x1b[2J\t\b"));
    g.emplace_back("right-to-left override", B(folder + L"\\\x202Etxt.exe"));
    return g;
}

// Makes the key the kernel's current key (InstallRegKey), the interface let go.
HRESULT Open(IOrvInstallerKernel* kernel, BSTR path) {
    IOrvRegKey* key = nullptr;
    const HRESULT hr = kernel->InstallRegKey(path, &key);
    if (key) key->Release();
    return hr;
}

// UnInstallRegKey, the interface let go.
HRESULT Remove(IOrvInstallerKernel* kernel, BSTR path, VARIANT_BOOL forced) {
    IOrvRegKey* key = nullptr;
    const HRESULT hr = kernel->UnInstallRegKey(path, &key, forced);
    if (key) key->Release();
    return hr;
}

// GetFileInfo into a record of sentinels, then FreeFileInfo as a caller does.
HRESULT FileInfo(IOrvInstallerKernel* kernel, BSTR path) {
    _ORV_FILE_INFO info{};
    const HRESULT hr = kernel->GetFileInfo(path, &info);
    if (SUCCEEDED(hr)) kernel->FreeFileInfo(&info);
    return hr;
}

// An install record owning its strings; an array handed back is freed as a caller frees it.
struct Record {
    _ORV_FILE_INSTALL_INFO info;
    Record(BSTR s, BSTR t, ULONG mode = kRepair, ULONG flags = 0) : info{s, t, nullptr, nullptr, mode, flags, nullptr, 0} {}
    ~Record() {
        if (_ORV_CHECK_INFO* records = info.lpOrvCheckInfo) {
            for (int i = 0; i < 3; ++i) {
                SysFreeString(records[i].bstrKey);
                SysFreeString(records[i].bstrValue);
            }
            CoTaskMemFree(records);
        }
    }
};

}  // namespace

// Every BSTR argument of every method, given null (where the interface
// allows it) and each garbage text, the other arguments sensible.
TEST_F(AttackTest, Arguments) {
    Category c("BSTR arguments", m_temp.Path());
    ASSERT_TRUE(WriteBytes(Path(L"source.txt"), "source"));
    const Bstr source = B(Path(L"source.txt")), target = B(Path(L"target.txt")), key = B(L"HKCU\\Software\\" + m_tag),
               folder = B(L"Desktop\\" + m_tag + L"_link");
    IOrvRegKey* regKey = nullptr;
    ASSERT_EQ(m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey)), S_OK);
    using Call = std::function<HRESULT(BSTR)>;
    IOrvInstallerKernel* k = m_kernel;
    const std::vector<std::pair<std::string, Call>> positions = {
        {"InstallFile source", [&](BSTR b) { Record r(b, target.get()); return k->InstallFile(&r.info); }},
        {"InstallFile target", [&](BSTR b) { Record r(source.get(), b); return k->InstallFile(&r.info); }},
        {"InstallFile App Paths", [&](BSTR b) { Record r(source.get(), target.get(), kPrimary); r.info.bstrAppPaths = b; return k->InstallFile(&r.info); }},
        {"InstallFile install command", [&](BSTR b) { Record r(source.get(), target.get(), kPrimary); r.info.bstrDllInstallCmd = b; return k->InstallFile(&r.info); }},
        {"UnInstallFile source", [&](BSTR b) { Record r(b, target.get()); return k->UnInstallFile(&r.info); }},
        {"UnInstallFile target", [&](BSTR b) { Record r(source.get(), b); return k->UnInstallFile(&r.info); }},
        {"CopyFile source", [&](BSTR b) { return k->CopyFile(b, target.get(), VARIANT_TRUE); }},
        {"CopyFile target", [&](BSTR b) { return k->CopyFile(source.get(), b, VARIANT_TRUE); }},
        {"DeleteFile source", [&](BSTR b) { return k->DeleteFile(b, target.get()); }},
        {"DeleteFile target", [&](BSTR b) { return k->DeleteFile(source.get(), b); }},
        {"UnShareFile", [&](BSTR b) { return k->UnShareFile(b); }},
        {"PostRebootRegister", [&](BSTR b) { return k->PostRebootRegister(b); }},
        {"PreparePostRebootCopyFile source", [&](BSTR b) { return k->PreparePostRebootCopyFile(b, target.get(), kPrimary); }},
        {"PreparePostRebootCopyFile target", [&](BSTR b) { return k->PreparePostRebootCopyFile(source.get(), b, kPrimary); }},
        {"PreparePostRebootDeleteFile", [&](BSTR b) { return k->PreparePostRebootDeleteFile(b); }},
        {"InstallLink command line", [&](BSTR b) { return k->InstallLink(b, folder.get(), nullptr, VARIANT_FALSE); }},
        {"InstallLink shell folder", [&](BSTR b) { return k->InstallLink(source.get(), b, nullptr, VARIANT_FALSE); }},
        {"InstallLink description", [&](BSTR b) { return k->InstallLink(source.get(), folder.get(), b, VARIANT_FALSE); }},
        {"UnInstallLink command line", [&](BSTR b) { return k->UnInstallLink(b, folder.get(), 0); }},
        {"UnInstallLink shell folder", [&](BSTR b) { return k->UnInstallLink(source.get(), b, 0); }},
        {"InstallRegKey", [&](BSTR b) { return Open(k, b); }},
        {"UnInstallRegKey", [&](BSTR b) { return Remove(k, b, VARIANT_FALSE); }},
        {"UnInstallRegKey forced", [&](BSTR b) { return Remove(k, b, VARIANT_TRUE); }},
        {"InstallStringValue name", [&](BSTR b) { Open(k, key.get()); return regKey->InstallStringValue(b, key.get(), VARIANT_TRUE, VARIANT_TRUE); }},
        {"InstallStringValue data", [&](BSTR b) { Open(k, key.get()); return regKey->InstallStringValue(key.get(), b, VARIANT_TRUE, VARIANT_FALSE); }},
        {"InstallMultiStringValue data", [&](BSTR b) { Open(k, key.get()); BSTR list[] = {b, nullptr, b}; return regKey->InstallMultiStringValue(key.get(), list, 3, VARIANT_TRUE); }},
        {"InstallIntegerValue name", [&](BSTR b) { Open(k, key.get()); return regKey->InstallIntegerValue(b, -1, VARIANT_TRUE); }},
        {"InstallBinaryValue name", [&](BSTR b) { Open(k, key.get()); BYTE data[3] = {1, 2, 3}; return regKey->InstallBinaryValue(b, data, 3, VARIANT_TRUE); }},
        {"UnInstallValue name", [&](BSTR b) { Open(k, key.get()); return regKey->UnInstallValue(b); }},
    };
    const std::vector<std::pair<std::string, Bstr>> garbage = Garbage(m_temp.Path());
    const LogCursor log;
    for (const auto& [where, call] : positions) {
        c.Row(where + ", null", Want::Any, [&] { return call(nullptr); });
        for (const auto& [what, text] : garbage) c.Row(where + ", " + what, Want::Any, [&] { return call(text.get()); });
    }
    regKey->Release();
    // The log took every text as text: no line longer than its 4096-character cut.
    const std::wstring written = log.Text();
    size_t longest = 0;
    for (size_t at = 0, end; at < written.size(); at = end + 1) {
        end = std::min(written.find(L'\n', at), written.size());
        longest = std::max(longest, end - at);
    }
    EXPECT_LT(longest, 4096u + 200u);
    c.Finish();
}

// Key paths of every shape for the key methods, then values of every shape
// on a key of the attack's own.
TEST_F(AttackTest, Registry) {
    Category c("registry keys and values", m_temp.Path());
    const std::wstring base = L"HKCU\\Software\\" + m_tag;
    const struct {
        const char* label;
        std::wstring path;
        Want want;
    } keys[] = {
        {"empty", L"", Want::Refused},
        {"top key alone", L"HKCU", Want::Refused},
        {"top key and backslash", L"HKEY_LOCAL_MACHINE\\", Want::Refused},
        {"top key and backslashes", L"HKCU\\\\\\\\", Want::Refused},
        {"unknown top key", L"HKXX\\Software\\" + m_tag, Want::Refused},
        {"no top key", L"Software\\" + m_tag, Want::Refused},
        {"plain", base + L"\\plain", Want::Works},
        {"machine", L"HKLM\\Software\\" + m_tag + L"\\machine", Want::Works},
        {"full top key name in lower case", L"hkey_current_user\\Software\\" + m_tag + L"\\lower", Want::Works},
        {"trailing backslashes", base + L"\\trailing\\\\\\", Want::Works},
        {"doubled backslashes", base + L"\\\\doubled\\\\\\x", Want::Any},
        {"forward slashes and dots", base + L"\\a/b\\..\\..\\.", Want::Works},
        {"format specifiers", base + L"\\%s%n%x%n", Want::Works},
        {"256-character name", base + L"\\" + std::wstring(256, L'k'), Want::Any},
        {"512 levels", base + Repeat(L"\\l", 510), Want::Works},
        {"513 levels", base + Repeat(L"\\l", 511), Want::Refused},
        {"32767 characters", base + L"\\" + Repeat(L"m\\", 16380), Want::Refused},
        {"embedded null", base + std::wstring(L"\\null\0\\HKLM\\Software", 20), Want::Works},
        {"control characters", base + L"\\c\r\n\t\x1b", Want::Works},
        {"surrogates", base + L"\\\xD83D\xDE00 and \xD800", Want::Any},
        {"performance data", L"HKEY_PERFORMANCE_DATA\\" + m_tag, Want::Any},
        {"dynamic data", L"HKEY_DYN_DATA\\" + m_tag, Want::Any},
        {"classes", L"HKCR\\" + m_tag, Want::Works},
    };
    IOrvRegKey* regKey = nullptr;
    for (const auto& row : keys) {
        const Bstr path = B(row.path);
        const std::string label = row.label;
        c.Row(label + ": InstallRegKey", row.want, [&] { return Open(m_kernel, path.get()); });
        c.Row(label + ": InstallRegKey without out-pointer", Want::Refused,
              [&] { return m_kernel->InstallRegKey(path.get(), nullptr); });
        c.Row(label + ": UnInstallRegKey", Want::Any, [&] { return Remove(m_kernel, path.get(), VARIANT_FALSE); });
        c.Row(label + ": UnInstallRegKey forced", row.want == Want::Refused ? Want::Refused : Want::Any,
              [&] { return Remove(m_kernel, path.get(), VARIANT_TRUE); });
    }
    SHDeleteKeyW(HKEY_CLASSES_ROOT, m_tag.c_str());

    // Values: with no current key first, then on the attack's key, in either hive view.
    ASSERT_EQ(m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey)), S_OK);
    const Bstr name = B(L"value"), data = B(L"data"), longName = B(std::wstring(16384, L'n')),
               hugeName = B(std::wstring(100000, L'n')), maxName = B(std::wstring(16383, L'n')),
               hugeData = B(std::wstring(1 << 20, L'd')), empty = B(L""), keyPath = B(base + L"\\values");
    BYTE bytes[16] = {1, 2, 3};
    BSTR list[] = {data.get(), nullptr, empty.get(), hugeData.get()};
    const struct {
        const char* label;
        Want want;
        std::function<HRESULT()> call;
    } values[] = {
        {"string value without a current key", Want::Refused,
         [&] { return regKey->InstallStringValue(name.get(), data.get(), VARIANT_TRUE, VARIANT_FALSE); }},
        {"value removal without a current key", Want::Any, [&] { return regKey->UnInstallValue(name.get()); }},
        {"open the attack's key", Want::Works, [&] { return Open(m_kernel, keyPath.get()); }},
        {"16383-character name", Want::Works, [&] { return regKey->InstallIntegerValue(maxName.get(), 1, VARIANT_TRUE); }},
        {"16384-character name", Want::Any, [&] { return regKey->InstallIntegerValue(longName.get(), 1, VARIANT_TRUE); }},
        {"100000-character name", Want::Any, [&] { return regKey->InstallStringValue(hugeName.get(), data.get(), VARIANT_FALSE, VARIANT_FALSE); }},
        {"default value, expandable", Want::Works, [&] { return regKey->InstallStringValue(empty.get(), data.get(), VARIANT_TRUE, VARIANT_TRUE); }},
        {"a megabyte of text", Want::Works, [&] { return regKey->InstallStringValue(name.get(), hugeData.get(), VARIANT_TRUE, 1); }},
        {"multi-string of none", Want::Works, [&] { return regKey->InstallMultiStringValue(name.get(), list, 0, VARIANT_TRUE); }},
        {"multi-string, negative count", Want::Works, [&] { return regKey->InstallMultiStringValue(name.get(), list, -5, VARIANT_TRUE); }},
        {"multi-string with null and empty strings", Want::Works, [&] { return regKey->InstallMultiStringValue(name.get(), list, 4, VARIANT_TRUE); }},
        {"binary of no bytes", Want::Works, [&] { return regKey->InstallBinaryValue(name.get(), bytes, 0, VARIANT_TRUE); }},
        {"binary without data", Want::Refused, [&] { return regKey->InstallBinaryValue(name.get(), nullptr, 0, VARIANT_TRUE); }},
        {"integer over a binary value, kept", Want::Works, [&] { return regKey->InstallIntegerValue(name.get(), LONG_MIN, VARIANT_FALSE); }},
        {"64-bit view flag of 1, then true", Want::Works, [&] { m_kernel->put_Use64BitHive(1); return m_kernel->put_Use64BitHive(VARIANT_TRUE); }},
        {"string in the 64-bit view", Want::Works, [&] { return regKey->InstallStringValue(name.get(), data.get(), VARIANT_FALSE, VARIANT_FALSE); }},
        {"remove a value that is not there", Want::Refused, [&] { return regKey->UnInstallValue(longName.get()); }},
        {"remove the values", Want::Works, [&] { regKey->UnInstallValue(maxName.get()); regKey->UnInstallValue(empty.get()); return regKey->UnInstallValue(name.get()); }},
    };
    for (const auto& row : values) c.Row(row.label, row.want, row.call);
    m_kernel->put_Use64BitHive(VARIANT_FALSE);
    regKey->Release();
    c.Finish();
}

// Shortcut command lines and shell folder arguments of every shape, each
// shortcut made then removed again; the target is a file of the attack's.
TEST_F(AttackTest, Shortcuts) {
    Category c("shortcut command lines and shell folders", m_temp.Path());
    const std::wstring app = Path(L"app.exe");
    ASSERT_TRUE(WriteBytes(app, "MZ"));
    std::wstring deep = m_temp.Path();
    while (deep.size() < 240) deep += L"\\dddddddddd";
    const std::wstring at259 = deep + L"\\" + std::wstring(258 - deep.size(), L'x');
    const struct {
        const char* label;
        std::wstring command, folder;
        Want want;
    } rows[] = {
        {"empty command line", L"", L"Desktop\\" + m_tag, Want::Refused},
        {"semicolons only", L";;;", L"Desktop\\" + m_tag, Want::Refused},
        {"a quote", L"\"", L"Desktop\\" + m_tag, Want::Refused},
        {"two quotes", L"\"\"", L"Desktop\\" + m_tag, Want::Refused},
        {"unterminated quote", L"\"" + app + L" -x", L"Desktop\\" + m_tag, Want::Refused},
        {"plain", app, L"Desktop\\" + m_tag, Want::Works},
        {"quoted, arguments, icon", L"\"" + app + L"\" -a \"b c\";\"" + app + L"\";-2147483649", L"StartMenu\\" + m_tag + L"\\a\\b\\c", Want::Works},
        {"1023 characters of arguments", app + L" " + std::wstring(1023, L'a'), L"Startup\\" + m_tag, Want::Works},
        {"1024 characters of arguments", app + L" " + std::wstring(1024, L'a'), L"Startup\\" + m_tag, Want::Refused},
        {"259-character target that is not there", at259, L"Desktop\\" + m_tag, Want::Refused},
        {"260-character target", at259 + L"y", L"Desktop\\" + m_tag, Want::Refused},
        {"260-character icon file", app + L";" + at259 + L"y;1", L"Desktop\\" + m_tag, Want::Refused},
        {"many semicolons", app + L";;;;;;", L"ProgramFiles\\" + m_tag, Want::Works},
        {"target on the search path", L"notepad.exe /p", L"Desktop\\" + m_tag, Want::Works},
        {"device as target", L"\\\\.\\NUL", L"Desktop\\" + m_tag, Want::Any},
        {"console as target", L"CON", L"Desktop\\" + m_tag, Want::Any},
        {"UNC target", L"\\\\localhost\\C$\\" + m_tag + L".exe", L"Desktop\\" + m_tag, Want::Refused},
        {"format specifiers", app + L" %s%n%x%n", L"Desktop\\" + m_tag + L"%s%n", Want::Works},
        {"line breaks", app + L" a\r\nb", L"Desktop\\" + m_tag + L"\r\n", Want::Any},
        {"empty shell folder", app, L"", Want::Refused},
        {"a backslash", app, L"\\", Want::Refused},
        {"keyword alone", app, L"Desktop", Want::Refused},
        {"keyword and backslashes", app, L"Desktop\\\\", Want::Refused},
        {"no keyword", app, L"Nowhere\\" + m_tag, Want::Works},
        {"dot-dot below the shell folder", app, L"Desktop\\..\\..\\..\\" + m_tag, Want::Refused},
        {"dot-dot after a sub-folder", app, L"StartMenu\\" + m_tag + L"\\..\\..\\..\\x", Want::Refused},
        {"drive", app, L"Desktop\\C:\\" + m_tag, Want::Refused},
        {"UNC", app, L"Desktop\\\\\\localhost\\C$\\" + m_tag, Want::Refused},
        {"stream", app, L"Desktop\\" + m_tag + L":stream", Want::Refused},
        {"forward slashes", app, L"Desktop\\" + m_tag + L"/../../x", Want::Refused},
        {"trailing dots and blanks", app, L"Desktop\\" + m_tag + L"\\x. . .", Want::Works},
        {"dots only", app, L"Desktop\\...", Want::Refused},
        {"device NUL", app, L"Desktop\\NUL", Want::Refused},
        {"device COM1 with an extension", app, L"StartMenu\\com1.txt", Want::Refused},
        {"device as sub-folder", app, L"Desktop\\CON\\" + m_tag, Want::Refused},
        {"wildcards", app, L"Desktop\\" + m_tag + L"*?", Want::Any},
        {"characters files cannot have", app, L"Desktop\\" + m_tag + L"<>|\"", Want::Any},
        {"260-character link path", app, L"Desktop\\" + m_tag + L"\\" + std::wstring(250, L'n'), Want::Refused},
    };
    for (const auto& row : rows) {
        const Bstr command = B(row.command), folder = B(row.folder), description = B(L"%n%n%s");
        const std::string label = row.label;
        c.Row(label + ": InstallLink", row.want, [&] {
            return m_kernel->InstallLink(command.get(), folder.get(), description.get(), VARIANT_FALSE);
        });
        c.Row(label + ": InstallLink for all users", row.want, [&] {
            return m_kernel->InstallLink(command.get(), folder.get(), nullptr, static_cast<VARIANT_BOOL>(0x7FFF));
        });
        c.Row(label + ": UnInstallLink", Want::Any, [&] { return m_kernel->UnInstallLink(command.get(), folder.get(), 0); });
        c.Row(label + ": UnInstallLink for all users", Want::Any,
              [&] { return m_kernel->UnInstallLink(command.get(), folder.get(), -2); });
    }
    c.Finish();
}

// Every spelling of a path, for each method that takes one: as a target and,
// where a source is read, as the source. Files the rows make stay in the
// attack's folder; the source they copy from never changes.
TEST_F(AttackTest, Paths) {
    Category c("path spellings", m_temp.Path());
    const std::wstring dir = m_temp.Path(), source = Path(L"source.txt"), folder = Path(L"folder");
    const std::string content = "source " + std::string(5000, 's');
    ASSERT_TRUE(WriteBytes(source, content));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(Join(folder, L"inside.txt"), "inside"));
    ASSERT_TRUE(WriteBytes(Path(L"long file name.txt"), "long"));
    WCHAR shortTarget[MAX_PATH] = L"", shortSource[MAX_PATH] = L"";
    GetShortPathNameW(Path(L"long file name.txt").c_str(), shortTarget, MAX_PATH);
    GetShortPathNameW(source.c_str(), shortSource, MAX_PATH);
    // Folders of at most 247 characters, as Windows makes them.
    std::wstring deep = dir;
    while (deep.size() + 11 <= 247) deep += L"\\dddddddddd";
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), ERROR_SUCCESS);
    const std::wstring at259 = deep + L"\\" + std::wstring(258 - deep.size(), L'n');
    // A pipe nobody reads: a call that wrote to it would wait for ever.
    const std::wstring pipeName = L"\\\\.\\pipe\\orv_attack_" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 16, 16, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const std::wstring sandboxName = dir.substr(dir.rfind(L'\\') + 1);
    const struct {
        const char* label;
        std::wstring path;
        Want want;  // as a target of a copy
    } paths[] = {
        {"empty", L"", Want::Refused},
        {"259 characters", at259, Want::Works},
        {"260 characters", at259 + L"x", Want::Refused},
        {"261 characters", at259 + L"xy", Want::Refused},
        {"32767 characters", std::wstring(32767, L'p'), Want::Refused},
        {"extended-length form", L"\\\\?\\" + Path(L"extended.txt"), Want::Any},
        {"extended-length UNC form", L"\\\\?\\UNC\\localhost\\C$\\" + dir.substr(3) + L"\\xunc.txt", Want::Any},
        {"UNC", L"\\\\localhost\\C$\\" + dir.substr(3) + L"\\unc.txt", Want::Any},
        {"device namespace NUL", L"\\\\.\\NUL", Want::Refused},
        {"NUL", L"NUL", Want::Refused},
        {"NUL in a folder", Path(L"nul"), Want::Refused},
        {"CON with an extension", Path(L"con.txt"), Want::Refused},
        {"COM1", L"COM1", Want::Refused},
        {"LPT1 with blanks", Path(L"lpt1 .dll"), Want::Refused},
        {"CONOUT$", L"CONOUT$", Want::Refused},
        {"a pipe nobody reads", pipeName, Want::Refused},
        {"physical drive", L"\\\\.\\PhysicalDrive0", Want::Refused},
        {"volume", L"\\\\.\\C:", Want::Refused},
        {"trailing dot", Path(L"dot.txt."), Want::Any},
        {"trailing blanks", Path(L"blank.txt  "), Want::Any},
        {"folder with a trailing dot", Path(L"folder.\\dotted.txt"), Want::Any},
        {"stream", Path(L"stream.txt:alternate"), Want::Any},
        {"data stream", Path(L"data.txt::$DATA"), Want::Any},
        {"stream of the folder", dir + L":alternate", Want::Any},
        {"wildcard star", Path(L"*.txt"), Want::Any},
        {"wildcard question mark", Path(L"sourc?.txt"), Want::Any},
        {"relative", L"relative.txt", Want::Works},
        {"relative, up and down", L"..\\" + sandboxName + L"\\updown.txt", Want::Works},
        {"dot-dot inside", Path(L"folder\\..\\dotdot.txt"), Want::Works},
        {"forward slashes", dir + L"/forward.txt", Want::Works},
        {"forward slashes, folder to make", dir + L"/slash/forward.txt", Want::Any},
        {"short name", shortTarget, Want::Works},
        {"existing folder", folder, Want::Refused},
        {"folder with a trailing backslash", folder + L"\\", Want::Refused},
        {"drive root", L"C:\\", Want::Refused},
        {"drive alone", L"C:", Want::Refused},
        {"the source itself", source, Want::Any},
        {"the source by its short name", shortSource, Want::Any},
        {"the source in extended-length form", L"\\\\?\\" + source, Want::Any},
        {"the source by another drive letter", L"Y:" + source.substr(2), Want::Any},
        {"characters outside the BMP", Path(L"\xD83D\xDE00 \x202E.txt"), Want::Works},
    };
    const Bstr src = B(source), copy = B(Path(L"copy.txt"));
    for (const auto& row : paths) {
        const Bstr p = B(row.path);
        const std::string label = row.label;
        const Want removal = row.want == Want::Refused ? Want::Refused : Want::Any;
        c.Row(label + ": CopyFile target", row.want, [&] { return m_kernel->CopyFile(src.get(), p.get(), VARIANT_TRUE); });
        c.Row(label + ": InstallFile target", row.want, [&] { Record r(src.get(), p.get()); return m_kernel->InstallFile(&r.info); });
        c.Row(label + ": PreparePostRebootCopyFile target", removal, [&] { return m_kernel->PreparePostRebootCopyFile(src.get(), p.get(), kPrimary); });
        c.Row(label + ": InstallFile source", removal, [&] { Record r(p.get(), copy.get()); return m_kernel->InstallFile(&r.info); });
        c.Row(label + ": CopyFile source", removal, [&] { return m_kernel->CopyFile(p.get(), copy.get(), VARIANT_FALSE); });
        c.Row(label + ": PostRebootRegister", Want::Refused, [&] { return m_kernel->PostRebootRegister(p.get()); });
        c.Row(label + ": GetFileInfo", Want::Any, [&] { return FileInfo(m_kernel, p.get()); });
        c.Row(label + ": UnShareFile", removal, [&] { return m_kernel->UnShareFile(p.get()); });
        c.Row(label + ": PreparePostRebootDeleteFile", removal, [&] { return m_kernel->PreparePostRebootDeleteFile(p.get()); });
        if (label.rfind("the source", 0) == 0) continue;  // removal would take the source
        c.Row(label + ": UnInstallFile", removal, [&] { Record r(src.get(), p.get()); return m_kernel->UnInstallFile(&r.info); });
        c.Row(label + ": DeleteFile", removal, [&] { return m_kernel->DeleteFile(nullptr, p.get()); });
    }
    CloseHandle(pipe);
    EXPECT_EQ(ReadBytes(source), content) << "the source changed";
    EXPECT_EQ(ReadBytes(Join(folder, L"inside.txt")), "inside") << "the folder's file changed";
    c.Finish();
}

// Files that are not what they claim, as sources and as targets that are
// already there: images, type libraries, fonts and registration files cut
// short, with bytes changed, or made of junk.
TEST_F(AttackTest, Files) {
    Category c("malformed files", m_temp.Path());
    struct Sample {
        std::string label;
        std::wstring name;
        std::string bytes;
    };
    std::vector<Sample> samples;
    const struct {
        const wchar_t* fixture;
        const wchar_t* name;
    } originals[] = {
        {L"files\\v1.dll", L"lib.dll"},         {L"com\\srv_v1.dll", L"server.dll"}, {L"files\\plain.exe", L"app.exe"},
        {L"com\\tlb_20.tlb", L"types.tlb"},    {L"ut\\DejaVuSans.ttf", L"font.ttf"}, {L"ut\\ut_raster.fon", L"raster.fon"},
        {L"ut\\ut_script.reg", L"script.reg"},
    };
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (const auto& original : originals) {
        const std::string bytes = ReadBytes(Join(FixturesDir(), original.fixture));
        ASSERT_FALSE(bytes.empty()) << Narrow(original.fixture);
        const std::string what = Narrow(original.name);
        for (size_t cut : {size_t{0}, size_t{1}, size_t{4}, size_t{64}, size_t{300}, bytes.size() / 2, bytes.size() - 1})
            samples.push_back({what + " cut to " + std::to_string(cut), original.name, bytes.substr(0, cut)});
        // Plain libraries and programs, type libraries and fonts get bytes
        // changed in their headers and tables; a server keeps its code.
        for (int mutant = 0; mutant < (what == "server.dll" ? 0 : 12); ++mutant) {
            std::string changed = bytes;
            for (int n = 0; n < 8; ++n) changed[next() % std::min<size_t>(changed.size(), 2048)] = static_cast<char>(next() >> 16);
            samples.push_back({what + " changed " + std::to_string(mutant), original.name, changed});
        }
    }
    std::string junk(70000, '\0');
    for (char& ch : junk) ch = static_cast<char>(next() >> 16);
    const std::string deepHeader = "[HKEY_CURRENT_USER\\Software\\" + Narrow(m_tag) + std::string(2000, '\\') + "x]\r\n";
    std::string deepKey = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\" + Narrow(m_tag);
    for (int i = 0; i < 600; ++i) deepKey += "\\k";
    std::string expansions = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\" + Narrow(m_tag) + "]\r\n\"v\"=\"";
    for (int i = 0; i < 5000; ++i) expansions += "%orvtargetdir%%winsysdir%";
    samples.insert(samples.end(), {
        {"type library m_tag and junk", L"junk.tlb", "MSFT" + junk},
        {"old type library m_tag and junk", L"junk2.tlb", "SLTG" + junk},
        {"TrueType m_tag and junk", L"junk.ttf", std::string("\0\1\0\0\xFF\xFF", 6) + junk},
        {"font collection m_tag and junk", L"junk.ttc", "ttcf" + junk},
        {"NE module and junk", L"junk.fon", "MZ" + std::string(58, '\0') + std::string("\x40\0\0\0NE", 6) + junk},
        {"PE signature and junk", L"junk.dll", "MZ" + std::string(58, '\0') + std::string("\x40\0\0\0PE\0\0", 8) + junk},
        {"registration file of junk", L"junk.reg", junk},
        {"registration file, one long line", L"line.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\" + Narrow(m_tag) + "]\r\n\"v\"=\"" + std::string(200000, 'v')},
        {"registration file, header of backslashes", L"slashes.reg", "REGEDIT4\r\n" + deepHeader + "\"v\"=dword:1\r\n"},
        {"registration file, 600 levels", L"deep.reg", deepKey + "]\r\n\"v\"=hex:1,2\r\n"},
        {"registration file, 10000 expansions", L"expand.cor", expansions + "\"\r\n"},
    });

    const std::wstring valid = Path(L"valid.txt");
    ASSERT_TRUE(WriteBytes(valid, "a valid file"));
    const Bstr validB = B(valid);
    int n = 0;
    for (const Sample& sample : samples) {
        const std::wstring source = Path(L"s" + std::to_wstring(n) + L"_" + sample.name);
        const std::wstring target = Path(L"out\\t" + std::to_wstring(n) + L"_" + sample.name);
        const std::wstring existing = Path(L"e" + std::to_wstring(n++) + L"_" + sample.name);
        ASSERT_TRUE(WriteBytes(source, sample.bytes) && WriteBytes(existing, sample.bytes));
        const Bstr s = B(source), t = B(target), e = B(existing);
        c.Row(sample.label + ": installed", Want::Any, [&] { Record r(s.get(), t.get(), kPrimary); return m_kernel->InstallFile(&r.info); });
        c.Row(sample.label + ": uninstalled", Want::Any, [&] { Record r(s.get(), t.get()); return m_kernel->UnInstallFile(&r.info); });
        c.Row(sample.label + ": registered after a restart", Want::Any, [&] { return m_kernel->PostRebootRegister(s.get()); });
        c.Row(sample.label + ": file information", Want::Works, [&] { return FileInfo(m_kernel, s.get()); });
        c.Row(sample.label + ": replaced", Want::Any, [&] { Record r(validB.get(), e.get(), kPrimary, 1); return m_kernel->InstallFile(&r.info); });
        // Replaced only by the whole new file, else left as it was.
        const std::string after = ReadBytes(existing);
        EXPECT_TRUE(after == sample.bytes || after == "a valid file") << sample.label;
    }
    c.Finish();
}

// InstallCheck with check-info arrays of every shape, on files of every kind.
TEST_F(AttackTest, CheckInfo) {
    Category c("check-info arrays", m_temp.Path());
    const std::wstring data = Path(L"data.txt");
    ASSERT_TRUE(WriteBytes(data, "data"));
    const struct {
        const char* label;
        std::wstring path;
    } files[] = {
        {"library", Join(FixturesDir(), L"files\\v1.dll")},
        {"program", Join(FixturesDir(), L"files\\plain.exe")},
        {"server", Join(FixturesDir(), L"com\\srv_v1.dll")},
        {"data file", data},
        {"missing file", Path(L"missing.dll")},
        {"device", L"\\\\.\\NUL"},
        {"folder", m_temp.Path()},
    };
    const std::wstring longText(100000, L'9');
    const std::vector<std::pair<const char*, std::vector<std::pair<const wchar_t*, std::wstring>>>> arrays = {
        {"empty", {}},
        {"version", {{L"version", L"1.0.0.0"}}},
        {"duplicate keys", {{L"version", L"9.9.9.9"}, {L"version", L"0.0.0.1"}, {L"timestamp", L"00"}}},
        {"null values", {{L"version", L"\x1"}, {L"timestamp", L"\x1"}, {L"comserverregpath", L"\x1"}}},
        {"keys in other letter case", {{L"VERSION", L"1.2"}, {L"TimeStamp", L"FF"}}},
        {"versions beyond their words", {{L"version", L"99999.-1.65536.4294967296"}}},
        {"100000 characters each", {{L"version", longText}, {L"timestamp", longText}, {L"comserverregpath", longText}}},
        {"odd hexadecimal", {{L"timestamp", L"ABC"}}},
        {"format specifiers", {{L"version", L"%s%n%s"}, {L"comserverregpath", L"%n%n%s%x"}}},
        {"server path that is a device", {{L"comserverregpath", L"\\\\.\\NUL"}}},
    };
    for (const auto& file : files) {
        const Bstr path = B(file.path);
        for (const auto& [label, pairs] : arrays) {
            std::vector<Bstr> strings;
            std::vector<_ORV_CHECK_INFO> records;
            for (const auto& [key, value] : pairs) {
                strings.push_back(B(key));
                BSTR k = strings.back().get();
                strings.push_back(value == L"\x1" ? Bstr() : B(value));
                records.push_back({k, strings.back().get()});
            }
            records.push_back({nullptr, nullptr});
            c.Row(std::string(file.label) + ", " + label, Want::Any, [&] {
                BSTR result = nullptr;
                const HRESULT hr = m_kernel->InstallCheck(path.get(), records.data(), &result);
                SysFreeString(result);
                return hr;
            });
        }
        c.Row(std::string(file.label) + ", no array", Want::Refused, [&] {
            BSTR result = nullptr;
            return m_kernel->InstallCheck(path.get(), nullptr, &result);
        });
    }
    c.Finish();
}

// The class identifier of the fixture servers' coclass.
std::wstring FixtureClass() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(Join(FixturesDir(), L"com\\srv_v1.dll").c_str(), REGKIND_NONE, &library))) return L"";
    std::wstring clsid;
    for (UINT i = 0; i < library->GetTypeInfoCount() && clsid.empty(); ++i) {
        ITypeInfo* info = nullptr;
        TYPEATTR* attributes = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        if (SUCCEEDED(info->GetTypeAttr(&attributes)) && attributes->typekind == TKIND_COCLASS) {
            WCHAR text[39];
            StringFromGUID2(attributes->guid, text, 39);
            clsid = text;
        }
        if (attributes) info->ReleaseTypeAttr(attributes);
        info->Release();
    }
    library->Release();
    return clsid;
}

// Modules planted where a setup program's current folder or a relative PATH
// entry would find them: the system's file protection and version libraries,
// the registration programs, and a server that the registry names by its bare
// file name. A child process makes the kernel do everything that looks for
// these; none of the planted modules may run.
TEST(Planting, NoPlantedModuleRuns) {
    TempDir temp;
    const std::wstring planted = temp / L"planted", marks = temp / L"marks", mine = temp / L"mine";
    for (const std::wstring& folder : {planted, marks, mine}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring decoy = Join(FixturesDir(), L"attack\\decoy"), program = decoy + L"prog.exe";
    for (const wchar_t* name : {L"sfc.dll", L"version.dll", L"srv.dll", L"TqOrvWexUt.dll", L"TqOrvWexLg.dll"})
        ASSERT_TRUE(CopyFileW((decoy + L".dll").c_str(), Join(planted, name).c_str(), FALSE));
    for (const wchar_t* name : {L"orvregsv.exe", L"regsvr32.exe"})
        ASSERT_TRUE(CopyFileW(program.c_str(), Join(planted, name).c_str(), FALSE));

    const std::wstring clsid = FixtureClass();
    ASSERT_FALSE(clsid.empty());

    // The child: the planted folder current, "." first on PATH.
    WCHAR self[MAX_PATH], previous[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, previous);
    const std::wstring path = Env(L"PATH");
    SetEnvironmentVariableW(L"PATH", (L".;" + path).c_str());
    SetEnvironmentVariableW(L"ORV_DECOY_MARKS", marks.c_str());
    SetEnvironmentVariableW(L"ORV_PLANT_MINE", mine.c_str());
    SetCurrentDirectoryW(planted.c_str());
    const ProcessResult child = RunProcess(L"\"" + std::wstring(self) +
                                           L"\" --gtest_also_run_disabled_tests --gtest_filter=Planting.DISABLED_Child");
    SetCurrentDirectoryW(previous);
    SetEnvironmentVariableW(L"PATH", path.c_str());
    SHDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
    for (const wchar_t* name : {L"srv.dll", L"fail.dll"}) {
        std::wstring value = Join(mine, name);
        CharUpperBuffW(value.data(), static_cast<DWORD>(value.size()));
        SHDeleteValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", value.c_str());
    }
    EXPECT_EQ(child.exitCode, 0u) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;

    for (const std::wstring& ran : FindNames(marks, L"*.ran")) ADD_FAILURE() << "a planted module ran: " << Narrow(ran);
    std::printf("attack | planted modules | 7 | none of sfc.dll, version.dll, srv.dll, TqOrvWexUt.dll, "
                "TqOrvWexLg.dll, orvregsv.exe, regsvr32.exe in the current folder or on a relative PATH ran\n");
}

// The kernel's look-ups for the planted modules (run by NoPlantedModuleRuns).
TEST(Planting, DISABLED_Child) {
    LoadedKernel kernel;  // the file protection probe, the utility and log libraries
    ASSERT_NE(kernel.Get(), nullptr);
    const std::wstring mine = Env(L"ORV_PLANT_MINE");
    // The class registered under the bare file name of the installed server,
    // which the search finds in the (planted) current folder.
    const std::wstring key = L"CLSID\\" + FixtureClass() + L"\\InprocServer32";
    const auto bareName = [&] { SHSetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, L"srv.dll", 16); };
    const struct {
        const wchar_t* fixture;
        const wchar_t* name;
    } servers[] = {{L"com\\srv_v1.dll", L"srv.dll"}, {L"com\\srv_fail.dll", L"fail.dll"}};
    for (const auto& server : servers) {
        // Versions read, the registration found under a bare name, the
        // registration programs run; then after a restart, and removal.
        InstallRecord record(Join(FixturesDir(), server.fixture), Join(mine, server.name), 1);
        kernel->InstallFile(record.Get());
        bareName();
        InstallRecord again(Join(FixturesDir(), server.fixture), Join(mine, server.name), 1);
        kernel->InstallFile(again.Get());
        Bstr target = B(Join(mine, server.name));
        kernel->PostRebootRegister(target.get());
        bareName();
        InstallRecord removal(L"", Join(mine, server.name), 1);
        kernel->UnInstallFile(removal.Get());
    }
}
