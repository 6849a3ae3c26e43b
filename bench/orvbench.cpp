// The kernel's speed against a plain copy and against the platform's own
// installer, side by side in one process: every figure is the median of
// several rounds, and the goals are printed as ratios measured in the same run.
// bench/run builds the source files and the msiexec packages, runs this
// program, then runs it once more to count wineserver requests per phase.
//
//   orvbench.exe --sources <folder of *.dat> [--msi <folder>] [--rounds R] [--work <folder>]
//                [--shared N] [--count]
//   orvbench.exe --shared-child <work> <values> <result file>      (one SharedDLLs measurement)
//
// The kernel is loaded from ORV_BIN (else this program's folder) through
// OrvWexKrCreateInstance, the way a setup program holds it in-process.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "Bench.h"
#include "kernel/TqOrvWexKr_h.h"

using namespace orvbench;

namespace {

struct Options {
    std::wstring sources, msi, work = L"C:\\orvbench";
    int rounds = 5;
    size_t shared = 10000;
    bool count = false;
};

std::wstring Env(LPCWSTR name) {
    WCHAR buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// ---- the kernel, loaded with a given log ----

typedef HRESULT(STDAPICALLTYPE* PFN_CreateInstance)(IOrvInstallerKernel**);

class KernelModule {
public:
    ~KernelModule() { Unload(); }
    // The log path is read when the module starts its log, at load.
    bool Load(const std::wstring& bin, const std::wstring& log) {
        SetEnvironmentVariableW(L"TQORVWEX_LOG", log.c_str());
        m_module = LoadLibraryW(JoinPath(bin, L"TqOrvWexKr.dll").c_str());
        auto create = m_module ? reinterpret_cast<PFN_CreateInstance>(
                                     reinterpret_cast<void*>(GetProcAddress(m_module, "OrvWexKrCreateInstance")))
                               : nullptr;
        return create && create(&m_kernel) == S_OK;
    }
    void Unload() {
        if (m_kernel) m_kernel->Release();
        if (m_module) FreeLibrary(m_module);
        m_kernel = nullptr;
        m_module = nullptr;
    }
    IOrvInstallerKernel* operator->() const { return m_kernel; }

private:
    HMODULE m_module = nullptr;
    IOrvInstallerKernel* m_kernel = nullptr;
};

// ---- the files of one folder ----

class FileSet {
public:
    FileSet(const std::vector<std::wstring>& names, const std::wstring& folder) : m_folder(folder) {
        for (const std::wstring& name : names) m_paths.push_back(SysAllocString(JoinPath(folder, name).c_str()));
    }
    ~FileSet() {
        for (BSTR p : m_paths) SysFreeString(p);
    }
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;
    size_t Size() const { return m_paths.size(); }
    BSTR operator[](size_t i) const { return m_paths[i]; }
    const std::wstring& Folder() const { return m_folder; }

private:
    std::wstring m_folder;
    std::vector<BSTR> m_paths;
};

// The passes over a range of files. Kernel and plain passes alternate in
// chunks, so that both see the same load of a shared machine.
class Passes {
public:
    Passes(const FileSet& sources, size_t* failures) : m_sources(sources), m_failures(failures) {}

    double PlainCopy(const FileSet& targets, size_t begin, size_t end) {
        const double start = NowMs();
        if (begin == 0 && !Exists(targets.Folder()) && !CreateDirectoryW(targets.Folder().c_str(), nullptr))
            ++*m_failures;
        for (size_t i = begin; i < end; ++i)
            if (!CopyFileW(m_sources[i], targets[i], FALSE)) ++*m_failures;
        return NowMs() - start;
    }
    // The last range also removes the folder.
    double PlainDelete(const FileSet& targets, size_t begin, size_t end) {
        const double start = NowMs();
        for (size_t i = begin; i < end; ++i)
            if (!DeleteFileW(targets[i])) ++*m_failures;
        if (end == targets.Size() && !RemoveDirectoryW(targets.Folder().c_str())) ++*m_failures;
        return NowMs() - start;
    }
    double Install(KernelModule& kernel, const FileSet& targets, size_t begin, size_t end, HRESULT expected) {
        const double start = NowMs();
        for (size_t i = begin; i < end; ++i) {
            _ORV_FILE_INSTALL_INFO info{};
            info.bstrSource = m_sources[i];
            info.bstrTarget = targets[i];
            info.dwInstallMode = 1;
            if (kernel->InstallFile(&info) != expected) ++*m_failures;
            if (_ORV_CHECK_INFO* records = info.lpOrvCheckInfo) {
                for (int r = 0; r < 3; ++r) {
                    SysFreeString(records[r].bstrKey);
                    SysFreeString(records[r].bstrValue);
                }
                CoTaskMemFree(records);
            }
        }
        return NowMs() - start;
    }
    // The last file takes the folder the install created with it.
    double UnInstall(KernelModule& kernel, const FileSet& targets, size_t begin, size_t end) {
        const double start = NowMs();
        for (size_t i = begin; i < end; ++i) {
            _ORV_FILE_INSTALL_INFO info{};
            info.bstrSource = m_sources[i];
            info.bstrTarget = targets[i];
            info.dwInstallMode = 5;
            if (kernel->UnInstallFile(&info) != S_OK) ++*m_failures;
        }
        const double elapsed = NowMs() - start;
        if (end == targets.Size() && Exists(targets.Folder())) ++*m_failures;
        return elapsed;
    }

private:
    const FileSet& m_sources;
    size_t* m_failures;
};

// Runs two passes over all files in alternating chunks; the sums of their times.
template <typename First, typename Second>
void Alternate(size_t files, LPCWSTR firstMark, LPCWSTR secondMark, First first, Second second, double* firstMs,
               double* secondMs) {
    const size_t kChunk = 50;
    *firstMs = *secondMs = 0;
    for (size_t begin = 0, chunk = 0; begin < files; begin += kChunk, ++chunk) {
        const size_t end = begin + kChunk < files ? begin + kChunk : files;
        if (chunk % 2) {
            Mark(secondMark);
            *secondMs += second(begin, end);
            Mark(firstMark);
            *firstMs += first(begin, end);
        } else {
            Mark(firstMark);
            *firstMs += first(begin, end);
            Mark(secondMark);
            *secondMs += second(begin, end);
        }
        Mark(L"end.0");
    }
}

// ---- msiexec with the packages bench/run built ----

struct Package {
    const wchar_t* name;    // <name>.msi, installed into "<Program Files>\OrvBench <name>"
    const wchar_t* label;
};
const Package kPackages[] = {
    {L"onefile", L"one file"},
    {L"perfile", L"one component per file"},
    {L"onecomp", L"one component for all files"},
};

class Msiexec {
public:
    Msiexec(const std::wstring& folder, const std::wstring& probeName, size_t* failures)
        : m_folder(folder), m_probe(probeName), m_failures(failures) {
        WCHAR system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        m_msiexec = JoinPath(system, L"msiexec.exe");
        WCHAR programs[MAX_PATH] = L"C:\\Program Files";
        GetEnvironmentVariableW(L"ProgramW6432", programs, MAX_PATH);
        m_programs = programs;
    }
    std::wstring InstalledProbe(const Package& p, bool oneFile) const {
        return JoinPath(JoinPath(m_programs, std::wstring(L"OrvBench ") + p.name), oneFile ? L"file00000.dat" : m_probe);
    }
    double Run(const Package& p, LPCWSTR operation) {
        const std::wstring package = Quoted(JoinPath(m_folder, std::wstring(p.name) + L".msi"));
        std::wstring command = Quoted(m_msiexec);
        if (wcscmp(operation, L"install") == 0) command += L" /i " + package + L" /qn";
        else if (wcscmp(operation, L"reinstall") == 0) command += L" /i " + package + L" REINSTALL=ALL REINSTALLMODE=omus /qn";
        else command += L" /x " + package + L" /qn";
        const double start = NowMs();
        const DWORD code = RunAndWait(command);
        const double elapsed = NowMs() - start;
        const bool oneFile = wcscmp(p.name, L"onefile") == 0;
        const bool present = Exists(InstalledProbe(p, oneFile));
        if (code != 0 || present != (wcscmp(operation, L"uninstall") != 0)) ++*m_failures;
        return elapsed;
    }
    void Clean(const Package& p) { RunAndWait(Quoted(m_msiexec) + L" /x " + Quoted(JoinPath(m_folder, std::wstring(p.name) + L".msi")) + L" /qn"); }

private:
    std::wstring m_folder, m_probe, m_msiexec, m_programs;
    size_t* m_failures;
};

// ---- report ----

class Figures {
public:
    void Add(const std::wstring& series, double ms) { m_series[series].push_back(ms); }
    bool Has(const std::wstring& series) const { return m_series.count(series) != 0; }
    double Ms(const std::wstring& series) const {
        auto it = m_series.find(series);
        return it == m_series.end() ? 0 : Median(it->second);
    }

private:
    std::map<std::wstring, std::vector<double>> m_series;
};

void Goal(const wchar_t* text, double value, double limit, const wchar_t* unit) {
    wprintf(L"  %-66ls %8.2f%ls (goal %ls %.2f%ls)  %ls\n", text, value, unit, L"<=", limit, unit,
            value <= limit ? L"met" : L"NOT MET");
}

std::vector<std::wstring> SourceNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*.dat").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

bool ParseOptions(int argc, wchar_t** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        const bool more = i + 1 < argc;
        if (a == L"--sources" && more) o->sources = argv[++i];
        else if (a == L"--msi" && more) o->msi = argv[++i];
        else if (a == L"--work" && more) o->work = argv[++i];
        else if (a == L"--rounds" && more) o->rounds = _wtoi(argv[++i]);
        else if (a == L"--shared" && more) o->shared = wcstoul(argv[++i], nullptr, 10);
        else if (a == L"--count") o->count = true;
        else return false;
    }
    return !o->sources.empty() && o->rounds > 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && wcscmp(argv[1], L"--shared-child") == 0) {
        EnableMarks(Env(L"ORVBENCH_MARKS") == L"1");
        return SharedDllsChild(argv[2], wcstoul(argv[3], nullptr, 10), argv[4]);
    }
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fwprintf(stderr, L"usage: orvbench --sources <folder> [--msi <folder>] [--rounds R] [--work <folder>] "
                         L"[--shared N] [--count]\n");
        return 2;
    }
    EnableMarks(options.count);
    if (options.count) SetEnvironmentVariableW(L"ORVBENCH_MARKS", L"1");
    const int rounds = options.count ? 1 : options.rounds;
    const int firstCounted = options.count ? 0 : 1;  // round 0 warms up

    const std::vector<std::wstring> names = SourceNames(options.sources);
    if (names.empty()) {
        fwprintf(stderr, L"no *.dat files in %ls\n", options.sources.c_str());
        return 2;
    }
    const size_t n = names.size();
    const std::wstring work = options.work;
    RemoveTree(work);
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring bin = Env(L"ORV_BIN");
    if (bin.empty()) bin = SelfPath().substr(0, SelfPath().rfind(L'\\'));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    size_t failures = 0;
    Figures figures;
    FileSet sources(names, options.sources);
    FileSet plain(names, JoinPath(work, L"plain"));
    FileSet plain2(names, JoinPath(work, L"plain2"));
    FileSet installed(names, JoinPath(work, L"kernel"));
    Passes passes(sources, &failures);
    auto unit = [n](const wchar_t* phase) { return std::wstring(phase) + L"." + std::to_wstring(n); };

    // Kernel and plain copy side by side, logging on: a fresh install against a
    // fresh copy, a keep pass against another fresh copy, an uninstall against
    // plain deletes; then a plain copy over existing targets (for comparison).
    {
        KernelModule kernel;
        if (!kernel.Load(bin, JoinPath(work, L"kernel.log"))) {
            fwprintf(stderr, L"cannot load the kernel from %ls\n", bin.c_str());
            return 1;
        }
        for (int round = 0; round <= rounds - (options.count ? 1 : 0); ++round) {
            double kf, pf, kk, pk, ku, pd;
            Alternate(
                n, unit(L"kernel-fresh").c_str(), unit(L"plain-fresh").c_str(),
                [&](size_t b, size_t e) { return passes.Install(kernel, installed, b, e, S_OK); },
                [&](size_t b, size_t e) { return passes.PlainCopy(plain, b, e); }, &kf, &pf);
            Alternate(
                n, unit(L"kernel-keep").c_str(), unit(L"plain-fresh-b").c_str(),
                [&](size_t b, size_t e) { return passes.Install(kernel, installed, b, e, S_FALSE); },
                [&](size_t b, size_t e) { return passes.PlainCopy(plain2, b, e); }, &kk, &pk);
            Alternate(
                n, unit(L"kernel-uninstall").c_str(), unit(L"plain-delete").c_str(),
                [&](size_t b, size_t e) { return passes.UnInstall(kernel, installed, b, e); },
                [&](size_t b, size_t e) { return passes.PlainDelete(plain, b, e); }, &ku, &pd);
            Mark(unit(L"plain-over").c_str());
            const double po = passes.PlainCopy(plain2, 0, n);
            Mark(L"end.0");
            passes.PlainDelete(plain2, 0, n);
            if (round < firstCounted) continue;
            figures.Add(L"plain-fresh", pf);
            figures.Add(L"plain-fresh-2", pk);
            figures.Add(L"plain-over", po);
            figures.Add(L"plain-delete", pd);
            figures.Add(L"kernel-fresh", kf);
            figures.Add(L"kernel-keep", kk);
            figures.Add(L"kernel-uninstall", ku);
            figures.Add(L"ratio-fresh", kf / pf);
            figures.Add(L"ratio-keep", kk / pk);
            figures.Add(L"ratio-uninstall", ku / pd);
        }
    }
    // The kernel passes again with the log sent to NUL: what the log costs.
    {
        KernelModule kernel;
        if (kernel.Load(bin, L"NUL")) {
            for (int round = 0; round <= rounds - (options.count ? 1 : 0); ++round) {
                Mark(unit(L"nul-kernel-fresh").c_str());
                const double kf = passes.Install(kernel, installed, 0, n, S_OK);
                Mark(unit(L"nul-kernel-keep").c_str());
                const double kk = passes.Install(kernel, installed, 0, n, S_FALSE);
                Mark(unit(L"nul-kernel-uninstall").c_str());
                const double ku = passes.UnInstall(kernel, installed, 0, n);
                Mark(L"end.0");
                if (round < firstCounted) continue;
                figures.Add(L"nul-kernel-fresh", kf);
                figures.Add(L"nul-kernel-keep", kk);
                figures.Add(L"nul-kernel-uninstall", ku);
            }
        }
    }
    SetEnvironmentVariableW(L"TQORVWEX_LOG", JoinPath(work, L"kernel.log").c_str());

    // msiexec with the same files.
    if (!options.msi.empty()) {
        Msiexec msiexec(options.msi, names.back(), &failures);
        for (const Package& p : kPackages) msiexec.Clean(p);
        for (int round = 0; round <= rounds - (options.count ? 1 : 0); ++round) {
            for (const Package& p : kPackages) {
                const size_t files = wcscmp(p.name, L"onefile") == 0 ? 1 : n;
                for (const wchar_t* operation : {L"install", L"reinstall", L"uninstall"}) {
                    const std::wstring series = std::wstring(L"msi-") + p.name + L"-" + operation;
                    Mark((series + L"." + std::to_wstring(files)).c_str());
                    const double ms = msiexec.Run(p, operation);
                    Mark(L"end.0");
                    if (round >= firstCounted) figures.Add(series, ms);
                }
            }
        }
    }

    // SharedDLLs, each measurement in a fresh process.
    SharedDllsFigures shared{};
    std::vector<double> sharedLoad, sharedHit, sharedMiss;
    size_t sharedWrong = 0;
    if (options.shared > 0 && PrepareSharedDlls(work, options.shared)) {
        const std::wstring result = JoinPath(work, L"shared.txt");
        for (int round = 0; round <= rounds - (options.count ? 1 : 0); ++round) {
            DeleteFileW(result.c_str());
            const DWORD code = RunAndWait(Quoted(SelfPath()) + L" --shared-child " + Quoted(work) + L" " +
                                          std::to_wstring(options.shared) + L" " + Quoted(result));
            SharedDllsFigures one;
            if (code != 0 || !ReadSharedDllsResult(result, &one)) {
                ++failures;
                continue;
            }
            sharedWrong += one.wrong;
            shared.entries = one.entries;
            if (round < firstCounted) continue;
            sharedLoad.push_back(one.loadMs);
            sharedHit.push_back(one.hitUs);
            sharedMiss.push_back(one.missUs);
        }
        RemoveSharedDlls();
        shared.loadMs = Median(sharedLoad);
        shared.hitUs = Median(sharedHit);
        shared.missUs = Median(sharedMiss);
    }
    failures += sharedWrong;

    // The dependency walk.
    std::vector<double> walk;
    size_t unresolved = 0;
    for (int round = 0; round <= rounds - (options.count ? 1 : 0); ++round) {
        Mark(L"dependency-walk.1");
        const double ms = DependencyWalkMs(work, 50, 1000, &unresolved);
        Mark(L"end.0");
        if (ms < 0) break;
        if (round >= firstCounted) walk.push_back(ms);
    }

    RemoveTree(work);
    CoUninitialize();
    if (options.count) {
        if (failures) wprintf(L"%u unexpected results\n", static_cast<unsigned>(failures));
        return failures ? 1 : 0;
    }

    auto us = [&](const std::wstring& series, size_t files) { return figures.Ms(series) * 1000.0 / files; };
    wprintf(L"%u files of the sources folder, median of %d rounds after one warm-up round, one wine64 process\n\n",
            static_cast<unsigned>(n), rounds);
    wprintf(L"  us per file                                  fresh      keep/again  uninstall\n");
    wprintf(L"  plain CopyFileW / DeleteFileW + folder   %9.0f   %9.0f   %9.0f\n", us(L"plain-fresh", n),
            us(L"plain-over", n), us(L"plain-delete", n));
    wprintf(L"  InstallFile / UnInstallFile, log on      %9.0f   %9.0f   %9.0f\n", us(L"kernel-fresh", n),
            us(L"kernel-keep", n), us(L"kernel-uninstall", n));
    wprintf(L"  InstallFile / UnInstallFile, log to NUL  %9.0f   %9.0f   %9.0f\n", us(L"nul-kernel-fresh", n),
            us(L"nul-kernel-keep", n), us(L"nul-kernel-uninstall", n));
    const bool msi = figures.Has(L"msi-onefile-install");
    if (msi) {
        wprintf(L"\n  msiexec, us per file (raw / marginal)   install              reinstall            "
                L"uninstall\n");
        wprintf(L"  one file (whole run, ms)                 %9.1f            %9.1f            %9.1f\n",
                figures.Ms(L"msi-onefile-install"), figures.Ms(L"msi-onefile-reinstall"),
                figures.Ms(L"msi-onefile-uninstall"));
        for (const Package& p : kPackages) {
            if (wcscmp(p.name, L"onefile") == 0) continue;
            wprintf(L"  %-40ls", p.label);
            for (const wchar_t* operation : {L"install", L"reinstall", L"uninstall"}) {
                const std::wstring series = std::wstring(L"msi-") + p.name + L"-" + operation;
                const double one = figures.Ms(std::wstring(L"msi-onefile-") + operation);
                wprintf(L" %9.0f / %-9.0f", us(series, n), n > 1 ? (figures.Ms(series) - one) * 1000.0 / (n - 1) : 0.0);
            }
            wprintf(L"\n");
        }
    }
    if (!sharedLoad.empty()) {
        wprintf(L"\n  SharedDLLs, %u values (%u entries): first look-up (load) %.1f ms, then %.1f us per hit, %.1f us "
                L"per miss\n",
                static_cast<unsigned>(options.shared), static_cast<unsigned>(shared.entries), shared.loadMs,
                shared.hitUs, shared.missUs);
    }
    if (!walk.empty())
        wprintf(L"  dependency walk, 50 modules x 1000 exports: %.1f ms (%u unresolved)\n", Median(walk),
                static_cast<unsigned>(unresolved));

    const double kf = figures.Ms(L"kernel-fresh"), ku = figures.Ms(L"kernel-uninstall");
    wprintf(L"\nGoals (kernel and plain passes alternate in chunks of 50 files; medians of the rounds' ratios)\n");
    Goal(L"fresh InstallFile / fresh CopyFileW", figures.Ms(L"ratio-fresh"), 1.15, L"");
    Goal(L"keep pass / fresh CopyFileW", figures.Ms(L"ratio-keep"), 0.10, L"");
    Goal(L"UnInstallFile / (DeleteFileW + removal of the created folder)", figures.Ms(L"ratio-uninstall"), 1.5, L"");
    if (msi) {
        auto marginal = [&](const wchar_t* package, const wchar_t* operation) {
            const double one = figures.Ms(std::wstring(L"msi-onefile-") + operation);
            return (figures.Ms(std::wstring(L"msi-") + package + L"-" + operation) - one) / (n - 1);
        };
        Goal(L"fresh InstallFile / msiexec one component install (raw)", kf / figures.Ms(L"msi-onecomp-install"), 1.0,
             L"");
        Goal(L"UnInstallFile / msiexec one component uninstall (raw)", ku / figures.Ms(L"msi-onecomp-uninstall"), 1.0,
             L"");
        Goal(L"fresh InstallFile / msiexec component per file install (marginal)", kf / n / marginal(L"perfile", L"install"),
             0.5, L"");
        // What the system's own copy reaches against the same figure: an
        // install cannot cost less than creating the file.
        wprintf(L"  %-66ls %8.2f\n", L"  for reference: fresh CopyFileW / the same",
                figures.Ms(L"plain-fresh") / n / marginal(L"perfile", L"install"));
        Goal(L"UnInstallFile / msiexec component per file uninstall (marginal)",
             ku / n / marginal(L"perfile", L"uninstall"), 0.5, L"");
    }
    if (!sharedLoad.empty())
        Goal(L"SharedDLLs: load, 100 hits and 100 misses", shared.loadMs + (99 * shared.hitUs + 100 * shared.missUs) / 1000,
             50, L" ms");
    if (!walk.empty()) Goal(L"dependency walk, 50 modules x 1000 exports", Median(walk), 100, L" ms");
    if (failures) wprintf(L"\n%u calls gave an unexpected result\n", static_cast<unsigned>(failures));
    return failures ? 1 : 0;
}
