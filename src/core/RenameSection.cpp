#include "core/RenameSection.h"

namespace orv {
namespace {

constexpr size_t kMaxPartChars = 255;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    return text;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    a = TrimBlanks(a);
    b = TrimBlanks(b);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// A line about target: "NUL=<target>" or "<target>=<anything>".
bool IsLineAbout(std::wstring_view line, std::wstring_view target) {
    const size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) return false;
    const std::wstring_view key = line.substr(0, eq);
    const std::wstring_view value = line.substr(eq + 1);
    if (SameName(key, target)) return true;
    return SameName(key, L"NUL") && SameName(value, target);
}

}  // namespace

bool MakeTemporaryCopyPath(std::wstring_view target, std::wstring& out, size_t maxChars) {
    out.clear();
    std::wstring_view rest = target;
    std::wstring_view drive;
    if (rest.size() >= 2 && rest[1] == L':') {
        drive = rest.substr(0, 2);
        rest.remove_prefix(2);
    }
    size_t nameStart = 0;
    for (size_t i = rest.size(); i > 0; --i) {
        if (IsSeparator(rest[i - 1])) {
            nameStart = i;
            break;
        }
    }
    const std::wstring_view folder = rest.substr(0, nameStart);
    const std::wstring_view name = rest.substr(nameStart);
    const size_t dot = name.rfind(L'.');
    const std::wstring_view base = dot == std::wstring_view::npos ? name : name.substr(0, dot);
    const std::wstring_view ext = dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
    if (folder.size() > kMaxPartChars || base.size() > kMaxPartChars || ext.size() > kMaxPartChars) return false;
    static constexpr std::wstring_view kSuffix = L"_orvtmp";
    if (drive.size() + folder.size() + base.size() + kSuffix.size() + ext.size() > maxChars) return false;
    out.append(drive).append(folder).append(base).append(kSuffix).append(ext);
    return true;
}

std::wstring_view FileNamePart(std::wstring_view path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return path.substr(i);
    return path;
}

std::vector<std::wstring> SplitProfileSection(const wchar_t* buffer, size_t count) {
    std::vector<std::wstring> lines;
    if (!buffer) return lines;
    size_t start = 0;
    while (start < count) {
        size_t end = start;
        while (end < count && buffer[end] != L'\0') ++end;
        if (end == start) break;  // an empty line ends the list
        lines.emplace_back(buffer + start, end - start);
        start = end + 1;
    }
    return lines;
}

std::wstring JoinProfileSection(const std::vector<std::wstring>& lines) {
    size_t total = 1;
    for (const std::wstring& line : lines) total += line.size() + 1;
    std::wstring out;
    out.reserve(total);
    for (const std::wstring& line : lines) {
        if (line.empty()) continue;
        out.append(line);
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

std::wstring AddRenameDelete(std::vector<std::wstring>& lines, std::wstring_view shortPath) {
    std::wstring line(L"NUL=");
    line.append(shortPath);
    lines.push_back(line);
    return line;
}

void AddRenameCopy(std::vector<std::wstring>& lines, std::wstring_view shortTarget, std::wstring_view shortTemporary) {
    std::vector<std::wstring> kept;
    kept.reserve(lines.size() + 2);
    for (const std::wstring& line : lines)  // copies: lines stays whole if memory runs out
        if (!IsLineAbout(line, shortTarget)) kept.push_back(line);
    std::wstring deletion(L"NUL=");
    deletion.append(shortTarget);
    std::wstring rename(shortTarget);
    rename.push_back(L'=');
    rename.append(shortTemporary);
    kept.push_back(std::move(deletion));
    kept.push_back(std::move(rename));
    lines.swap(kept);
}

std::wstring MakeLongNameRestoreCommand(std::wstring_view shortTarget, std::wstring_view longFileName) {
    std::wstring command(L"command.com /c ren \"");
    command.append(shortTarget).append(L"\" \"").append(longFileName).append(L"\"");
    return command;
}

bool ShortNameDiffers(std::wstring_view shortPath) {
    return FileNamePart(shortPath).find(L'~') != std::wstring_view::npos;
}

}  // namespace orv
