// The state file's sections: [State], then [Item 1] ... [Item n] in install
// order. Only fields that differ from their defaults are written.
#include "core/SetupState.h"

namespace orvsetup {
namespace {

constexpr const wchar_t* kFormat = L"1";

const wchar_t* PhaseName(Phase phase) {
    switch (phase) {
    case Phase::Installing: return L"installing";
    case Phase::Installed: return L"installed";
    case Phase::Uninstalling: return L"uninstalling";
    }
    return L"?";
}

void Put(IniSection& section, const wchar_t* key, const std::wstring& value) {
    section.entries.push_back(IniEntry{key, value, 0});
}
void PutIf(IniSection& section, const wchar_t* key, const std::wstring& value) {
    if (!value.empty()) Put(section, key, value);
}
void PutFlag(IniSection& section, const wchar_t* key, bool value) {
    if (value) Put(section, key, L"yes");
}

std::wstring HexBytes(const std::vector<uint8_t>& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

// Reads one section's entries by key; every entry must be asked for once.
class Fields {
public:
    Fields(const IniSection& section, IniError& error) : m_section(section), m_error(error), m_used(section.entries.size()) {}

    bool Text(const wchar_t* key, std::wstring& out, bool required = false) {
        for (size_t i = 0; i < m_section.entries.size(); ++i) {
            if (!IniNamesEqual(m_section.entries[i].key, key)) continue;
            m_used[i] = true;
            out = m_section.entries[i].value;
            return true;
        }
        if (required) return Fail(m_section.line, L"[" + m_section.name + L"] has no " + key);
        return true;
    }
    bool Has(const wchar_t* key) const { return m_section.Find(key) != nullptr; }
    bool Flag(const wchar_t* key, bool& out) {
        std::wstring text;
        if (!Text(key, text)) return false;
        out = false;
        if (text.empty()) return true;
        if (text != L"yes") return Fail(Line(key), std::wstring(key) + L" must be yes");
        out = true;
        return true;
    }
    bool Number(const wchar_t* key, unsigned long long limit, unsigned long long& out) {
        std::wstring text;
        if (!Text(key, text)) return false;
        out = 0;
        if (text.empty()) return true;
        unsigned long long v = 0;
        for (wchar_t c : text) {
            if (c < L'0' || c > L'9' || v > limit / 10) return Fail(Line(key), std::wstring(key) + L" is no number");
            v = v * 10 + static_cast<unsigned>(c - L'0');
        }
        if (v > limit) return Fail(Line(key), std::wstring(key) + L" is too large");
        out = v;
        return true;
    }
    // Every entry of the section was read.
    bool AllUsed() {
        for (size_t i = 0; i < m_used.size(); ++i)
            if (!m_used[i])
                return Fail(m_section.entries[i].line, L"unknown key '" + m_section.entries[i].key + L"'");
        return true;
    }
    unsigned Line(const wchar_t* key) const {
        const IniEntry* e = m_section.Find(key);
        return e ? e->line : m_section.line;
    }
    bool Fail(unsigned line, std::wstring message) {
        m_error.line = line;
        m_error.message = std::move(message);
        return false;
    }

private:
    const IniSection& m_section;
    IniError& m_error;
    std::vector<bool> m_used;
};

void ItemToSection(const StateItem& s, IniSection& section) {
    const ManifestItem& m = s.item;
    Put(section, L"Kind", ItemKindName(m.kind));
    PutIf(section, L"Label", m.label);
    if (m.line) Put(section, L"Line", std::to_wstring(m.line));
    switch (m.kind) {
    case ItemKind::File:
    case ItemKind::Font:
    case ItemKind::Script:
        Put(section, L"Source", m.source);
        Put(section, L"Target", m.target);
        if (m.hasAppPaths) Put(section, L"AppPaths", m.appPaths);
        if (m.hasDllInstallCmd) Put(section, L"DllInstallCmd", m.dllInstallCmd);
        PutFlag(section, L"Force", m.force);
        break;
    case ItemKind::Value:
        Put(section, L"Key", m.keyPath);
        Put(section, L"Name", m.valueName);
        Put(section, L"Type", ValueTypeName(m.valueType));
        if (m.valueType == ValueType::String || m.valueType == ValueType::ExpandString) Put(section, L"Text", m.text);
        if (m.valueType == ValueType::Dword) Put(section, L"Dword", std::to_wstring(m.dword));
        if (m.valueType == ValueType::Binary) Put(section, L"Bytes", HexBytes(m.bytes));
        if (m.valueType == ValueType::MultiString) {
            Put(section, L"Strings", std::to_wstring(m.strings.size()));
            for (size_t i = 0; i < m.strings.size(); ++i)
                section.entries.push_back(IniEntry{L"String" + std::to_wstring(i + 1), m.strings[i], 0});
        }
        break;
    case ItemKind::Shortcut:
        Put(section, L"Folder", m.folder);
        Put(section, L"Program", m.program);
        PutIf(section, L"Arguments", m.arguments);
        PutIf(section, L"Description", m.description);
        PutIf(section, L"Icon", m.icon);
        if (m.iconIndex) Put(section, L"IconIndex", std::to_wstring(m.iconIndex));
        PutFlag(section, L"AllUsers", m.allUsers);
        break;
    }
    PutFlag(section, L"Done", s.done);
    PutFlag(section, L"Owned", s.owned);
    PutFlag(section, L"Counted", s.counted);
    PutFlag(section, L"Deferred", s.deferred);
    PutFlag(section, L"Scheduled", s.scheduled);
    PutFlag(section, L"RegisterAfterRestart", s.registerAfterRestart);
    PutIf(section, L"Backup", s.backup);
    PutIf(section, L"KeptScript", s.keptScript);
    for (size_t i = 0; i < s.check.size(); ++i) {
        const std::wstring n = std::to_wstring(i + 1);
        section.entries.push_back(IniEntry{L"CheckKey" + n, s.check[i].key, 0});
        if (s.check[i].hasValue) section.entries.push_back(IniEntry{L"CheckValue" + n, s.check[i].value, 0});
    }
}

bool ItemFromSection(const IniSection& section, StateItem& s, IniError& error) {
    Fields f(section, error);
    ManifestItem& m = s.item;
    std::wstring kind;
    unsigned long long number = 0;
    if (!f.Text(L"Kind", kind, true)) return false;
    if (!ItemKindFromName(kind, m.kind)) return f.Fail(f.Line(L"Kind"), L"unknown item kind '" + kind + L"'");
    if (!f.Text(L"Label", m.label) || !f.Number(L"Line", 0xFFFFFFFFu, number)) return false;
    m.line = static_cast<unsigned>(number);
    switch (m.kind) {
    case ItemKind::File:
    case ItemKind::Font:
    case ItemKind::Script:
        m.hasAppPaths = f.Has(L"AppPaths");
        m.hasDllInstallCmd = f.Has(L"DllInstallCmd");
        if (!f.Text(L"Source", m.source, true) || !f.Text(L"Target", m.target, true) ||
            !f.Text(L"AppPaths", m.appPaths) || !f.Text(L"DllInstallCmd", m.dllInstallCmd) || !f.Flag(L"Force", m.force))
            return false;
        if (AbsolutePathProblem(m.source) || AbsolutePathProblem(m.target))
            return f.Fail(section.line, L"an item's path is not absolute or not usable");
        break;
    case ItemKind::Value: {
        std::wstring type;
        if (!f.Text(L"Key", m.keyPath, true) || !f.Text(L"Name", m.valueName, true) || !f.Text(L"Type", type, true))
            return false;
        if (!ValueTypeFromName(type, m.valueType)) return f.Fail(f.Line(L"Type"), L"unknown value type");
        if (!f.Text(L"Text", m.text) || !f.Number(L"Dword", 0xFFFFFFFFu, number)) return false;
        m.dword = static_cast<uint32_t>(number);
        std::wstring bytes;
        if (!f.Text(L"Bytes", bytes)) return false;
        if (bytes.size() % 2) return f.Fail(f.Line(L"Bytes"), L"odd number of hexadecimal digits");
        for (size_t i = 0; i < bytes.size(); i += 2) {
            unsigned v = 0;
            for (size_t j = i; j < i + 2; ++j) {
                const wchar_t c = bytes[j];
                const int d = (c >= L'0' && c <= L'9') ? c - L'0' : (c >= L'A' && c <= L'F') ? c - L'A' + 10 : -1;
                if (d < 0) return f.Fail(f.Line(L"Bytes"), L"Bytes must be upper-case hexadecimal digits");
                v = v * 16 + static_cast<unsigned>(d);
            }
            m.bytes.push_back(static_cast<uint8_t>(v));
        }
        if (!f.Number(L"Strings", 10000, number)) return false;
        for (unsigned long long i = 1; i <= number; ++i) {
            std::wstring text;
            if (!f.Text((L"String" + std::to_wstring(i)).c_str(), text, true)) return false;
            m.strings.push_back(text);
        }
        break;
    }
    case ItemKind::Shortcut:
        if (!f.Text(L"Folder", m.folder, true) || !f.Text(L"Program", m.program, true) ||
            !f.Text(L"Arguments", m.arguments) || !f.Text(L"Description", m.description) || !f.Text(L"Icon", m.icon) ||
            !f.Number(L"IconIndex", 0x7FFFFFFF, number) || !f.Flag(L"AllUsers", m.allUsers))
            return false;
        m.iconIndex = static_cast<int>(number);
        break;
    }
    if (!f.Flag(L"Done", s.done) || !f.Flag(L"Owned", s.owned) || !f.Flag(L"Counted", s.counted) ||
        !f.Flag(L"Deferred", s.deferred) || !f.Flag(L"Scheduled", s.scheduled) ||
        !f.Flag(L"RegisterAfterRestart", s.registerAfterRestart) || !f.Text(L"Backup", s.backup) ||
        !f.Text(L"KeptScript", s.keptScript))
        return false;
    for (size_t i = 1; f.Has((L"CheckKey" + std::to_wstring(i)).c_str()); ++i) {
        CheckPair pair;
        const std::wstring n = std::to_wstring(i);
        pair.hasValue = f.Has((L"CheckValue" + n).c_str());
        if (!f.Text((L"CheckKey" + n).c_str(), pair.key) || !f.Text((L"CheckValue" + n).c_str(), pair.value))
            return false;
        s.check.push_back(pair);
    }
    return f.AllUsed();
}

}  // namespace

void StateToIni(const SetupState& state, IniDocument& document) {
    document.sections.clear();
    IniSection head;
    head.name = L"State";
    Put(head, L"Format", kFormat);
    Put(head, L"Product", state.product);
    Put(head, L"Version", state.version);
    Put(head, L"InstallDir", state.installDir);
    PutIf(head, L"Manifest", state.manifest);
    Put(head, L"Mode", std::to_wstring(state.mode));
    Put(head, L"Phase", PhaseName(state.phase));
    PutFlag(head, L"RestartPending", state.restartPending);
    for (size_t i = 0; i < state.createdFolders.size(); ++i)
        head.entries.push_back(IniEntry{L"Created" + std::to_wstring(i + 1), state.createdFolders[i], 0});
    Put(head, L"Items", std::to_wstring(state.items.size()));
    document.sections.push_back(std::move(head));
    for (size_t i = 0; i < state.items.size(); ++i) {
        IniSection section;
        section.name = L"Item " + std::to_wstring(i + 1);
        ItemToSection(state.items[i], section);
        document.sections.push_back(std::move(section));
    }
}

bool StateFromIni(const IniDocument& document, SetupState& state, IniError& error) {
    state = SetupState{};
    SetupState result;
    if (document.sections.empty() || !IniNamesEqual(document.sections[0].name, L"State")) {
        error = IniError{0, L"not a state file of the setup program: no [State] section first"};
        return false;
    }
    const IniSection& head = document.sections[0];
    Fields f(head, error);
    std::wstring format, phase;
    unsigned long long mode = 0, count = 0;
    if (!f.Text(L"Format", format, true)) return false;
    if (format != kFormat) return f.Fail(f.Line(L"Format"), L"state format " + format + L" is not known here");
    if (!f.Text(L"Product", result.product, true) || !f.Text(L"Version", result.version, true) ||
        !f.Text(L"InstallDir", result.installDir, true) || !f.Text(L"Manifest", result.manifest) ||
        !f.Number(L"Mode", 6, mode) || !f.Text(L"Phase", phase, true) ||
        !f.Flag(L"RestartPending", result.restartPending) || !f.Number(L"Items", 100000, count))
        return false;
    if (AbsolutePathProblem(result.installDir)) return f.Fail(f.Line(L"InstallDir"), L"InstallDir is not usable");
    result.mode = static_cast<unsigned>(mode);
    if (phase == L"installing") result.phase = Phase::Installing;
    else if (phase == L"installed") result.phase = Phase::Installed;
    else if (phase == L"uninstalling") result.phase = Phase::Uninstalling;
    else return f.Fail(f.Line(L"Phase"), L"unknown phase '" + phase + L"'");
    for (size_t i = 1; f.Has((L"Created" + std::to_wstring(i)).c_str()); ++i) {
        std::wstring folder;
        if (!f.Text((L"Created" + std::to_wstring(i)).c_str(), folder)) return false;
        if (AbsolutePathProblem(folder) || !IsWithin(result.installDir, folder))
            return f.Fail(f.Line((L"Created" + std::to_wstring(i)).c_str()),
                          L"a created folder that does not hold the install folder");
        result.createdFolders.push_back(folder);
    }
    if (!f.AllUsed()) return false;
    if (document.sections.size() != count + 1)
        return f.Fail(f.Line(L"Items"), L"Items says " + std::to_wstring(count) + L" but the file holds " +
                                             std::to_wstring(document.sections.size() - 1));
    for (size_t i = 1; i < document.sections.size(); ++i) {
        const IniSection& section = document.sections[i];
        if (!IniNamesEqual(section.name, L"Item " + std::to_wstring(i)))
            return f.Fail(section.line, L"expected [Item " + std::to_wstring(i) + L"]");
        StateItem item;
        if (!ItemFromSection(section, item, error)) return false;
        result.items.push_back(std::move(item));
    }
    state = std::move(result);
    return true;
}

bool SameThing(const ManifestItem& a, const ManifestItem& b) {
    const bool fileA = a.kind == ItemKind::File || a.kind == ItemKind::Font;
    const bool fileB = b.kind == ItemKind::File || b.kind == ItemKind::Font;
    if (fileA || fileB) return fileA && fileB && IniNamesEqual(a.target, b.target);
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case ItemKind::Script:
        return IniNamesEqual(LastElementOf(a.source), LastElementOf(b.source)) && IniNamesEqual(a.target, b.target);
    case ItemKind::Value:
        return IniNamesEqual(a.keyPath, b.keyPath) && IniNamesEqual(a.valueName, b.valueName);
    case ItemKind::Shortcut:
        return IniNamesEqual(a.folder, b.folder) && IniNamesEqual(a.program, b.program) && a.arguments == b.arguments &&
               a.allUsers == b.allUsers;
    default:
        return false;
    }
}

}  // namespace orvsetup
