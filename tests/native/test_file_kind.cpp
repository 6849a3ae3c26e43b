// File kind by name and first bytes, read in two pieces as the utility library
// does: the head, then the module header at e_lfanew.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ModuleBuilder.h"
#include "core/FileKind.h"

namespace {

using orvtest::Bytes;
using orvtest::Put;
Bytes Text(const char* text, size_t len = 0) { return Bytes(text, text + (len ? len : std::strlen(text))); }

constexpr uint16_t kDll = 0x2000, kExecutable = 0x0002;

// DOS header naming a module header at lfanew that starts with tag (+ NULs).
Bytes Module(const char* tag, uint32_t lfanew = 0x80) {
    Bytes b = Text("MZ");
    Put(b, 0x3C, lfanew, 4);
    if (*tag) Put(b, lfanew, tag[0] | tag[1] << 8, 4);
    return b;
}
Bytes Pe(uint16_t characteristics, uint16_t magic, uint16_t sizeOfOptional = 0xE0, uint32_t lfanew = 0x80) {
    Bytes b = Module("PE", lfanew);
    Put(b, lfanew + 20, sizeOfOptional, 2);
    Put(b, lfanew + 22, characteristics, 2);
    Put(b, lfanew + 24, magic, 2);
    b.resize(lfanew + 24 + 0xE0, 0);
    return b;
}

// Each piece is a buffer of exactly its length, so the sanitizers catch a read past it.
int Classify(const wchar_t* name, const Bytes& file) {
    const Bytes head(file.begin(), file.begin() + std::min(file.size(), orv::kFileKindHeadBytes));
    const uint32_t offset = orv::ModuleHeaderOffset(head.data(), head.size());
    Bytes module;
    if (offset != 0 && offset < file.size())
        module.assign(file.begin() + offset, file.begin() + offset + std::min(file.size() - offset, orv::kFileKindModuleBytes));
    return orv::ClassifyFile(name, head.empty() ? nullptr : head.data(), head.size(),
                             module.empty() ? nullptr : module.data(), module.size());
}

TEST(FileKind, ClassifiesByNameAndContent) {
    Bytes dosOnly = Module("", 0);
    dosOnly.resize(512);
    const struct { const char* label; const wchar_t* name; Bytes content; int expected; } rows[] = {
        {"PE32 program", L"a.exe", Pe(kExecutable, 0x10B), orv::kKindProgram},
        {"PE32+ program", L"a.exe", Pe(kExecutable, 0x20B), orv::kKindProgram},
        {"library flag alone, any name", L"a.bin", Pe(kDll, 0x10B), orv::kKindLibrary},
        {"module header far into the file", L"far.dll", Pe(kDll, 0x10B, 0xE0, 0x20000), orv::kKindLibrary},
        {"ROM optional header magic", L"a.dll", Pe(kDll, 0x107), orv::kKindData},
        {"no optional header", L"a.dll", Pe(kDll, 0x10B, 0), orv::kKindData},
        {"NE module", L"sserife.fon", Module("NE"), orv::kKindRasterFont},
        {"LE module", L"a.vxd", Module("LE"), orv::kKindData},
        {"DOS program", L"a.com", dosOnly, orv::kKindData},
        {"e_lfanew outside the file", L"a.exe", Module("", 0xFFFFFFF0u), orv::kKindData},
        {"MSFT type library", L"a.tlb", Text("MSFT\x02"), orv::kKindTypeLib},
        {"SLTG type library", L"a.tlb", Text("SLTG\x01"), orv::kKindTypeLib},
        {"TrueType", L"a.ttf", Text("\0\1\0\0\0\x10", 6), orv::kKindTrueType},
        {"OpenType CFF", L"a.otf", Text("OTTO"), orv::kKindTrueType},
        {"Apple TrueType", L"a.ttf", Text("true"), orv::kKindTrueType},
        {"font collection", L"a.ttc", Text("ttcf"), orv::kKindTrueType},
        {"tag cut short", L"a.ttf", Text("tru"), orv::kKindData},
        {"version 2 sfnt", L"a.ttf", Text("\0\2\0\0", 4), orv::kKindData},
        {"registration script .reg", L"C:\\x\\a.reg", Text("REGEDIT4\r\n"), orv::kKindRegistryFile},
        {"only an extension .Cor", L".Cor", Bytes{}, orv::kKindRegistryFile},
        {"script name beats content", L"odd.reg", Pe(kDll, 0x10B), orv::kKindRegistryFile},
        {"extension not at the end", L"C:\\x.reg\\a.txt", Text("REGEDIT4"), orv::kKindData},
        {"script extension followed by more", L"a.cor1", Text("MSFT"), orv::kKindTypeLib},
        {"no name", nullptr, Text("MSFT"), orv::kKindTypeLib},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.expected, Classify(row.name, row.content));
    }
}

// Every prefix of an image is recognised in full or is data, never read past.
TEST(FileKind, TruncatedImagesAreData) {
    const struct { const char* label; Bytes image; int kind; size_t needed; } rows[] = {
        {"PE32 library", Pe(kDll, 0x10B), orv::kKindLibrary, 0x80 + orv::kFileKindModuleBytes},
        {"PE32+ program", Pe(kExecutable, 0x20B), orv::kKindProgram, 0x80 + orv::kFileKindModuleBytes},
        {"NE module", Module("NE"), orv::kKindRasterFont, 0x80 + 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        for (size_t len = 0; len <= row.image.size(); ++len)
            ASSERT_EQ(len >= row.needed ? row.kind : orv::kKindData,
                      Classify(L"x.bin", Bytes(row.image.begin(), row.image.begin() + len)))
                << "length " << len;
    }
}

}  // namespace
