// Runs the sfnt naming table reader and the table directory check over
// arbitrary bytes. AddressSanitizer catches any read outside the input; the
// checks below catch results that break the reader's promises.
#include "core/FontTables.h"

#include <cstddef>
#include <cstdint>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::MemorySource source(data, size);
    orv::SfntNames names;
    names.fullName = "prior";
    orv::ReadSfntNames(source, &names);
    Check(names.nameFound || names.fullName.empty());
    Check(names.fullName.find('\0') == std::string::npos);
    Check(names.windowsFullName.find(u'\0') == std::u16string::npos);
    Check(names.versionFound || (names.version[0] | names.version[1] | names.version[2] | names.version[3]) == 0);
    Check(names.version[2] == 0 && names.version[3] == 0);
    Check(!(names.nameFound || names.versionFound || !names.windowsFullName.empty()) || size >= 12 + 16 + 6 + 12);

    if (orv::HasSfntTableDirectory(source, size)) Check(size >= 12 + 16);
    return 0;
}
