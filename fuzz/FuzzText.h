// What the text fuzz targets share: a failed invariant ends the run, and the
// input read as UTF-16 text the way the readers take it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Characters of two bytes each, up to the first null (the readers take
// null-terminated text).
std::wstring Text(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

}  // namespace
