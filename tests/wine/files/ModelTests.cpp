// The module image reader and the file model on real modules of both
// bitnesses, and the folder markers.
#include <shlwapi.h>

#include <map>
#include <set>

#include "FilesTest.h"
#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "files/ModuleImage.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

// The kernel's static library logs through the log library: open it for this process.
class KernelLog : public ::testing::Environment {
    void SetUp() override { WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0); }
    void TearDown() override { WexStopLog(GetCurrentThreadId()); }
};
::testing::Environment* const g_kernelLog = ::testing::AddGlobalTestEnvironment(new KernelLog);

using Names = std::set<std::wstring>;
class ModuleImage : public FilesTest {};
class FileModel : public FilesTest {};
class DirectoryMarkers : public FilesTest {};

}  // namespace

TEST_F(ModuleImage, ExportsAndTheFileIsReleased) {
    ASSERT_FALSE(OtherFixturesDir().empty()) << "configure with ORV_OTHER_FIXTURES_DIR";
    const struct {
        const char* name;
        std::wstring fixture;  // empty: the bytes below
        std::string bytes;
        Names exports;
    } rows[] = {
        {"named registration entry", Fixture(L"regsrv.dll"), "", {L"DllRegisterServer", L"DllUnregisterServer", L"1", L"2"}},
        // Ordinals 2 (named), 5 and 7 (no names); slots 3, 4 and 6 are empty.
        {"ordinals and empty slots", Fixture(L"ordinal.dll"), "", {L"OrvNamed", L"2", L"5", L"7"}},
        {"other letter case", Fixture(L"lowercase.dll"), "", {L"dllregisterserver", L"1"}},
        {"no export directory", Fixture(L"plain.exe"), "", {}},
        {"other bitness", OtherFixture(L"regsrv.dll"), "", {}},
        {"empty file", L"", "", {}},
        {"PE offset past the end", L"", std::string(60, 'M') + "\xff\xff\xff\x7f", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = Path(L"image.dll");
        ASSERT_TRUE(row.fixture.empty() ? WriteBytes(path, row.bytes) : Copy(row.fixture, path));
        orv::ExportSet exports;
        const size_t count = ReadExportTable(path.c_str(), exports);
        EXPECT_EQ(count, exports.size());
        EXPECT_EQ(Names(exports.begin(), exports.end()), row.exports);
        EXPECT_TRUE(DeleteFileW(path.c_str())) << "still held: error " << GetLastError();
    }
}

TEST_F(ModuleImage, ImportsByNameAndByOrdinal) {
    std::vector<orv::ImportedModule> modules;
    const size_t count = ReadImportTable(Fixture(L"importer.dll").c_str(), modules);
    size_t functions = 0;
    std::map<std::wstring, Names> byModule;
    for (const auto& m : modules) {
        functions += m.functions.size();
        byModule[m.name] = Names(m.functions.begin(), m.functions.end());
    }
    EXPECT_EQ(count, functions);
    EXPECT_EQ(byModule[L"ordinal.dll"], (Names{L"OrvNamed", L"7"}));
    EXPECT_EQ(byModule[L"kernel32.dll"].count(L"GetTickCount"), 1u);
}

TEST_F(FileModel, FactoryPicksTheMostSpecificClass) {
    ASSERT_FALSE(OtherFixturesDir().empty()) << "configure with ORV_OTHER_FIXTURES_DIR";
    ASSERT_TRUE(WriteBytes(Path(L"data.bin"), "\x01\x02 not a module"));
    const std::wstring typeLibKey = L"TypeLib\\{3C2F8D41-7A5E-4B19-8E0C-5D6A9F1B2E01}";
    SHDeleteKeyW(HKEY_CLASSES_ROOT, typeLibKey.c_str());
    const struct {
        const char* name;
        std::wstring path;
        const wchar_t* description;
        bool executable, server;
    } rows[] = {
        {"library exporting DllRegisterServer", Fixture(L"regsrv.dll"), L"InProc COM server file", true, true},
        {"registration entry only by ordinal", Fixture(L"ordinal.dll"), L"Dynamic link library file", true, false},
        {"registration entry in other case", Fixture(L"lowercase.dll"), L"Dynamic link library file", true, false},
        {"other bitness: exports unread", OtherFixture(L"regsrv.dll"), L"Dynamic link library file", true, false},
        {"library with a version", Fixture(L"v1.dll"), L"Dynamic link library file", true, false},
        {"program saying OLESelfRegister", Fixture(L"olereg.exe"), L"Local COM server file", true, true},
        {"program with a type library", Fixture(L"tlbexe.exe"), L"Local COM server file", true, true},
        {"plain program", Fixture(L"plain.exe"), L"Executable file", true, false},
        {"other bitness, OLESelfRegister", OtherFixture(L"olereg.exe"), L"Local COM server file", true, true},
        {"type library", Fixture(L"ut_types.tlb", L"ut"), L"Type library file", true, true},
        {"registration script", Fixture(L"ut_script.reg", L"ut"), L"Registry file", false, false},
        {"bytes of no known kind", Path(L"data.bin"), L"Data file", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CWexKrFile* file = CWexKrFile::CreateInstance(row.path.c_str());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::wstring(file->GetTypeDescription()), row.description);
        EXPECT_EQ(dynamic_cast<CWexKrExecutableFile*>(file) != nullptr, row.executable);
        EXPECT_EQ(dynamic_cast<CWexKrCOMServerFile*>(file) != nullptr, row.server);
        file->Destroy();
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, typeLibKey)) << "the type library test registered it";
}

