// Which bytes may be handed to the system's type library loader, over
// arbitrary bytes. What is let through is then read the way a loader reads
// it: every present segment of an "MSFT" library, every block of an "SLTG"
// one, the resource bytes of a module. AddressSanitizer catches a read
// outside the input, so a library let through that a loader could not read
// in full is a crash here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/TypeLibImage.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

uint32_t Le(const uint8_t* p, unsigned width) {
    uint32_t value = 0;
    for (unsigned i = width; i-- > 0;) value = (value << 8) | p[i];
    return value;
}

// Reads what a loader reads of a library said to be whole.
unsigned ReadAsLoader(const uint8_t* data, size_t size) {
    unsigned sum = 0;
    if (std::memcmp(data, "MSFT", 4) == 0) {
        const uint32_t directory = 0x54 + ((Le(data + 0x14, 4) & 0x100) ? 4 : 0) + 4 * Le(data + 0x20, 4);
        for (uint32_t i = 0; i < 15; ++i) {
            const int32_t offset = static_cast<int32_t>(Le(data + directory + 16 * i, 4));
            const uint32_t length = Le(data + directory + 16 * i + 4, 4);
            if (offset == -1) continue;
            for (uint32_t k = 0; k < length; ++k) sum += data[uint32_t(offset) + k];
        }
        return sum;
    }
    const uint32_t count = Le(data + 4, 2);
    size_t at = 0x24 + 8 * (count - 1) + 13 + 11 * (count - 2) + 9;
    for (uint32_t i = 0; i + 1 < count; ++i)
        for (uint32_t k = 0, length = Le(data + 0x24 + 8 * i, 4); k < length; ++k) sum += data[at++];
    (void)size;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that any read past it is seen.
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    std::memcpy(bytes, data, size);
    const bool whole = orv::IsWholeTypeLibrary(bytes, size);
    if (whole) {
        Check(size >= 4 && (std::memcmp(bytes, "MSFT", 4) == 0 || std::memcmp(bytes, "SLTG", 4) == 0));
        ReadAsLoader(bytes, size);
    }
    uint64_t offset = ~0ull, length = ~0ull;
    const bool found = orv::FindTypeLibResource(bytes, size, &offset, &length);
    if (found) {
        Check(offset <= size && length <= size - offset);
        unsigned sum = 0;
        for (uint64_t k = 0; k < length; ++k) sum += bytes[offset + k];
        (void)sum;
    } else {
        Check(offset == ~0ull && length == ~0ull);
    }
    const bool inside = found && orv::IsWholeTypeLibrary(bytes + offset, static_cast<size_t>(length));
    Check(orv::MayLoadTypeLibrary(bytes, size) == (whole || inside));
    std::free(bytes);
    return 0;
}
