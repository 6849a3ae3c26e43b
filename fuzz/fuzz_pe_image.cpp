// Runs the module image reader over arbitrary bytes as an image of either
// bitness, and the file kind detection over the same bytes as a file. Address
// Sanitizer catches any read outside the input; the checks below catch results
// that break the readers' promises, or a kind that disagrees with the reader.
#include <algorithm>

#include "core/FileKind.h"
#include "core/PeImage.h"

#include <cstddef>
#include <cstdint>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// The kind of the bytes as a file, read the way the utility library reads it.
int KindOf(const uint8_t* data, size_t size) {
    const size_t headLen = std::min(size, orv::kFileKindHeadBytes);
    const uint32_t at = orv::ModuleHeaderOffset(data, headLen);
    const bool module = at != 0 && at < size;
    int kind = orv::ClassifyFile(L"image.bin", data, headLen, module ? data + at : nullptr,
                                 module ? std::min<size_t>(size - at, orv::kFileKindModuleBytes) : 0);
    orv::MemorySource source(data, size);
    kind = orv::ConfirmFontKind(kind, source, size, at);
    Check(kind >= orv::kKindProgram && kind <= orv::kKindData && kind != orv::kKindRegistryFile);
    return kind;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int kind = KindOf(data, size);
    // The claim a module makes on memory, read from its header the way version look-ups read it.
    const uint32_t at = orv::ModuleHeaderOffset(data, std::min(size, orv::kFileKindHeadBytes));
    if (at != 0 && at < size) (void)orv::ClaimedImageExtent(data + at, std::min<size_t>(size - at, 4096));
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
        // An image in which the reader finds tables is a program or a library
        // to the kind detection when it has its "MZ".
        if ((exportCount > 1 || modules.size() > 1) && size >= 2 && data[0] == 'M' && data[1] == 'Z')
            Check(kind == orv::kKindProgram || kind == orv::kKindLibrary);
    }
    return 0;
}
