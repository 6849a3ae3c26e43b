// File kind by name and first bytes: the classifier and the two-piece reading
// the utility library does (head, then the module header at e_lfanew).
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/FileKind.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
void PutText(Bytes& b, size_t at, const char* text, size_t len) {
    if (b.size() < at + len) b.resize(at + len);
    std::memcpy(b.data() + at, text, len);
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }
Bytes Prefix(const Bytes& b, size_t len) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(len)); }

// A DOS header naming a module header at lfanew.
Bytes DosHeader(uint32_t lfanew) {
    Bytes b(64, 0);
    PutText(b, 0, "MZ", 2);
    Put32(b, 0x3C, lfanew);
    return b;
}

constexpr uint16_t kDll = 0x2000;
constexpr uint16_t kExecutable = 0x0002;

// A PE image's headers: DOS header, signature, COFF header, optional header magic.
Bytes PeImage(uint16_t characteristics, uint16_t magic, uint16_t sizeOfOptional = 0xE0, uint32_t lfanew = 0x80) {
    Bytes b = DosHeader(lfanew);
    PutText(b, lfanew, "PE\0\0", 4);
    Put16(b, lfanew + 4, magic == 0x20B ? 0x8664 : 0x14C);
    Put16(b, lfanew + 20, sizeOfOptional);
    Put16(b, lfanew + 22, characteristics);
    Put16(b, lfanew + 24, magic);
    b.resize(lfanew + 24 + 0xE0, 0);
    return b;
}

Bytes NeModule() {
    Bytes b = DosHeader(0x80);
    PutText(b, 0x80, "NE", 2);
    b.resize(0x100, 0);
    return b;
}

// Reads a file's bytes as the utility library reads the file: at most
// kFileKindHeadBytes from the start, then at most kFileKindModuleBytes at the
// module header offset when that lies inside the file. Each piece is a buffer
// of exactly its length, so a read past it is caught by the sanitizers.
int Classify(const wchar_t* name, const Bytes& file) {
    const size_t headLen = file.size() < orv::kFileKindHeadBytes ? file.size() : orv::kFileKindHeadBytes;
    Bytes head = Prefix(file, headLen);
    const uint32_t offset = orv::ModuleHeaderOffset(head.data(), head.size());
    Bytes module;
    if (offset != 0 && offset < file.size()) {
        const size_t len = std::min(file.size() - offset, orv::kFileKindModuleBytes);
        module.assign(file.begin() + offset, file.begin() + static_cast<std::ptrdiff_t>(offset + len));
    }
    return orv::ClassifyFile(name, head.empty() ? nullptr : head.data(), head.size(),
                             module.empty() ? nullptr : module.data(), module.size());
}

struct KindRow {
    const char* label;
    const wchar_t* name;
    Bytes content;
    int expected;
};

