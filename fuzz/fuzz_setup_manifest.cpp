// Fuzz target of the setup program's manifest and state readers: any bytes
// read to the end without a fault, and what is read keeps the readers'
// promises (a broken promise aborts):
//  - a document the reader accepts is written and read back unchanged;
//  - a manifest the reader accepts has only usable absolute paths, and its
//    items survive the state file's write and read;
//  - a refusal names a line of the file and says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "core/IniText.h"
#include "core/Manifest.h"
#include "core/SetupState.h"

namespace {

using namespace orvsetup;

void Check(bool condition) {
    if (!condition) std::abort();
}

class Resolver : public PathResolver {
public:
    bool Folder(std::wstring_view keyword, std::wstring& path) const override {
        if (keyword == L"Windows") return false;  // a folder the system does not know
        path = keyword == L"Fonts" ? L"C:\\windows\\Fonts\\" : L"C:\\" + std::wstring(keyword);
        return true;
    }
    bool Environment(std::wstring_view name, std::wstring& value) const override {
        if (name.empty() || name[0] == L'X') return false;
        value = name.size() > 8 ? std::wstring(300, L'v') : L"v" + std::wstring(name);
        return true;
    }
};

bool SameDocument(const IniDocument& a, const IniDocument& b) {
    if (a.sections.size() != b.sections.size()) return false;
    for (size_t i = 0; i < a.sections.size(); ++i) {
        const IniSection& x = a.sections[i];
        const IniSection& y = b.sections[i];
        if (x.name != y.name || x.entries.size() != y.entries.size()) return false;
        for (size_t j = 0; j < x.entries.size(); ++j)
            if (x.entries[j].key != y.entries[j].key || x.entries[j].value != y.entries[j].value) return false;
    }
    return true;
}

unsigned LineCount(std::string_view bytes) {
    unsigned lines = 1;
    for (char c : bytes) lines += c == '\n';
    return lines;
}

void CheckPaths(const ManifestItem& item) {
    if (item.kind == ItemKind::Value) {
        Check(!item.keyPath.empty());
        return;
    }
    if (item.kind == ItemKind::Shortcut) {
        Check(AbsolutePathProblem(item.program) == nullptr);
        Check(item.icon.empty() || AbsolutePathProblem(item.icon) == nullptr);
        Check(ShortcutCommandLine(item).find(L';') == std::wstring::npos || !item.icon.empty() || item.iconIndex);
        return;
    }
    Check(AbsolutePathProblem(item.source) == nullptr);
    Check(AbsolutePathProblem(item.target) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    IniDocument document;
    IniError error;
    if (!ReadIni(bytes, document, error)) {
        Check(document.sections.empty());
        Check(!error.message.empty() && error.line <= LineCount(bytes));
        return 0;
    }

    std::string written;
    if (WriteIni(document, written)) {
        IniDocument again;
        IniError againError;
        Check(ReadIni(written, again, againError));
        Check(SameDocument(document, again));
    }

    // The same text as a state file: refused or read, never a fault.
    SetupState state;
    IniError stateError;
    if (!StateFromIni(document, state, stateError)) Check(!stateError.message.empty());

    Manifest manifest;
    if (!ReadManifest(document, L"Z:\\medium", Resolver(), manifest, error)) {
        Check(manifest.items.empty() && !error.message.empty() && error.line <= LineCount(bytes));
        return 0;
    }
    Check(AbsolutePathProblem(manifest.installDir) == nullptr);
    for (const ManifestItem& item : manifest.items) CheckPaths(item);

    // The items, recorded in a state file, come back the same.
    SetupState record;
    record.product = manifest.name;
    record.version = manifest.version;
    record.installDir = manifest.installDir;
    for (const ManifestItem& item : manifest.items) record.items.push_back(StateItem{item});
    IniDocument recordDoc;
    StateToIni(record, recordDoc);
    std::string recordText;
    if (!WriteIni(recordDoc, recordText)) return 0;  // a line over the limit
    IniDocument readBack;
    Check(ReadIni(recordText, readBack, error));
    SetupState back;
    Check(StateFromIni(readBack, back, error));
    IniDocument backDoc;
    StateToIni(back, backDoc);
    std::string backText;
    Check(WriteIni(backDoc, backText) && backText == recordText);
    return 0;
}
