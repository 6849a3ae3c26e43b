// All Parts at once: two processes, eight threads each on one kernel object,
// installing and removing data files, a shared library, a COM server, fonts,
// registry keys and shortcuts. Afterwards: no call failed that may not, the
// SharedDLLs counts equal the installs that succeeded, the one log holds
// every line whole, and every shortcut has a name of its own.
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <set>
#include <thread>

#include "KernelRecords.h"
#include "Machine.h"
#include "WineTest.h"

using namespace orv::test;

namespace {

constexpr int kThreads = 8, kRounds = 4;
const wchar_t kFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// What both processes share: the folder, the tag of names, the targets.
struct Plan {
    std::wstring root, tag;
    std::wstring Shared(const wchar_t* name) const { return Join(root, name); }
    std::wstring Library() const {
        WCHAR common[MAX_PATH] = L"";
        SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, common);
        return Join(common, tag + L".dll");
    }
    std::wstring Server() const { return Shared(L"server\\srv.dll"); }
    std::wstring LinkFolder() const {
        WCHAR menu[MAX_PATH] = L"";
        SHGetFolderPathW(nullptr, CSIDL_STARTMENU, nullptr, SHGFP_TYPE_CURRENT, menu);
        return Join(menu, tag);
    }
};

// DejaVu Sans named "Orv" and eight characters of its own.
std::string Font(const std::string& name) {
    static const std::string original = ReadBytes(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
    std::string bytes = original, from = "DejaVu Sans", to = name, wideFrom, wideTo;
    for (char c : from) wideFrom += {'\0', c};
    for (char c : to) wideTo += {'\0', c};
    for (const auto& [f, t] : {std::pair{from, to}, std::pair{wideFrom, wideTo}})
        for (size_t at = bytes.find(f); at != std::string::npos; at = bytes.find(f, at + t.size())) bytes.replace(at, f.size(), t);
    return bytes;
}

struct Counts {
    std::atomic<int> calls{0}, failed{0}, libraryInstalls{0}, serverInstalls{0}, links{0};
};

#define Check(n, call, ...) Checked(n, call, #call, ##__VA_ARGS__)
HRESULT Checked(Counts& n, HRESULT hr, const char* what, bool mayFail = false) {
    ++n.calls;
    if (FAILED(hr) && !mayFail) {
        ++n.failed;
        std::printf("call failed: 0x%08lX: %s\n", static_cast<unsigned long>(hr), what);
    }
    return hr;
}

// One process's share: kThreads threads on one kernel object.
void Work(const Plan& plan, int process, Counts& n) {
    LoadedKernel kernel;
    ASSERT_NE(kernel.Get(), nullptr);
    IOrvInstallerKernel* k = kernel.Get();
    const std::wstring data = plan.Shared(L"data.txt"), library = Join(FixturesDir(), L"restart\\lib_v1.dll"),
                       server = Join(FixturesDir(), L"com\\srv_v1.dll"), app = plan.Shared(L"app.exe");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            const std::wstring mine = plan.Shared((L"p" + std::to_wstring(process) + L"t" + std::to_wstring(t)).c_str());
            for (int round = 0; round < kRounds; ++round) {
                const std::wstring name = L"r" + std::to_wstring(round);
                // Files of its own, installed and removed.
                InstallRecord file(data, Join(mine, name + L".txt"), 2);
                Check(n, k->InstallFile(file.Get()));
                Check(n, k->UnInstallFile(file.Get()));
                // One shared library and one COM server, installed by everybody; a
                // target that another thread holds at that moment may be in use.
                InstallRecord shared(library, plan.Library(), 1), com(server, plan.Server(), 1);
                if (SUCCEEDED(Check(n, k->InstallFile(shared.Get()), true))) ++n.libraryInstalls;
                if (SUCCEEDED(Check(n, k->InstallFile(com.Get()), true))) ++n.serverInstalls;
                // A shortcut of one name with arguments of its own.
                BSTR command = SysAllocString((app + L" " + mine.substr(mine.size() - 4) + name).c_str());
                BSTR folder = SysAllocString((L"StartMenu\\" + plan.tag + L"\\App").c_str());
                if (SUCCEEDED(Check(n, k->InstallLink(command, folder, nullptr, VARIANT_FALSE)))) ++n.links;
                SysFreeString(command);
                SysFreeString(folder);
                if (t == 0) {  // the object's one current key belongs to one thread
                    BSTR key = SysAllocString((L"HKCU\\Software\\" + plan.tag + L"\\p" + std::to_wstring(process) + name).c_str());
                    BSTR value = SysAllocString(L"value");
                    IOrvRegKey* regKey = nullptr;
                    if (SUCCEEDED(Check(n, k->InstallRegKey(key, &regKey))) && regKey) {
                        Check(n, regKey->InstallStringValue(value, key, VARIANT_TRUE, VARIANT_FALSE));
                        Check(n, regKey->InstallIntegerValue(value, round, VARIANT_TRUE));
                        regKey->Release();
                    }
                    regKey = nullptr;
                    if (SUCCEEDED(Check(n, k->UnInstallRegKey(key, &regKey, VARIANT_FALSE))) && regKey) {
                        Check(n, regKey->UnInstallValue(value));
                        regKey->Release();
                    }
                    SysFreeString(key);
                    SysFreeString(value);
                }
                if (t == 1) {  // fonts of their own names
                    const std::string fontName = "Orv" + std::to_string(process) + "Conc" + std::to_string(round) + "xx";
                    const std::wstring source = plan.Shared((Widen(fontName) + L".src").c_str());
                    WriteBytes(source, Font(fontName.substr(0, 11)));
                    InstallRecord font(source, Join(mine, Widen(fontName) + L".ttf"), 2);
                    Check(n, k->InstallFile(font.Get()));
                    Check(n, k->UnInstallFile(font.Get()));
                }
            }
            CoUninitialize();
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// The plan of the worker process: from its environment.
Plan WorkerPlan() { return Plan{Env(L"ORV_CONC_ROOT"), Env(L"ORV_CONC_TAG")}; }

}  // namespace

// The second process (started by AllPartsAtOnce): its counts on standard output.
TEST(Concurrency, DISABLED_Worker) {
    Counts n;
    Work(WorkerPlan(), 1, n);
    std::printf("worker: %d %d %d %d %d\n", n.calls.load(), n.failed.load(), n.libraryInstalls.load(),
                n.serverInstalls.load(), n.links.load());
}

TEST(Concurrency, AllPartsAtOnce) {
    TempDir temp;
    const Plan plan{temp.Path(), L"OrvConc_" + std::to_wstring(GetCurrentProcessId())};
    ASSERT_TRUE(WriteBytes(plan.Shared(L"data.txt"), std::string(20000, 'd')));
    ASSERT_TRUE(WriteBytes(plan.Shared(L"app.exe"), "MZ"));
    SetEnvironmentVariableW(L"ORV_CONC_ROOT", plan.root.c_str());
    SetEnvironmentVariableW(L"ORV_CONC_TAG", plan.tag.c_str());
    const size_t logStart = ReadBytes(LogPath()).size();

    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Counts n;
    ProcessResult worker;
    std::thread second([&] {
        worker = RunProcess(L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=Concurrency.DISABLED_Worker", 120000);
    });
    Work(plan, 0, n);
    second.join();
    ASSERT_FALSE(worker.timedOut);
    EXPECT_EQ(worker.exitCode, 0u) << worker.output;
    int w[5] = {0, 0, 0, 0, 0};
    ASSERT_EQ(std::sscanf(worker.output.c_str() + worker.output.find("worker:"), "worker: %d %d %d %d %d", &w[0], &w[1],
                          &w[2], &w[3], &w[4]), 5) << worker.output;
    const int calls = n.calls + w[0], failed = n.failed + w[1], libraries = n.libraryInstalls + w[2],
              servers = n.serverInstalls + w[3], links = n.links + w[4];
    EXPECT_EQ(failed, 0);

    // SharedDLLs: one use per install that succeeded, in both processes.
    DWORD count = 0, size = sizeof(count);
    SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(plan.Library()).c_str(), nullptr, &count, &size);
    EXPECT_EQ(count, static_cast<DWORD>(libraries));
    DWORD serverCount = 0;
    size = sizeof(serverCount);
    SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(plan.Server()).c_str(), nullptr, &serverCount, &size);
    EXPECT_EQ(serverCount, static_cast<DWORD>(servers));

    // Shortcuts: one file each, under names of their own, with their own arguments.
    const std::vector<std::wstring> found = FindNames(plan.LinkFolder(), L"*.lnk");
    const std::set<std::wstring> names(found.begin(), found.end());
    EXPECT_EQ(names.size(), static_cast<size_t>(links));
    EXPECT_EQ(links, 2 * kThreads * kRounds);

    // The log: every line whole (its own header), none lost.
    const std::string log = ReadBytes(LogPath()).substr(logStart);
    const std::regex header("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} +\\d+/\\d+ +\\S+ \\d [ WE] .*");
    size_t lines = 0, broken = 0, linkLines = 0;
    for (size_t at = 0, end; at < log.size(); at = end + 1) {
        end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line == "(Unicode Release build)") continue;
        ++lines;
        if (!std::regex_match(line, header)) {
            ++broken;
            if (broken < 5) ADD_FAILURE() << "log line: " << line;
        }
        if (line.find("Attempting to install link file") != std::string::npos) ++linkLines;
    }
    EXPECT_EQ(broken, 0u);
    EXPECT_EQ(linkLines, static_cast<size_t>(2 * kThreads * kRounds));
    std::printf("concurrency | 2 processes x %d threads, one kernel object each | %d calls, %d failed | SharedDLLs "
                "%lu = %d library installs, %lu = %d server installs | %zu log lines, %zu broken, %zu of %d link "
                "lines | %zu shortcuts under %zu names\n",
                kThreads, calls, failed, static_cast<unsigned long>(count), libraries,
                static_cast<unsigned long>(serverCount), servers, lines, broken, linkLines, 2 * kThreads * kRounds,
                static_cast<size_t>(links), names.size());

    // What the run left in the system goes.
    RemoveTree(plan.LinkFolder());
    SHDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\" + plan.tag).c_str());
    const DWORD one = 1;
    for (const std::wstring& shared : {plan.Library(), plan.Server()}) {
        SHSetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(shared).c_str(), REG_DWORD, &one, sizeof(one));
        LoadedKernel kernel;
        InstallRecord record(L"", shared, 1);
        kernel->UnInstallFile(record.Get());
        DeleteFileW(shared.c_str());
        SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(shared).c_str());
    }
    for (int p = 0; p < 2; ++p)
        for (int round = 0; round < kRounds; ++round)
            SHDeleteValueW(HKEY_LOCAL_MACHINE, kFontsKey,
                           (Widen(("Orv" + std::to_string(p) + "Conc" + std::to_string(round) + "xx").substr(0, 11)) +
                            L" (TrueType)").c_str());
}
