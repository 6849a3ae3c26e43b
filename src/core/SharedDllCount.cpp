#include "core/SharedDllCount.h"

namespace orv {
namespace {

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool IsBlank(uint16_t c) { return c == u' ' || c == u'\t'; }

bool DecodeDecimal(const uint8_t* data, size_t size, uint32_t& count) {
    const size_t chars = size / 2;
    size_t len = 0;
    while (len < chars && (data[2 * len] | data[2 * len + 1]) != 0) ++len;
    if (len == chars && (size & 1)) return false;  // half a character and no end
    auto at = [data](size_t i) { return static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
    size_t begin = 0, end = len;
    while (begin < end && IsBlank(at(begin))) ++begin;
    while (end > begin && IsBlank(at(end - 1))) --end;
    if (begin == end) return false;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        const uint16_t c = at(i);
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + (c - u'0');
        if (value > 0xFFFFFFFFull) return false;
    }
    count = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool DecodeSharedDllCount(uint32_t type, const uint8_t* data, size_t size, uint32_t& count) {
    if (!data && size != 0) return false;
    switch (type) {
    case kCountTypeDword:
    case kCountTypeBinary:
        if (size != 4) return false;
        count = ReadLe32(data);
        return true;
    case kCountTypeString:
    case kCountTypeExpandString: return DecodeDecimal(data, size, count);
    default: return false;
    }
}

bool EncodeSharedDllCount(uint32_t type, uint32_t count, std::vector<uint8_t>& data) {
    switch (type) {
    case kCountTypeDword:
    case kCountTypeBinary:
        data = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count >> 16),
                static_cast<uint8_t>(count >> 24)};
        return true;
    case kCountTypeString:
    case kCountTypeExpandString: {
        char digits[10];
        size_t n = 0;
        do {
            digits[n++] = static_cast<char>('0' + count % 10);
            count /= 10;
        } while (count != 0);
        data.clear();
        data.reserve(2 * (n + 1));
        while (n > 0) {
            data.push_back(static_cast<uint8_t>(digits[--n]));
            data.push_back(0);
        }
        data.push_back(0);
        data.push_back(0);
        return true;
    }
    default: return false;
    }
}

uint32_t ApplyCountDelta(uint32_t count, int32_t delta) {
    const int64_t sum = static_cast<int64_t>(count) + delta;
    if (sum < 0) return 0;
    if (sum > 0xFFFFFFFFll) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(sum);
}

}  // namespace orv
