// The module image reader on real modules of both bitnesses and on files
// that are not images: what it reads, and that it always lets go of the file.
#include <windows.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FilesTest.h"
#include "files/ModuleImage.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

using Names = std::set<std::wstring>;

std::string Describe(const Names& names) {
    std::string text = "{";
    for (const auto& n : names) text += " " + Narrow(n);
    return text + " }";
}

::testing::AssertionResult ExportsAre(const std::wstring& path, const Names& expected) {
    orv::ExportSet exports;
    const size_t count = ReadExportTable(path.c_str(), exports);
    const Names got(exports.begin(), exports.end());
    if (count != got.size())
        return ::testing::AssertionFailure() << "returned " << count << " for a set of " << got.size();
    if (got != expected)
        return ::testing::AssertionFailure() << Narrow(path) << " exports " << Describe(got) << ", expected "
                                             << Describe(expected);
    return ::testing::AssertionSuccess();
}

// Nothing of the file stays open: it can be deleted at once.
::testing::AssertionResult Released(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(path) << " is still held: error " << GetLastError();
}

class ModuleImage : public FilesTest {};

enum class Source { kOwn, kOther, kMade };

struct ImageRow {
    const char* name;
    Source source;
    const wchar_t* file;  // fixture name, or a name for the bytes below
    std::string bytes;    // kMade: the file's content
    Names exports;
};

std::string TruncatedFixture(const wchar_t* name, size_t length) {
    std::string bytes = ReadBytes(Fixture(name));
    bytes.resize(length);
    return bytes;
}

}  // namespace

TEST_F(ModuleImage, ExportSetsAndRelease) {
    const ImageRow rows[] = {
        {"named registration entry", Source::kOwn, L"regsrv.dll", "", {L"DllRegisterServer", L"DllUnregisterServer", L"1", L"2"}},
        // Ordinals 2 (named), 5 and 7 (no names); slots 3, 4 and 6 are empty.
        {"ordinals and empty slots", Source::kOwn, L"ordinal.dll", "", {L"OrvNamed", L"2", L"5", L"7"}},
        {"other letter case", Source::kOwn, L"lowercase.dll", "", {L"dllregisterserver", L"1"}},
        {"no export directory", Source::kOwn, L"plain.exe", "", {}},
        {"other bitness", Source::kOther, L"regsrv.dll", "", {}},
        {"other bitness, ordinals", Source::kOther, L"ordinal.dll", "", {}},
        {"text file", Source::kMade, L"text.dll", "just some text, longer than a DOS header would be ...........", {}},
        {"empty file", Source::kMade, L"empty.dll", "", {}},
        {"headers cut short", Source::kMade, L"cut.dll", TruncatedFixture(L"regsrv.dll", 300), {}},
        {"PE offset past the end", Source::kMade, L"far.dll", std::string(60, 'M') + "\xff\xff\xff\x7f", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = Path(row.file);
        if (row.source == Source::kMade) {
            ASSERT_TRUE(Write(path, row.bytes));
        } else {
            const std::wstring from = row.source == Source::kOwn ? Fixture(row.file) : OtherFixture(row.file);
            if (from.empty()) {
                ADD_FAILURE() << "the other bitness's fixtures are missing (configure with ORV_OTHER_FIXTURES_DIR)";
                continue;
            }
            ASSERT_TRUE(Copy(from, path)) << Narrow(from);
        }
        EXPECT_TRUE(ExportsAre(path, row.exports));
        EXPECT_TRUE(Released(path));
    }
}

TEST_F(ModuleImage, ImportsByNameAndByOrdinal) {
    std::vector<orv::ImportedModule> modules;
    const size_t count = ReadImportTable(Fixture(L"importer.dll").c_str(), modules);
    size_t functions = 0;
    const orv::ImportedModule* ordinalDll = nullptr;
    const orv::ImportedModule* kernel32 = nullptr;
    for (const auto& module : modules) {
        functions += module.functions.size();
        if (module.name == L"ordinal.dll") ordinalDll = &module;
        if (module.name == L"kernel32.dll") kernel32 = &module;
    }
    EXPECT_EQ(count, functions);
    ASSERT_NE(ordinalDll, nullptr) << "no lower-case \"ordinal.dll\" among the imported modules";
    EXPECT_EQ(Names(ordinalDll->functions.begin(), ordinalDll->functions.end()), (Names{L"OrvNamed", L"7"}));
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(Names(kernel32->functions.begin(), kernel32->functions.end()).count(L"GetTickCount"), 1u);
}

TEST_F(ModuleImage, NoImportsFromWhatTheReaderRefuses) {
    const std::wstring other = OtherFixture(L"importer.dll");
    ASSERT_FALSE(other.empty()) << "the other bitness's fixtures are missing";
    const struct {
        const char* name;
        std::wstring path;
    } rows[] = {
        {"other bitness", other},
        {"missing file", Path(L"missing.dll")},
        {"folder", m_temp.Path()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<orv::ImportedModule> modules(1);
        EXPECT_EQ(ReadImportTable(row.path.c_str(), modules), 0u);
        EXPECT_EQ(modules.size(), 1u);  // left as it was
    }
}

