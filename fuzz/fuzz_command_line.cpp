// Command lines: argument splitting by the C runtime's rules, and the
// registration program's command line. The first byte picks the reader and
// the rest is UTF-16 text; a broken promise aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/RegSvCommandLine.h"

#include "FuzzText.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// An argument written so that the C runtime reads it back unchanged: quoted
// when empty or holding blanks or quotes, backslashes before a quote doubled.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(2 * slashes, L'\\');
    return out + L"\"";
}

std::wstring Join(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& arg : args) line += (line.empty() ? L"" : L" ") + Quote(arg);
    return line;
}

void FuzzSplit(const std::wstring& text) {
    const std::vector<std::wstring> args = orv::SplitArguments(text.c_str());
    for (const std::wstring& arg : args) Check(arg.find(L'\0') == std::wstring::npos);
    // Whatever was read, written back the runtime's way, reads back the same.
    Check(orv::SplitArguments(Join(args).c_str()) == args);
    // Text without quotes is split at its blanks, backslashes kept.
    if (text.find(L'"') == std::wstring::npos) {
        std::vector<std::wstring> words;
        std::wstring word;
        for (wchar_t c : text + L" ") {
            if (!IsBlank(c)) {
                word.push_back(c);
            } else if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        }
        Check(args == words);
    }
    // Arguments of the input's making, in pieces of up to 8 characters.
    std::vector<std::wstring> made;
    for (size_t at = 0; at < text.size(); at += 1 + text[at] % 8) made.push_back(text.substr(at + 1, text[at] % 8));
    Check(orv::SplitArguments(Join(made).c_str()) == made);
    Check(orv::SplitArguments(nullptr).empty());
}

void FuzzRegSv(const std::wstring& text) {
    const wchar_t* rest = orv::SkipProgramName(text.c_str());
    Check(rest >= text.c_str() && rest <= text.c_str() + text.size());

    const orv::RegSvArguments a = orv::ParseRegSvArguments(text.c_str());
    if (a.error.empty()) {
        Check(!a.path.empty());
        Check(!a.skipRegistration || a.install);
    }
    Check(a.installCommand.find(L'"') == std::wstring::npos && (a.install || a.installCommand.empty()));

    // The kernel's way of writing the command line: the path without quotes,
    // then switches. Any path that has no quote, no "/" after a blank and no
    // blank at its ends comes back whole with the same switches.
    std::wstring path;
    for (wchar_t c : text)
        if (c != L'"' && c != L'/' && c != 0) path.push_back(c);
    while (!path.empty() && IsBlank(path.front())) path.erase(0, 1);
    while (!path.empty() && IsBlank(path.back())) path.pop_back();
    if (path.empty()) return;
    const wchar_t first = text[0];
    std::wstring command = L"abc";
    if (first & 0x100) command = L"\"a b\"";
    std::wstring line = path;
    if (first & 1) line += L" /U";
    if (first & 2) line += L" /s";
    if (first & 4) line += L" /W";
    if (first & 8) line += L" /c";
    if (first & 16) line += L" /n";
    if (first & 32) line += L" /i:" + command;
    if (first & 64) line = L"/s " + line;
    const orv::RegSvArguments back = orv::ParseRegSvArguments(line.c_str());
    Check(back.path == path);
    Check(back.unregister == ((first & 1) != 0) && back.wait == ((first & 4) != 0));
    Check(back.silent == ((first & 66) != 0) && back.console == ((first & 8) != 0));
    Check(back.install == ((first & 32) != 0) && back.skipRegistration == ((first & 16) != 0));
    if (back.install) Check(back.installCommand == ((first & 0x100) ? L"a b" : L"abc"));
    Check(back.error.empty() == (!back.skipRegistration || back.install));

    // After a program name, quoted or not, the arguments are what is left.
    const std::wstring named = L"\"C:\\Program Files\\orvregsv.exe\" " + line;
    Check(std::wstring(orv::SkipProgramName(named.c_str())) == L" " + line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::wstring text = Text(data + 1, size - 1);
    if (data[0] & 1)
        FuzzRegSv(text);
    else
        FuzzSplit(text);
    return 0;
}
