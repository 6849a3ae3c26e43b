#include "files/FolderIndex.h"

#include <cwchar>
#include <new>
#include <string>
#include <unordered_set>

namespace orv::files {
namespace {

// A folder holding more names than this is not indexed.
constexpr size_t kMaxNames = 200000;

// Upper-cased by the invariant table, as names are compared (ASCII, which
// most names are, without asking the table).
bool Upper(const WCHAR* text, size_t length, std::wstring* out) {
    out->assign(text, length);
    bool ascii = true;
    for (WCHAR& c : *out) {
        if (c >= 0x80) ascii = false;
        else if (c >= L'a' && c <= L'z') c = static_cast<WCHAR>(c - (L'a' - L'A'));
    }
    if (ascii || length == 0) return true;
    return LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text, static_cast<int>(length), &(*out)[0],
                        static_cast<int>(length)) == static_cast<int>(length);
}

// Folder and name of a full path the index can answer for: a drive or share
// path in plain form, a name that is no short name, no stream and nothing
// the system would not take as it is spelt (wildcards, a trailing dot or space).
bool Split(LPCWSTR target, std::wstring* folder, std::wstring* name) {
    if (!target) return false;
    const size_t length = wcslen(target);
    if (length < 4 || length >= MAX_PATH || wcschr(target + 2, L':')) return false;
    for (const WCHAR* p = target; *p; ++p)
        if (wcschr(L"/~*?\"<>|", *p)) return false;
    const bool drive = target[1] == L':' && target[2] == L'\\';
    const bool share = target[0] == L'\\' && target[1] == L'\\' && target[2] != L'?' && target[2] != L'.';
    if (!drive && !share) return false;
    if (wcsstr(target, L"\\.\\") || wcsstr(target, L"\\..\\")) return false;
    const WCHAR* slash = wcsrchr(target, L'\\');
    const WCHAR* base = slash + 1;
    const size_t nameLength = wcslen(base);
    if (nameLength == 0 || base[nameLength - 1] == L'.' || base[nameLength - 1] == L' ' || wcscmp(base, L"..") == 0)
        return false;
    return Upper(target, static_cast<size_t>(slash - target), folder) && Upper(base, nameLength, name);
}

class Index {
public:
    Index() { InitializeCriticalSection(&m_lock); }

    bool LikelyNew(const std::wstring& folder, const std::wstring& name) {
        Locked lock(m_lock);
        try {
            if (m_held && folder == m_folder) return m_names.count(name) == 0;
            if (folder != m_asked) {
                // A folder asked about once may take one file: not worth a read.
                Drop();
                m_asked = folder;
                return false;
            }
            Drop();
            if (!Read(folder)) return false;
            m_folder = folder;
            m_held = true;
            return m_names.count(name) == 0;
        } catch (const std::bad_alloc&) {
            Drop();
            return false;
        }
    }

    void Note(const std::wstring& folder, const std::wstring& name, bool added) {
        Locked lock(m_lock);
        if (!m_held || folder != m_folder) return;
        try {
            if (added)
                m_names.insert(name);
            else
                m_names.erase(name);
        } catch (const std::bad_alloc&) {
            Drop();  // a name it could not take would be missing from it
        }
    }

    void Forget(const std::wstring& folder) {
        Locked lock(m_lock);
        if (folder == m_folder || folder == m_asked) Drop();
    }

private:
    struct Locked {
        explicit Locked(CRITICAL_SECTION& lock) : m(lock) { EnterCriticalSection(&m); }
        ~Locked() { LeaveCriticalSection(&m); }
        CRITICAL_SECTION& m;
    };

    void Drop() {
        m_held = false;
        m_folder.clear();
        m_asked.clear();
        m_names.clear();
    }

    // Every long and short name in the folder; false when it cannot be read whole.
    bool Read(const std::wstring& folder) {
        const std::wstring pattern = folder + L"\\*";
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(pattern.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return false;
        bool whole = true;
        std::wstring key;
        do {
            if (m_names.size() >= kMaxNames ||
                !Upper(found.cFileName, wcslen(found.cFileName), &key)) {
                whole = false;
                break;
            }
            m_names.insert(key);
            if (found.cAlternateFileName[0]) {
                if (!Upper(found.cAlternateFileName, wcslen(found.cAlternateFileName), &key)) {
                    whole = false;
                    break;
                }
                m_names.insert(key);
            }
        } while (FindNextFileW(find, &found));
        if (whole && GetLastError() != ERROR_NO_MORE_FILES) whole = false;
        FindClose(find);
        if (!whole) m_names.clear();
        return whole;
    }

    CRITICAL_SECTION m_lock;
    bool m_held = false;
    std::wstring m_folder;  // the folder indexed, upper-cased
    std::wstring m_asked;   // the folder asked about once, not read yet
    std::unordered_set<std::wstring> m_names;
};

Index* TheIndex() {
    static Index* index = new (std::nothrow) Index;  // lives as long as the process
    return index;
}

// Calls what(index, folder, name) for a target the index can answer for.
// A name that cannot be noted for want of memory only costs a look later: the
// index's answers are hints.
template <typename What>
bool WithIndex(LPCWSTR target, What what) {
    Index* index = TheIndex();
    if (!index) return false;
    try {
        std::wstring folder, name;
        return Split(target, &folder, &name) && what(*index, folder, name);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

bool TargetLikelyNew(LPCWSTR target) {
    return WithIndex(target, [](Index& index, const std::wstring& folder, const std::wstring& name) {
        return index.LikelyNew(folder, name);
    });
}

void NoteNameAdded(LPCWSTR target) {
    WithIndex(target, [](Index& index, const std::wstring& folder, const std::wstring& name) {
        index.Note(folder, name, true);
        return true;
    });
}

void NoteNameRemoved(LPCWSTR target) {
    WithIndex(target, [](Index& index, const std::wstring& folder, const std::wstring& name) {
        index.Note(folder, name, false);
        return true;
    });
}

void ForgetFolderIndex(LPCWSTR target) {
    WithIndex(target, [](Index& index, const std::wstring& folder, const std::wstring&) {
        index.Forget(folder);
        return true;
    });
}

}  // namespace orv::files