TEST_F(DirectoryMarkers, OnlyFoldersHoldingNothingButTheirMarkerAreRemoved) {
    const struct {
        const char* name;
        Lines files;
        bool subfolder;
        BOOL markerOnly;
    } rows[] = {
        {"empty, no marker", {}, false, TRUE},
        {"the marker", {L"__orv.dir"}, false, TRUE},
        {"the marker and a file", {L"__orv.dir", L"readme.txt"}, false, FALSE},
        {"the marker and a file named like a temporary", {L"__orv.dir", L"_orvdata"}, false, FALSE},
        {"a file, no marker", {L"readme.txt"}, false, FALSE},
        {"the marker and a folder", {L"__orv.dir"}, true, FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir base;
        const std::wstring folder = base / L"made";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        for (const auto& name : row.files) ASSERT_TRUE(WriteBytes(Join(folder, name), ""));
        ASSERT_TRUE(!row.subfolder || CreateDirectoryW(Join(folder, L"sub").c_str(), nullptr));
        EXPECT_EQ(IsMarkerOnlyDirectory(folder.c_str()), row.markerOnly);
        EXPECT_EQ(RemoveCreatedDirectories(folder.c_str()), S_OK);
        EXPECT_EQ(IsFolder(folder), !row.markerOnly || row.files.empty());
        EXPECT_TRUE(IsFolder(base.Path()));  // no marker: the walk stops there
    }
}

TEST_F(DirectoryMarkers, EntriesGoneSinceTheLastLookKeepNoFolder) {
    TempDir base;
    const std::wstring folder = base / L"made";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (LPCWSTR name : {L"__orv.dir", L"a.txt", L"b.txt"}) ASSERT_TRUE(WriteBytes(Join(folder, name), ""));
    EXPECT_FALSE(IsMarkerOnlyDirectory(folder.c_str()));
    // Another program takes the files away, and brings one.
    ASSERT_TRUE(DeleteFileW(Join(folder, L"a.txt").c_str()) && DeleteFileW(Join(folder, L"b.txt").c_str()));
    EXPECT_TRUE(IsMarkerOnlyDirectory(folder.c_str()));
    ASSERT_TRUE(WriteBytes(Join(folder, L"c.txt"), ""));
    EXPECT_EQ(RemoveCreatedDirectories(folder.c_str()), S_OK);
    EXPECT_TRUE(IsFolder(folder));
    ASSERT_TRUE(DeleteFileW(Join(folder, L"c.txt").c_str()));
    EXPECT_EQ(RemoveCreatedDirectories(folder.c_str()), S_OK);
    EXPECT_FALSE(IsFolder(folder));
}
