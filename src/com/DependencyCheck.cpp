#include "com/DependencyCheck.h"

#include <shlwapi.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "com/ComSupport.h"
#include "files/FileModel.h"
#include "files/ModuleImage.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

namespace orv::com {
namespace {

bool IsAbsolute(const std::wstring& folder) {
    if (folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\') return true;
    return folder.size() >= 3 && iswalpha(folder[0]) && folder[1] == L':' && folder[2] == L'\\';
}

class SystemDependencySource : public DependencySource {
public:
    SystemDependencySource() {
        WCHAR folder[MAX_PATH];
        if (ProgramFolder(folder)) m_before = folder;
        UINT n = GetSystemDirectoryW(folder, MAX_PATH);
        if (n > 0 && n < MAX_PATH) Add(m_after, folder);
        WCHAR windows[MAX_PATH];
        n = GetWindowsDirectoryW(windows, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            if (JoinPath(windows, L"System", folder)) Add(m_after, folder);
            Add(m_after, windows);
        }
        const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
        std::wstring path(size, L'\0');
        if (size && GetEnvironmentVariableW(L"PATH", &path[0], size) < size) {
            path.resize(wcslen(path.c_str()));
            for (size_t start = 0; start <= path.size();) {
                size_t end = path.find(L';', start);
                if (end == std::wstring::npos) end = path.size();
                Add(m_after, path.substr(start, end - start));
                start = end + 1;
            }
        }
    }

    // A module found by the search has its exports read first and its
    // imports when the walk reaches it: both are read from one mapping, and
    // the imports wait here until they are asked for.
    std::vector<ImportedModule> ReadImports(const std::wstring& path) override {
        auto waiting = m_imports.find(path);
        if (waiting == m_imports.end()) {
            std::vector<ImportedModule> modules;
            ::ReadImportTable(path.c_str(), modules);
            return modules;
        }
        std::vector<ImportedModule> modules = std::move(waiting->second);
        m_imports.erase(waiting);
        return modules;
    }

    ExportSet ReadExports(const std::wstring& path) override {
        ExportSet exports;
        std::vector<ImportedModule> modules;
        ::ReadImportAndExportTables(path.c_str(), modules, exports);
        m_imports[path] = std::move(modules);
        return exports;
    }

    bool Search(const std::wstring& name, const std::wstring& importerFolder, std::wstring* found) override {
        if (name.empty()) return false;
        WCHAR result[MAX_PATH];
        if (name.find_first_of(L"\\/:") != std::wstring::npos) {
            // A name with a folder of its own is taken from the importer's folder.
            WCHAR combined[MAX_PATH];
            if (!PathCombineW(combined, importerFolder.c_str(), name.c_str()) || !PathFileExistsW(combined) ||
                PathIsDirectoryW(combined))
                return false;
            *found = combined;
            return true;
        }
        std::wstring list = m_before;
        if (IsAbsolute(importerFolder)) list += L";" + importerFolder;
        list += m_after;
        const DWORD n = SearchPathW(list.c_str(), name.c_str(), nullptr, MAX_PATH, result, nullptr);
        if (n == 0 || n >= MAX_PATH) return false;
        *found = result;
        return true;
    }

    std::wstring VersionText(const std::wstring& path) override {
        CWexFileVersion version;
        CWexFile::GetVersion(path.c_str(), version);  // a version not read stays not valid
        WCHAR text[32];
        return version.GetVersionString(text, 32);
    }

    std::wstring Lower(const std::wstring& text) override {
        std::wstring lower = text;
        if (!lower.empty()) CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
        return lower;
    }

private:
    static void Add(std::wstring& list, std::wstring folder) {
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        if (IsAbsolute(folder)) list += L";" + folder;
    }

    std::map<std::wstring, std::vector<ImportedModule>> m_imports;  // read with the exports, not asked for yet
    std::wstring m_before;  // the setup program's folder
    std::wstring m_after;   // ";folder" for each folder searched after the importer's
};

}  // namespace

void ReportUnresolvedDependencies(LPCWSTR pszPath, const UnresolvedModules& modules, const UnresolvedExports& exports) {
    if (!modules.empty()) {
        LogError(L"The module %s could not be loaded due to unresolved module dependencies:", pszPath);
        for (const std::wstring& name : modules) LogError(L"Module %s is unresolved", name.c_str());
    }
    if (!exports.empty()) {
        LogError(L"The module %s could not be loaded due to unresolved exports:", pszPath);
        for (const auto& entry : exports)
            LogError(L"Export %s <-- %s ( version %s ) is unresolved", entry.first.first.c_str(),
                     entry.first.second.c_str(), entry.second.c_str());
    }
}

void ReportMissingDependencies(CWexKrExecutableFile& file, LPCWSTR server) {
    try {
        UnresolvedModules modules;
        UnresolvedExports exports;
        if (!file.CheckModuleDependencies(server, modules, exports))
            ReportUnresolvedDependencies(server, modules, exports);
    } catch (...) {
        // Out of memory: no report; the registration's own result stands.
    }
}

}  // namespace orv::com

bool CWexKrExecutableFile::CheckModuleDependencies(LPCWSTR pszPath, orv::UnresolvedModules& modules,
                                                   orv::UnresolvedExports& exports) {
    orv::com::SystemDependencySource source;
    return orv::CheckModuleDependencies(pszPath ? pszPath : L"", source, modules, exports);
}
