// SharedDLLs: the counter cache filled from a key of many values, then looked
// up; measured in a fresh process each time, since the cache lives as long as
// its process.
#include <cstdio>
#include <cwchar>

#include "Bench.h"
#include "files/SharedDllCounter.h"

namespace orvbench {
namespace {

const WCHAR kSharedDllsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Most values name libraries in a plain folder; every hundredth names one
// through the short form of a long folder name, as older installers wrote them.
std::wstring PlainFolder(const std::wstring& work) { return JoinPath(work, L"shared"); }
std::wstring LongFolder(const std::wstring& work) { return JoinPath(work, L"Shared libraries of the bench"); }

std::wstring LibraryName(size_t i) {
    WCHAR name[32];
    _snwprintf(name, 32, L"lib%05u.dll", static_cast<unsigned>(i));
    name[31] = 0;
    return name;
}

bool IsAlias(size_t i) { return i % 100 == 0; }

std::wstring ShortForm(const std::wstring& path) {
    WCHAR out[MAX_PATH];
    const DWORD n = GetShortPathNameW(path.c_str(), out, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(out, n) : path;
}

// The value name of library i, and the path a caller looks it up by.
std::wstring ValueName(const std::wstring& work, size_t i) {
    return IsAlias(i) ? JoinPath(ShortForm(LongFolder(work)), LibraryName(i)) : JoinPath(PlainFolder(work), LibraryName(i));
}
std::wstring LookupPath(const std::wstring& work, size_t i) {
    return JoinPath(IsAlias(i) ? LongFolder(work) : PlainFolder(work), LibraryName(i));
}

bool IsBenchValue(const WCHAR* name, const std::wstring& plain, const std::wstring& shortLong) {
    return _wcsnicmp(name, plain.c_str(), plain.size()) == 0 || _wcsnicmp(name, shortLong.c_str(), shortLong.size()) == 0;
}

std::wstring g_work;

}  // namespace

bool PrepareSharedDlls(const std::wstring& work, size_t values) {
    g_work = work;
    CreateDirectoryW(PlainFolder(work).c_str(), nullptr);
    CreateDirectoryW(LongFolder(work).c_str(), nullptr);
    RemoveSharedDlls();
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = true;
    const DWORD one = 1;
    for (size_t i = 0; i < values && ok; ++i) {
        ok = RegSetValueExW(key, ValueName(work, i).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                            sizeof(one)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

void RemoveSharedDlls() {
    if (g_work.empty()) return;
    const std::wstring plain = PlainFolder(g_work) + L"\\", shortLong = ShortForm(LongFolder(g_work)) + L"\\";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    // Collect first: deleting while enumerating shifts the indexes.
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[MAX_PATH];
        DWORD cch = MAX_PATH;
        const LONG status = RegEnumValueW(key, index, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS && IsBenchValue(name, plain, shortLong)) names.push_back(name);
    }
    for (const std::wstring& name : names) RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

int SharedDllsChild(const std::wstring& work, size_t values, const std::wstring& resultFile) {
    SharedDllsFigures figures;
    const size_t kHits = 100, kMisses = 100;
    std::vector<std::wstring> hits, misses;
    for (size_t k = 0; k < kHits; ++k) hits.push_back(LookupPath(work, k % 10 == 0 ? k * 100 % values : k * 97 % values));
    for (size_t k = 0; k < kMisses; ++k) misses.push_back(JoinPath(PlainFolder(work), L"missing" + LibraryName(k)));

    auto expect = [&](const std::wstring& path, HRESULT hr, DWORD count) {
        DWORD actual = 0xdeadbeef;
        if (orv::files::GetSharedDllCounter(path.c_str(), &actual) != hr || (hr == S_OK && actual != count))
            ++figures.wrong;
    };
    Mark(L"shared-load.1");
    double t0 = NowMs();
    expect(hits[0], S_OK, 1);
    double t1 = NowMs();
    Mark(L"shared-hit.99");
    for (size_t k = 1; k < kHits; ++k) expect(hits[k], S_OK, 1);
    double t2 = NowMs();
    Mark(L"shared-miss.100");
    for (const std::wstring& path : misses) expect(path, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0);
    double t3 = NowMs();
    Mark(L"end.0");
    figures.loadMs = t1 - t0;
    figures.hitUs = (t2 - t1) * 1000.0 / (kHits - 1);
    figures.missUs = (t3 - t2) * 1000.0 / kMisses;
    figures.entries = orv::files::LoadSharedDllCounters();

    FILE* out = _wfopen(resultFile.c_str(), L"w");
    if (!out) return 1;
    fprintf(out, "%f %f %f %u %u\n", figures.loadMs, figures.hitUs, figures.missUs,
            static_cast<unsigned>(figures.entries), static_cast<unsigned>(figures.wrong));
    fclose(out);
    return 0;
}

bool ReadSharedDllsResult(const std::wstring& resultFile, SharedDllsFigures* figures) {
    FILE* in = _wfopen(resultFile.c_str(), L"r");
    if (!in) return false;
    unsigned entries = 0, wrong = 0;
    const bool ok = fscanf(in, "%lf %lf %lf %u %u", &figures->loadMs, &figures->hitUs, &figures->missUs, &entries,
                           &wrong) == 5;
    fclose(in);
    figures->entries = entries;
    figures->wrong = wrong;
    return ok;
}

}  // namespace orvbench
