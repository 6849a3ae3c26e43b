// The sfnt naming table reader and the table directory check over arbitrary
// bytes. AddressSanitizer catches any read outside the input; the checks
// catch results that break the reader's promises.
#include <cstdint>

#include "core/FontTables.h"

static void Check(bool ok) {
    if (!ok) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::MemorySource source(data, size);
    orv::SfntNames names;
    names.fullName = "prior";
    orv::ReadSfntNames(source, &names);
    Check(names.nameFound || names.fullName.empty());
    Check(names.fullName.find('\0') == std::string::npos && names.windowsFullName.find(u'\0') == std::u16string::npos);
    Check(names.versionFound || (names.version[0] | names.version[1]) == 0);
    Check(names.version[2] == 0 && names.version[3] == 0);
    if (orv::HasSfntTableDirectory(source, size)) Check(size >= 12 + 16);
    return 0;
}
