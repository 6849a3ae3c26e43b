// The raster font reader and the font resource check over arbitrary bytes.
// AddressSanitizer catches any read outside the input; the checks catch
// results that break the reader's promises.
#include <cstdint>

#include "core/FontTables.h"

static void Check(bool ok) {
    if (!ok) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::MemorySource source(data, size);
    std::string name = "prior";
    if (orv::ReadRasterFontName(source, &name))
        Check(size >= 64 && name.size() <= 255 && name.find('\0') == std::string::npos);
    else
        Check(name == "prior");
    const uint32_t neOffset = size >= 64 ? data[60] | data[61] << 8 | data[62] << 16 | uint32_t{data[63]} << 24 : 0;
    if (orv::HasRasterFontResources(source, neOffset, size)) Check(uint64_t{neOffset} + 0x26 <= size);
    return 0;
}
