// The file model: which class the factory picks for a file, what each class
// answers about itself, and the sharing and server tests.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FilesTest.h"
#include "files/FileModel.h"
#include <shlwapi.h>

#include "platform/WexLog.h"
#include "platform/WexUt.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

// The kernel's static library logs through the log library: open it for this process.
class KernelLog : public ::testing::Environment {
public:
    void SetUp() override { WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0); }
    void TearDown() override { WexStopLog(GetCurrentThreadId()); }
};
::testing::Environment* const g_kernelLog = ::testing::AddGlobalTestEnvironment(new KernelLog);

class FileModel : public FilesTest {};

enum class Tree { kOwn, kOther, kUt, kTemp };

struct KindRow {
    const char* name;
    Tree tree;
    const wchar_t* file;
    const wchar_t* description;
    bool executable;  // a CWexKrExecutableFile
    bool server;      // a CWexKrCOMServerFile
};

std::wstring Resolve(Tree tree, const wchar_t* file, const std::wstring& temp) {
    switch (tree) {
    case Tree::kOwn: return Fixture(file);
    case Tree::kOther: return OtherFixture(file);
    case Tree::kUt: return UtFixture(file);
    case Tree::kTemp: return Join(temp, file);
    }
    return {};
}

::testing::AssertionResult IsOfKind(const std::wstring& path, const KindRow& row) {
    FilePtr file(CWexKrFile::CreateInstance(path.c_str()));
    if (!file) return ::testing::AssertionFailure() << "no object";
    const std::wstring description = file->GetTypeDescription();
    const bool executable = dynamic_cast<CWexKrExecutableFile*>(file.get()) != nullptr;
    const bool server = dynamic_cast<CWexKrCOMServerFile*>(file.get()) != nullptr;
    if (description != row.description || executable != row.executable || server != row.server)
        return ::testing::AssertionFailure() << Narrow(path) << " became \"" << Narrow(description)
                                             << "\" (executable " << executable << ", server " << server << ")";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(FileModel, FactoryPicksTheMostSpecificClass) {
    ASSERT_TRUE(Write(Path(L"data.bin"), "\x01\x02 not a module"));
    const KindRow rows[] = {
        {"library exporting DllRegisterServer", Tree::kOwn, L"regsrv.dll", L"InProc COM server file", true, true},
        {"registration entry only by ordinal", Tree::kOwn, L"ordinal.dll", L"Dynamic link library file", true, false},
        {"registration entry in other case", Tree::kOwn, L"lowercase.dll", L"Dynamic link library file", true, false},
        {"other bitness: exports unread", Tree::kOther, L"regsrv.dll", L"Dynamic link library file", true, false},
        {"library with a version", Tree::kOwn, L"v1.dll", L"Dynamic link library file", true, false},
        {"program saying OLESelfRegister", Tree::kOwn, L"olereg.exe", L"Local COM server file", true, true},
        {"program with a type library", Tree::kOwn, L"tlbexe.exe", L"Local COM server file", true, true},
        {"plain program", Tree::kOwn, L"plain.exe", L"Executable file", true, false},
        {"other bitness, OLESelfRegister", Tree::kOther, L"olereg.exe", L"Local COM server file", true, true},
        {"other bitness, plain program", Tree::kOther, L"plain.exe", L"Executable file", true, false},
        {"type library", Tree::kUt, L"ut_types.tlb", L"Type library file", true, true},
        {"TrueType font", Tree::kUt, L"DejaVuSans.ttf", L"True type font file", true, false},
        {"raster font", Tree::kUt, L"ut_raster.fon", L"Raster font file", true, false},
        {"registration script", Tree::kUt, L"ut_script.reg", L"Registry file", false, false},
        {"text", Tree::kUt, L"ut_text.txt", L"Data file", false, false},
        {"bytes of no known kind", Tree::kTemp, L"data.bin", L"Data file", false, false},
        {"missing file", Tree::kTemp, L"missing.dll", L"Data file", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = Resolve(row.tree, row.file, m_temp.Path());
        if (path.empty()) {
            ADD_FAILURE() << "the other bitness's fixtures are missing (configure with ORV_OTHER_FIXTURES_DIR)";
            continue;
        }
        EXPECT_TRUE(IsOfKind(path, row));
    }
}

TEST_F(FileModel, ObjectsKeepTheLongNameForm) {
    const std::wstring folder = Path(L"A Folder With A Long Name");
    ASSERT_TRUE(MakeFolder(folder));
    const std::wstring path = Join(folder, L"a file with a long name.txt");
    ASSERT_TRUE(Write(path, "x"));
    const std::wstring shortPath = ShortPath(path);
    ASSERT_FALSE(shortPath.empty());
    ASSERT_NE(shortPath, path);
    FilePtr file(CWexKrFile::CreateInstance(shortPath.c_str()));
    ASSERT_TRUE(file);
    EXPECT_EQ(std::wstring(file->GetPath()), path);
}

TEST_F(FileModel, ServerTests) {
    const struct {
        const char* name;
        std::wstring path;
        bool program;
        BOOL server;
    } rows[] = {
        {"library exporting DllRegisterServer", Fixture(L"regsrv.dll"), false, TRUE},
        {"registration entry only by ordinal", Fixture(L"ordinal.dll"), false, FALSE},
        {"registration entry in other case", Fixture(L"lowercase.dll"), false, FALSE},
        {"program saying OLESelfRegister", Fixture(L"olereg.exe"), true, TRUE},
        {"program with a type library", Fixture(L"tlbexe.exe"), true, TRUE},
        {"plain program", Fixture(L"plain.exe"), true, FALSE},
        {"library tested as a program", Fixture(L"v1.dll"), true, FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.program) {
            CWexKrExeFile file(row.path.c_str());
            EXPECT_EQ(file.IsCOMServer(), row.server);
        } else {
            CWexKrDllFile file(row.path.c_str());
            EXPECT_EQ(file.IsCOMServer(), row.server);
        }
    }
    // Versioned modules of other kinds are never servers.
    CWexKrTrueTypeFontFile font(UtFixture(L"DejaVuSans.ttf").c_str());
    EXPECT_FALSE(font.IsCOMServer());
}

TEST_F(FileModel, TheTypeLibraryTestRegistersNothing) {
    const std::wstring key = L"TypeLib\\{3C2F8D41-7A5E-4B19-8E0C-5D6A9F1B2E01}";
    SHDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    EXPECT_TRUE(CWexKrExeFile::HasOleSelfRegistration(Fixture(L"tlbexe.exe").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
}

TEST_F(FileModel, SharedFiles) {
    WCHAR system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring tag = L"orvfiles_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring inSystem = Join(system, tag + L".dll");
    const std::wstring subFolder = Join(system, tag);
    const std::wstring inSubFolder = Join(subFolder, L"lib.dll");
    const std::wstring serverInSubFolder = Join(subFolder, L"srv.dll");
    const std::wstring common = CWexSystem::GetCommonFilesDir();
    const std::wstring inCommon = Join(common, tag + L".dll");
    const ScopeExit cleanup([&] {
        DeleteFileW(inSystem.c_str());
        DeleteFileW(inCommon.c_str());
        RemoveTree(subFolder);
    });
    ASSERT_TRUE(Copy(Fixture(L"nover.dll"), inSystem));
    ASSERT_TRUE(MakeFolder(subFolder));
    ASSERT_TRUE(Copy(Fixture(L"nover.dll"), inSubFolder));
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), serverInSubFolder));
    CreateDirectoryW(common.c_str(), nullptr);
    ASSERT_TRUE(Copy(Fixture(L"nover.dll"), inCommon));
    ASSERT_TRUE(Copy(Fixture(L"nover.dll"), Path(L"lib.dll")));
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), Path(L"srv.dll")));

    const struct {
        const char* name;
        std::wstring path;
        BOOL shared;
    } rows[] = {
        {"library in the system folder", inSystem, TRUE},
        {"library in the common files folder", inCommon, TRUE},
        {"library below the system folder", inSubFolder, FALSE},
        {"server below the system folder", serverInSubFolder, TRUE},
        {"library elsewhere", Path(L"lib.dll"), FALSE},
        {"server elsewhere", Path(L"srv.dll"), TRUE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CWexKrDllFile file(row.path.c_str());
        EXPECT_EQ(file.IsSharedFile(), row.shared);
    }
}

