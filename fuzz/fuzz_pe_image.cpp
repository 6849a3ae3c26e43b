// Runs the module image reader over arbitrary bytes as an image of either
// bitness. AddressSanitizer catches any read outside the input; the checks
// below catch results that break the readers' promises.
#include "core/PeImage.h"

#include <cstddef>
#include <cstdint>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (uint16_t magic : {orv::kPeMagic32, orv::kPeMagic64}) {
        orv::PeImageHeaders headers;
        const bool accepted = orv::ReadImageHeaders(data, size, magic, &headers);
        Check(!accepted || (headers.magic == magic && headers.peHeaderOffset < size));

        orv::ExportSet exports{L"prior"};
        const size_t exportCount = orv::ReadExportTable(data, size, magic, exports);
        Check(exports.count(L"prior") == 1);
        Check(accepted ? exportCount == exports.size() : exportCount == 0 && exports.size() == 1);
        // At most 65,536 names and 65,536 ordinals (16-bit slots), whatever the counts say.
        Check(exports.size() <= 1 + 2 * 0x10000);

        std::vector<orv::ImportedModule> modules(1);
        const size_t functionCount = orv::ReadImportTable(data, size, magic, modules);
        Check(accepted || (functionCount == 0 && modules.size() == 1));
        size_t functions = 0;
        for (size_t i = 1; i < modules.size(); ++i) {
            Check(modules[i].name.size() <= orv::kMaxImportedModuleName);
            functions += modules[i].functions.size();
        }
        Check(functions == functionCount);
    }
    return 0;
}