TEST(FileKind, ClassifiesByNameAndContent) {
    Bytes wrongMagic = PeImage(kDll, 0x107);
    Bytes noOptional = PeImage(kDll, 0x10B, 0);
    Bytes farHeader = PeImage(kDll | kExecutable, 0x10B, 0xE0, 0x20000);  // beyond any small prefix
    Bytes cutPe = PeImage(kDll, 0x10B);
    cutPe.resize(0x80 + 24);  // ends before the optional header's magic
    Bytes leModule = DosHeader(0x80);
    PutText(leModule, 0x80, "LE", 2);
    Bytes dosOnly = DosHeader(0);
    dosOnly.resize(512);
    Bytes lfanewOutside = DosHeader(0xFFFFFFF0u);
    Bytes shortMz = Text("MZ\x90");

    const KindRow rows[] = {
        {"PE32 library", L"a.dll", PeImage(kDll | kExecutable, 0x10B), orv::kKindLibrary},
        {"PE32 program", L"a.exe", PeImage(kExecutable, 0x10B), orv::kKindProgram},
        {"PE32+ library", L"a.dll", PeImage(kDll | kExecutable, 0x20B), orv::kKindLibrary},
        {"PE32+ program", L"a.exe", PeImage(kExecutable, 0x20B), orv::kKindProgram},
        {"library under any name", L"a.bin", PeImage(kDll, 0x10B), orv::kKindLibrary},
        {"module header far into the file", L"far.dll", farHeader, orv::kKindLibrary},
        {"unknown optional header magic", L"a.dll", wrongMagic, orv::kKindData},
        {"no optional header", L"a.dll", noOptional, orv::kKindData},
        {"PE headers cut short", L"a.dll", cutPe, orv::kKindData},
        {"NE module", L"sserife.fon", NeModule(), orv::kKindRasterFont},
        {"LE module", L"a.vxd", leModule, orv::kKindData},
        {"DOS program", L"a.com", dosOnly, orv::kKindData},
        {"e_lfanew outside the file", L"a.exe", lfanewOutside, orv::kKindData},
        {"MZ cut before e_lfanew", L"a.exe", shortMz, orv::kKindData},
        {"MSFT type library", L"a.tlb", Text("MSFT\x02"), orv::kKindTypeLib},
        {"SLTG type library", L"a.tlb", Text("SLTG\x01"), orv::kKindTypeLib},
        {"TrueType", L"a.ttf", Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x10}, orv::kKindTrueType},
        {"OpenType CFF", L"a.otf", Text("OTTO"), orv::kKindTrueType},
        {"Apple TrueType", L"a.ttf", Text("true"), orv::kKindTrueType},
        {"font collection", L"a.ttc", Text("ttcf"), orv::kKindTrueType},
        {"tag cut short", L"a.ttf", Text("tru"), orv::kKindData},
        {"version 2 sfnt is not TrueType", L"a.ttf", Bytes{0x00, 0x02, 0x00, 0x00}, orv::kKindData},
        {"empty file", L"empty.txt", Bytes{}, orv::kKindData},
        {"text", L"readme.txt", Text("REGEDIT4\r\n[HKEY_CLASSES_ROOT\\x]\r\n"), orv::kKindData},
        {"registration script .reg", L"C:\\x\\a.reg", Text("REGEDIT4\r\n"), orv::kKindRegistryFile},
        {"registration script .Cor", L"SRV.Cor", Bytes{}, orv::kKindRegistryFile},
        {"only an extension", L".reg", Bytes{}, orv::kKindRegistryFile},
        {"script name beats content", L"odd.reg", PeImage(kDll, 0x10B), orv::kKindRegistryFile},
        {"extension not at the end", L"a.reg.txt", Text("REGEDIT4"), orv::kKindData},
        {"folder named .reg", L"C:\\x.reg\\a.txt", Text("x"), orv::kKindData},
        {"script extension followed by more", L"a.cor1", Text("MSFT"), orv::kKindTypeLib},
        {"no name", nullptr, Text("MSFT"), orv::kKindTypeLib},
    };
    for (const KindRow& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.expected, Classify(row.name, row.content));
    }
}

// Every prefix of a valid image is either recognised in full or is data;
// nothing is read past the pieces handed over.
TEST(FileKind, TruncatedImagesAreDataNeverOverread) {
    struct Row {
        const char* label;
        Bytes image;
        int kind;
        size_t needed;  // bytes the kind needs to be recognised
    };
    const Row rows[] = {
        {"PE32 library", PeImage(kDll, 0x10B), orv::kKindLibrary, 0x80 + orv::kFileKindModuleBytes},
        {"PE32+ program", PeImage(kExecutable, 0x20B), orv::kKindProgram, 0x80 + orv::kFileKindModuleBytes},
        {"NE module", NeModule(), orv::kKindRasterFont, 0x80 + 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        for (size_t len = 0; len <= row.image.size(); ++len) {
            const Bytes prefix = Prefix(row.image, len);
            const int expected = len >= row.needed ? row.kind : orv::kKindData;
            ASSERT_EQ(expected, Classify(L"x.bin", prefix)) << "length " << len;
        }
    }
}

}  // namespace
