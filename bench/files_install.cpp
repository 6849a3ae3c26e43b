// Speed of InstallFile on data files against a plain CopyFileW, measured side
// by side in one process: a fresh install, and a "keep" pass over targets that
// are already current. Prints times and ratios; asserts nothing.
//
//   files_install.exe [count [bytes [rounds [nolog]]]]     (defaults 1000 4096 5)
//
// The kernel is loaded from ORV_BIN (else this program's folder) and logs as
// usual (into TQORVWEX_LOG, set here to a file in the bench folder); "nolog"
// sends its lines to NUL instead, to show what the log costs.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "kernel/TqOrvWexKr_h.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* PFN_CreateInstance)(IOrvInstallerKernel**);

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring Name(const std::wstring& folder, size_t i) {
    wchar_t name[32];
    _snwprintf(name, 32, L"\\file%05u.dat", static_cast<unsigned>(i));
    return folder + name;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const size_t count = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 1000;
    const size_t bytes = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 4096;
    const int rounds = argc > 3 ? static_cast<int>(wcstoul(argv[3], nullptr, 10)) : 5;
    const bool logging = !(argc > 4 && wcscmp(argv[4], L"nolog") == 0);
    if (count == 0 || rounds <= 0) return 2;

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"orv_bench_" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(base);
    CreateDirectoryW(base.c_str(), nullptr);
    SetEnvironmentVariableW(L"TQORVWEX_LOG", logging ? (base + L"\\kernel.log").c_str() : L"NUL");

    std::wstring bin = Env(L"ORV_BIN");
    if (bin.empty()) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        bin = self;
        bin.resize(bin.rfind(L'\\'));
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE module = LoadLibraryW((bin + L"\\TqOrvWexKr.dll").c_str());
    auto create = module ? reinterpret_cast<PFN_CreateInstance>(GetProcAddress(module, "OrvWexKrCreateInstance"))
                         : nullptr;
    IOrvInstallerKernel* kernel = nullptr;
    if (!create || create(&kernel) != S_OK) {
        fwprintf(stderr, L"cannot load the kernel from %ls\n", bin.c_str());
        return 1;
    }

    // Sources: count files of the given size, a day old.
    const std::wstring sources = base + L"\\src";
    CreateDirectoryW(sources.c_str(), nullptr);
    std::string content(bytes, 'x');
    std::vector<BSTR> sourceNames;
    FILETIME dayOld;
    GetSystemTimeAsFileTime(&dayOld);
    reinterpret_cast<ULARGE_INTEGER*>(&dayOld)->QuadPart -= 24ULL * 3600ULL * 10000000ULL;
    for (size_t i = 0; i < count; ++i) {
        const std::wstring path = Name(sources, i);
        content[0] = static_cast<char>('a' + i % 26);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        SetFileTime(file, nullptr, nullptr, &dayOld);
        CloseHandle(file);
        sourceNames.push_back(SysAllocString(path.c_str()));
    }

    auto plainCopy = [&](const std::wstring& folder) {
        const double start = Now();
        for (size_t i = 0; i < count; ++i) CopyFileW(sourceNames[i], Name(folder, i).c_str(), FALSE);
        return Now() - start;
    };
    size_t failures = 0;
    auto install = [&](const std::wstring& folder, HRESULT expected) {
        std::vector<BSTR> targets;
        for (size_t i = 0; i < count; ++i) targets.push_back(SysAllocString(Name(folder, i).c_str()));
        const double start = Now();
        for (size_t i = 0; i < count; ++i) {
            _ORV_FILE_INSTALL_INFO info{};
            info.bstrSource = sourceNames[i];
            info.bstrTarget = targets[i];
            info.dwInstallMode = 1;
            if (kernel->InstallFile(&info) != expected) ++failures;
            if (_ORV_CHECK_INFO* records = info.lpOrvCheckInfo) {
                for (int r = 0; r < 3; ++r) {
                    SysFreeString(records[r].bstrKey);
                    SysFreeString(records[r].bstrValue);
                }
                CoTaskMemFree(records);
            }
        }
        const double elapsed = Now() - start;
        for (BSTR t : targets) SysFreeString(t);
        return elapsed;
    };

    std::vector<double> plainFresh, plainAgain, kernelFresh, kernelKeep;
    for (int round = 0; round <= rounds; ++round) {  // round 0 warms up and is not counted
        const std::wstring plain = base + L"\\plain";
        const std::wstring installed = base + L"\\installed";
        RemoveTree(plain);
        RemoveTree(installed);
        CreateDirectoryW(plain.c_str(), nullptr);
        CreateDirectoryW(installed.c_str(), nullptr);
        // Alternate the order so neither side always runs on a warmer cache.
        double pf, kf;
        if (round % 2) {
            pf = plainCopy(plain);
            kf = install(installed, S_OK);
        } else {
            kf = install(installed, S_OK);
            pf = plainCopy(plain);
        }
        const double kk = install(installed, S_FALSE);
        const double pa = plainCopy(plain);
        if (round == 0) continue;
        plainFresh.push_back(pf);
        kernelFresh.push_back(kf);
        kernelKeep.push_back(kk);
        plainAgain.push_back(pa);
    }

    const double pf = Median(plainFresh), kf = Median(kernelFresh), kk = Median(kernelKeep), pa = Median(plainAgain);
    wprintf(L"%u files of %u bytes, median of %d rounds (one wine64 process, logging %ls)\n",
            static_cast<unsigned>(count), static_cast<unsigned>(bytes), rounds, logging ? L"on" : L"to NUL");
    wprintf(L"  plain CopyFileW, fresh        %9.1f ms  (%.3f ms/file)\n", pf, pf / count);
    wprintf(L"  plain CopyFileW, over targets %9.1f ms\n", pa);
    wprintf(L"  InstallFile, fresh            %9.1f ms  (%.3f ms/file)\n", kf, kf / count);
    wprintf(L"  InstallFile, keep pass        %9.1f ms  (%.3f ms/file)\n", kk, kk / count);
    wprintf(L"  fresh install / fresh plain copy  = %.2f   (goal <= 1.30)\n", kf / pf);
    wprintf(L"  keep pass / fresh plain copy      = %.2f   (goal <= 0.10)\n", kk / pf);
    if (failures) wprintf(L"  %u calls gave an unexpected result\n", static_cast<unsigned>(failures));

    kernel->Release();
    for (BSTR s : sourceNames) SysFreeString(s);
    FreeLibrary(module);
    RemoveTree(base);
    CoUninitialize();
    return failures ? 1 : 0;
}
