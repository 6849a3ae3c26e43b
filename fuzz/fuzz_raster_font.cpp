// Runs the raster font reader and the font resource check over arbitrary
// bytes. AddressSanitizer catches any read outside the input; the checks
// below catch results that break the reader's promises.
#include "core/FontTables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::MemorySource source(data, size);
    std::string name = "prior";
    if (orv::ReadRasterFontName(source, &name)) {
        Check(name.size() <= 255 && name.find('\0') == std::string::npos);
        Check(size >= 64);
    } else {
        Check(name == "prior");
    }

    uint32_t neOffset = 0;
    if (size >= 64) std::memcpy(&neOffset, data + 60, 4);  // little-endian hosts only
    const bool fonts = orv::HasRasterFontResources(source, neOffset, size);
    Check(!fonts || uint64_t{neOffset} + 0x26 <= size);
    return 0;
}
