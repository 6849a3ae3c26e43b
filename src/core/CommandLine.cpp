#include "core/CommandLine.h"

namespace orv {

std::vector<std::wstring> SplitArguments(const wchar_t* text) {
    std::vector<std::wstring> args;
    if (!text) return args;
    const wchar_t* p = text;
    for (;;) {
        while (*p == L' ' || *p == L'\t') ++p;
        if (*p == 0) break;
        std::wstring arg;
        bool inQuotes = false;
        while (*p != 0 && (inQuotes || (*p != L' ' && *p != L'\t'))) {
            size_t slashes = 0;
            while (*p == L'\\') {
                ++p;
                ++slashes;
            }
            if (*p != L'"') {
                arg.append(slashes, L'\\');
                if (*p == 0) break;
                if (slashes == 0) arg.push_back(*p++);
                continue;
            }
            arg.append(slashes / 2, L'\\');
            if (slashes % 2 == 1) {
                arg.push_back(L'"');  // escaped quote
            } else if (inQuotes && p[1] == L'"') {
                arg.push_back(L'"');  // "" inside a quoted run
                ++p;
            } else {
                inQuotes = !inQuotes;
            }
            ++p;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace orv
