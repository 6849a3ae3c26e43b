// The module dependency check over a set of generated libraries: modNN.dll
// each export 1000 functions; mod00 imports every function of every other
// module, and each module every function of the next one. One function and
// one module are missing, so the check has something to report.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Bench.h"
#include "files/FileModel.h"

namespace orvbench {
namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& b, size_t at, unsigned long long value, unsigned width) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
size_t AppendText(Bytes& b, const std::string& text) {
    const size_t at = b.size();
    b.insert(b.end(), text.c_str(), text.c_str() + text.size() + 1);
    return at;
}

struct Import {
    std::string module;
    std::vector<std::string> functions;
};

// A PE32+ library: headers, then one section (file offset 0x200, RVA 0x1000)
// holding the import and export tables.
Bytes Library(const std::vector<Import>& imports, const std::vector<std::string>& exports) {
    const size_t kRaw = 0x200, kVa = 0x1000;
    Bytes f(kRaw, 0);
    auto rva = [&](size_t offset) { return static_cast<unsigned long long>(offset - kRaw + kVa); };
    f.resize(kRaw + 16, 0xC3);  // the code every export points at
    const size_t importDir = f.size();
    f.resize(importDir + 20 * (imports.size() + 1), 0);
    for (size_t m = 0; m < imports.size(); ++m) {
        const size_t table = f.size();
        f.resize(table + 8 * (imports[m].functions.size() + 1), 0);
        for (size_t k = 0; k < imports[m].functions.size(); ++k) {
            const size_t hint = f.size();
            f.resize(hint + 2, 0);
            AppendText(f, imports[m].functions[k]);
            Put(f, table + 8 * k, rva(hint), 8);
        }
        Put(f, importDir + 20 * m, rva(table), 4);
        Put(f, importDir + 20 * m + 12, rva(AppendText(f, imports[m].module)), 4);
        Put(f, importDir + 20 * m + 16, rva(table), 4);
    }
    const size_t exportDir = f.size(), n = exports.size();
    f.resize(exportDir + 40 + 4 * n + 4 * n + 2 * n, 0);
    const size_t functions = exportDir + 40, names = functions + 4 * n, ordinals = names + 4 * n;
    for (size_t i = 0; i < n; ++i) {
        Put(f, functions + 4 * i, kVa, 4);
        Put(f, ordinals + 2 * i, i, 2);
        Put(f, names + 4 * i, rva(AppendText(f, exports[i])), 4);
    }
    const unsigned long long fields[] = {1, n, n, rva(functions), rva(names), rva(ordinals)};
    for (size_t k = 0; k < 6; ++k) Put(f, exportDir + 16 + 4 * k, fields[k], 4);
    const size_t exportSize = f.size() - exportDir;

    const size_t pe = 0x80, optional = pe + 24, dirs = optional + 112, section = optional + 240;
    Put(f, 0, 'M' | 'Z' << 8, 2);
    Put(f, 60, pe, 4);
    Put(f, pe, 0x4550, 4);
    Put(f, pe + 4, 0x8664, 2);     // machine
    Put(f, pe + 6, 1, 2);          // sections
    Put(f, pe + 20, 240, 2);       // optional header
    Put(f, pe + 22, 0x2022, 2);    // executable, large addresses, DLL
    Put(f, optional, 0x20B, 2);    // PE32+
    Put(f, dirs - 4, 16, 4);
    Put(f, dirs, rva(exportDir) | static_cast<unsigned long long>(exportSize) << 32, 8);
    Put(f, dirs + 8, rva(importDir) | static_cast<unsigned long long>(20 * (imports.size() + 1)) << 32, 8);
    const size_t data = f.size() - kRaw;
    std::memcpy(&f[section], ".rdata", 6);
    Put(f, section + 8, data, 4);
    Put(f, section + 12, kVa, 4);
    Put(f, section + 16, data, 4);
    Put(f, section + 20, kRaw, 4);
    return f;
}

std::string ModuleName(size_t i) {
    char name[16];
    snprintf(name, sizeof(name), "mod%02u.dll", static_cast<unsigned>(i));
    return name;
}

bool WriteModules(const std::wstring& folder, size_t modules, size_t exports) {
    std::vector<std::string> functions;
    for (size_t k = 0; k < exports; ++k) {
        char name[16];
        snprintf(name, sizeof(name), "f%04u", static_cast<unsigned>(k));
        functions.push_back(name);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    for (size_t i = 0; i < modules; ++i) {
        std::vector<Import> imports;
        if (i == 0) {
            for (size_t j = 1; j < modules; ++j) imports.push_back({ModuleName(j), functions});
            imports[0].functions.push_back("missing_function");
        } else if (i + 1 < modules) {
            imports.push_back({ModuleName(i + 1), functions});
        } else {
            imports.push_back({"nowhere.dll", {"f0000"}});
        }
        const Bytes image = Library(imports, functions);
        const std::string name = ModuleName(i);
        const std::wstring path = JoinPath(folder, std::wstring(name.begin(), name.end()));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        const bool ok = file != INVALID_HANDLE_VALUE &&
                        WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr) &&
                        written == image.size();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok) return false;
    }
    return true;
}

}  // namespace

double DependencyWalkMs(const std::wstring& work, size_t modules, size_t exports, size_t* unresolved) {
    *unresolved = 0;
    const std::wstring folder = JoinPath(work, L"walk");
    if (!Exists(JoinPath(folder, L"mod00.dll")) && !WriteModules(folder, modules, exports)) return -1;
    const std::wstring server = JoinPath(folder, L"mod00.dll");
    CWexKrDllFile file(server.c_str());
    orv::UnresolvedModules missingModules;
    orv::UnresolvedExports missingExports;
    const double start = NowMs();
    file.CheckModuleDependencies(server.c_str(), missingModules, missingExports);
    const double elapsed = NowMs() - start;
    *unresolved = missingModules.size() + missingExports.size();
    return elapsed;
}

}  // namespace orvbench
