// The random-kill campaign: installs that a parent ends at a random moment.
//
//   fault_campaign [runs per case] [seed] [case...]
//
// Cases: replace (a 48 MiB file over a 32 MiB one), fresh (the same file where
// none was), server (a COM server over its older version: registration and
// SharedDLLs count), font (a TrueType font: file, fonts key, font resource),
// link (a shortcut). Each run restores the old state, starts fault_child for
// the install, ends it after a random delay (up to 1.2 times the install's
// own duration, measured first), then checks what the killed install left,
// runs the same install again to its end and checks that. One line per case:
//   case | runs | killed | files lost | leftovers after the kill | second run failed | left after the second run | counts wrong
// Exit code 0 when no file was lost, no second run failed, nothing was left
// after a second run and every count matched what completed.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Machine.h"

using namespace orv::test;

namespace {

const wchar_t kFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::wstring ChildPath() {
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);
    return Join(self, L"fault_child.exe");
}

// The processes the child started (registration programs) that still run.
std::vector<DWORD> ChildrenOf(DWORD parent) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry{sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// Programs whose parent was killed before they began: Wine leaves such a
// process at its first instruction for ever (Windows does not). Counted, and
// ended after the registration program's own time limit.
int g_frozen = 0;

// Starts the child; with a kill delay, ends it then if it still runs. True
// when the child was ended before it finished; *exitCode its exit code.
bool RunChild(const std::wstring& arguments, DWORD killAfterMs, DWORD* exitCode, DWORD* elapsedMs) {
    std::wstring line = L"\"" + ChildPath() + L"\" " + arguments;
    // The child's own output is not wanted here.
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi{};
    *exitCode = 0xFFFFFFFF;
    const DWORD start = GetTickCount();
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(nul);
    if (!started) return false;
    bool killed = false;
    if (WaitForSingleObject(pi.hProcess, killAfterMs) == WAIT_TIMEOUT) {
        killed = TerminateProcess(pi.hProcess, 99) != FALSE;
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    *elapsedMs = GetTickCount() - start;
    GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // A registration program the child started goes on alone: its end is awaited.
    for (DWORD id : ChildrenOf(pi.dwProcessId)) {
        HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        if (!child) continue;
        if (WaitForSingleObject(child, 35000) == WAIT_TIMEOUT) {
            ++g_frozen;
            TerminateProcess(child, 99);
            WaitForSingleObject(child, 5000);
        }
        CloseHandle(child);
    }
    return killed;
}

std::string Pattern(char fill, size_t size) {
    std::string bytes(size, fill);
    for (size_t i = 0; i < size; i += 4096) bytes[i] = static_cast<char>(i / 4096);
    return bytes;
}

// Files named like the kernel's temporary copies ("_orv", not "_orvtmp") below a folder.
size_t Leftovers(const std::wstring& folder) {
    const std::vector<std::wstring> names = FindNames(folder, L"_orv*");
    return std::count_if(names.begin(), names.end(), [](const std::wstring& name) { return !StrStrIW(name.c_str(), L"_orvtmp"); });
}

DWORD Count(const std::wstring& path) {
    DWORD count = 0, size = sizeof(count), type = 0;
    if (SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(path).c_str(), &type, &count, &size) != ERROR_SUCCESS)
        return 0;
    return count;
}

size_t Links(const std::wstring& folder) { return FindNames(folder, L"*.lnk").size(); }

struct Tally {
    int runs = 0, killed = 0, lost = 0, leftAfterKill = 0, rerunFailed = 0, leftAfterRerun = 0, countsWrong = 0;
};

// One case: what its install is and how its states are told apart.
struct Case {
    std::string name;
    std::wstring arguments;                         // of fault_child
    std::function<void()> restore;                  // the state before the install
    std::function<bool()> oldOrNew;                 // after a kill: the whole old or the whole new state
    std::function<bool()> isNew;                    // after a full install
    std::function<size_t()> leftovers;              // temporary files, reserved names
    bool counted = false;                           // the install raises a use count by one
    std::function<DWORD()> count = [] { return DWORD(0); };
    std::function<void()> cleanup = [] {};
};

Tally Campaign(Case& c, int runs, std::mt19937& random) {
    Tally t;
    DWORD code = 0, elapsed = 0, longest = 0;
    for (int i = 0; i < 2; ++i) {  // the install's own duration
        c.restore();
        RunChild(c.arguments, INFINITE, &code, &elapsed);
        longest = std::max(longest, elapsed);
    }
    for (int run = 0; run < runs; ++run) {
        c.restore();
        const DWORD before = c.count();
        const DWORD delay = std::uniform_int_distribution<DWORD>(0, longest * 6 / 5)(random);
        ++t.runs;
        if (RunChild(c.arguments, delay, &code, &elapsed)) ++t.killed;
        if (!c.oldOrNew()) {
            ++t.lost;
            std::printf("  %s run %d: killed after %lu ms, neither the old nor the new state\n", c.name.c_str(), run,
                        static_cast<unsigned long>(delay));
        }
        t.leftAfterKill += c.leftovers() ? 1 : 0;
        const DWORD afterKill = c.count();
        if (c.counted && afterKill != before && afterKill != before + 1) ++t.countsWrong;
        RunChild(c.arguments, INFINITE, &code, &elapsed);
        if (code != 0 || !c.isNew()) {
            ++t.rerunFailed;
            std::printf("  %s run %d: the second install ended with %lu\n", c.name.c_str(), run,
                        static_cast<unsigned long>(code));
        }
        if (size_t left = c.leftovers()) {
            ++t.leftAfterRerun;
            std::printf("  %s run %d: %zu left after the second install\n", c.name.c_str(), run, left);
        }
        if (c.counted && c.count() != afterKill + 1) {
            ++t.countsWrong;
            std::printf("  %s run %d: count %lu before, %lu after the kill, %lu after the second install\n",
                        c.name.c_str(), run, static_cast<unsigned long>(before), static_cast<unsigned long>(afterKill),
                        static_cast<unsigned long>(c.count()));
        }
    }
    c.cleanup();
    return t;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int runs = argc > 1 ? _wtoi(argv[1]) : 60;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(_wtoi(argv[2])) : GetTickCount();
    std::vector<std::string> wanted;
    for (int i = 3; i < argc; ++i) wanted.push_back(Narrow(argv[i]));
    std::mt19937 random(seed);

    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = Join(temp, L"orv_faults_" + std::to_wstring(GetCurrentProcessId()));
    RemoveTree(root);
    const std::wstring src = Join(root, L"src"), dst = Join(root, L"dst");
    SHCreateDirectoryExW(nullptr, src.c_str(), nullptr);
    SHCreateDirectoryExW(nullptr, dst.c_str(), nullptr);
    SetEnvironmentVariableW(L"TQORVWEX_LOG", Join(root, L"kernel.log").c_str());

    // Data files: a new one of 48 MiB over an old one of 32 MiB, or over nothing.
    const std::string oldData = Pattern('o', 32 << 20), newData = Pattern('n', 48 << 20);
    const std::wstring bigSource = Join(src, L"big.dat"), bigTarget = Join(dst, L"big.dat");
    WriteBytes(bigSource, newData);
    auto data = [&](bool withOld) {
        Case c;
        c.name = withOld ? "replace" : "fresh";
        c.arguments = L"install \"" + bigSource + L"\" \"" + bigTarget + L"\"";
        c.restore = [&, withOld] {
            DeleteFileW(bigTarget.c_str());
            if (!withOld) return;
            // Older than the source: the time stamp rule replaces it.
            WriteBytes(bigTarget, oldData);
            const FILETIME old{0, 0x01C0A000};
            HANDLE h = CreateFileW(bigTarget.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            SetFileTime(h, nullptr, nullptr, &old);
            CloseHandle(h);
        };
        c.oldOrNew = [&, withOld] {
            if (!FileExists(bigTarget)) return !withOld;
            const std::string now = ReadBytes(bigTarget);
            return now == newData || (withOld && now == oldData);
        };
        c.isNew = [&] { return ReadBytes(bigTarget) == newData; };
        c.leftovers = [&] { return Leftovers(dst); };
        return c;
    };

    // A COM server over its older version.
    const std::wstring serverSource = Join(src, L"srv.dll"), serverTarget = Join(dst, L"srv.dll");
    const std::string serverOld = ReadBytes(Join(FixturesDir(), L"com\\srv_v1.dll"));
    const std::string serverNew = ReadBytes(Join(FixturesDir(), L"com\\srv_v2.dll"));
    WriteBytes(serverSource, serverNew);
    Case server;
    server.name = "server";
    server.arguments = L"install \"" + serverSource + L"\" \"" + serverTarget + L"\"";
    server.restore = [&] {
        SetFileAttributesW(serverTarget.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (ReadBytes(serverTarget) != serverOld && !WriteBytes(serverTarget, serverOld))
            std::printf("  server: the old version could not be put back\n");
    };
    server.oldOrNew = [&] {
        const std::string now = ReadBytes(serverTarget);
        return now == serverOld || now == serverNew;
    };
    server.isNew = [&] { return ReadBytes(serverTarget) == serverNew; };
    server.leftovers = [&] { return Leftovers(dst); };
    server.counted = true;
    server.count = [&] { return Count(serverTarget); };
    server.cleanup = [&] { SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(serverTarget).c_str()); };

    // A font of a name of its own, where none was.
    const std::string fontName = "OrvFault" + std::to_string(GetCurrentProcessId() % 100000);
    std::string font = ReadBytes(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
    for (const auto& [from, to] : {std::pair{std::string("DejaVu Sans"), (fontName + "           ").substr(0, 11)}}) {
        std::string wideFrom, wideTo;
        for (char ch : from) wideFrom += {'\0', ch};
        for (char ch : to) wideTo += {'\0', ch};
        for (auto [f, t] : {std::pair{from, to}, std::pair{wideFrom, wideTo}})
            for (size_t at = font.find(f); at != std::string::npos; at = font.find(f, at + t.size())) font.replace(at, f.size(), t);
    }
    const std::wstring fontSource = Join(src, L"orvfault.ttf"), fontTarget = Join(dst, L"orvfault.ttf");
    WriteBytes(fontSource, font);
    const std::wstring fontValue = Widen((fontName + "           ").substr(0, 11)) + L" (TrueType)";
    Case fontCase;
    fontCase.name = "font";
    fontCase.arguments = L"install \"" + fontSource + L"\" \"" + fontTarget + L"\"";
    fontCase.restore = [&] {
        RemoveFontResourceW(fontTarget.c_str());
        DeleteFileW(fontTarget.c_str());
        SHDeleteValueW(HKEY_LOCAL_MACHINE, kFontsKey, fontValue.c_str());
    };
    fontCase.oldOrNew = [&] { return !FileExists(fontTarget) || ReadBytes(fontTarget) == font; };
    fontCase.isNew = [&] {
        WCHAR entry[MAX_PATH] = L"";
        DWORD size = sizeof(entry);
        return ReadBytes(fontTarget) == font &&
               SHGetValueW(HKEY_LOCAL_MACHINE, kFontsKey, fontValue.c_str(), nullptr, entry, &size) == ERROR_SUCCESS;
    };
    fontCase.leftovers = [&] { return Leftovers(dst); };
    fontCase.cleanup = fontCase.restore;

    // A shortcut where none was.
    const std::wstring app = Join(src, L"app.exe");
    WriteBytes(app, "MZ");
    const std::wstring linkTag = L"OrvFault_" + std::to_wstring(GetCurrentProcessId());
    WCHAR startMenu[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_STARTMENU, nullptr, SHGFP_TYPE_CURRENT, startMenu);
    const std::wstring linkFolder = Join(startMenu, linkTag);
    Case link;
    link.name = "link";
    link.arguments = L"link \"" + app + L"\" \"StartMenu\\" + linkTag + L"\\App\"";
    link.restore = [&] { RemoveTree(linkFolder); };
    // Whole means a shortcut the shell reads with the target; an empty or cut one is not.
    auto whole = [&](const std::wstring& path) {
        IShellLinkW* shell = nullptr;
        IPersistFile* file = nullptr;
        WCHAR target[MAX_PATH] = L"";
        const bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                                   reinterpret_cast<void**>(&shell))) &&
                        SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                        SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
                        SUCCEEDED(shell->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) && app == target;
        if (file) file->Release();
        if (shell) shell->Release();
        return ok;
    };
    const std::wstring linkPath = Join(linkFolder, L"App.lnk");
    link.oldOrNew = [&] { return Links(linkFolder) == 0 || (Links(linkFolder) == 1 && whole(linkPath)); };
    link.isNew = [&] { return whole(linkPath); };
    link.leftovers = [&] { return Links(linkFolder) - (whole(linkPath) ? 1 : 0); };
    link.cleanup = link.restore;

    std::vector<Case> cases = {data(true), data(false), server, fontCase, link};
    std::printf("seed %u, %d runs per case\n", seed, runs);
    std::fflush(stdout);
    std::printf("| case | runs | killed before the end | files lost | leftovers after the kill | second run failed | "
                "left after the second run | counts wrong |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
    bool sound = true;
    for (Case& c : cases) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), c.name) == wanted.end()) continue;
        const Tally t = Campaign(c, runs, random);
        std::printf("| %s | %d | %d | %d | %d | %d | %d | %d |\n", c.name.c_str(), t.runs, t.killed, t.lost,
                    t.leftAfterKill, t.rerunFailed, t.leftAfterRerun, t.countsWrong);
        std::fflush(stdout);
        sound = sound && t.lost == 0 && t.rerunFailed == 0 && t.leftAfterRerun == 0 && t.countsWrong == 0;
    }
    if (g_frozen)
        std::printf("%d registration programs whose parent was killed before they began stayed frozen (a Wine "
                    "limit) and were ended after 35 s\n", g_frozen);
    RemoveTree(root);
    CoUninitialize();
    return sound ? 0 : 1;
}
