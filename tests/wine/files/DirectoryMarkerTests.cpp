// Folders made by the kernel carry a hidden marker; only those are removed again.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FilesTest.h"
#include "files/DirectoryMarkers.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

::testing::AssertionResult HasHiddenMarker(const std::wstring& folder) {
    const DWORD a = Attributes(Join(folder, kWexKrFolderMarker));
    if (a == INVALID_FILE_ATTRIBUTES) return ::testing::AssertionFailure() << Narrow(folder) << " has no marker";
    if (!(a & FILE_ATTRIBUTE_HIDDEN)) return ::testing::AssertionFailure() << "the marker is not hidden";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasNoMarker(const std::wstring& folder) {
    if (Attributes(Join(folder, kWexKrFolderMarker)) == INVALID_FILE_ATTRIBUTES) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(folder) << " has a marker";
}

class DirectoryMarkers : public FilesTest {};

}  // namespace

TEST_F(DirectoryMarkers, CreatedFoldersAndOnlyThoseGetMarkers) {
    const std::wstring apps = Path(L"Apps");
    ASSERT_TRUE(MakeFolder(apps));
    const std::wstring bin = Join(Join(apps, L"Tools"), L"Bin");
    EXPECT_EQ(CreateDirectoryTree(bin.c_str()), S_OK);
    EXPECT_TRUE(HasHiddenMarker(Join(apps, L"Tools")));
    EXPECT_TRUE(HasHiddenMarker(bin));
    EXPECT_TRUE(HasNoMarker(apps));
    EXPECT_TRUE(HasNoMarker(m_temp.Path()));
    // A second walk finds everything there and marks nothing anew.
    ASSERT_TRUE(DeleteFileW(Join(bin, kWexKrFolderMarker).c_str()));
    EXPECT_EQ(CreateDirectoryTree((bin + L"\\").c_str()), S_OK);
    EXPECT_TRUE(HasNoMarker(bin));
}

TEST_F(DirectoryMarkers, CreationFailures) {
    ASSERT_TRUE(Write(Path(L"file"), "in the way"));
    const std::wstring tooLong = LongPathBelow(m_temp.Path(), 300);
    const struct {
        const char* name;
        std::wstring folder;
        HRESULT result;
    } rows[] = {
        {"empty path", L"", S_OK},
        {"a file in the way", Path(L"file\\sub"), kPathNotFound},
        {"too long", tooLong, kPathTooLong},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Hex(CreateDirectoryTree(row.folder.c_str())), Hex(row.result));
    }
    // Nothing of the too-long path was made.
    const size_t first = m_temp.Path().size() + 1;
    EXPECT_FALSE(IsFolder(tooLong.substr(0, tooLong.find(L'\\', first))));
}

TEST_F(DirectoryMarkers, FoldersWithOtherContentOrNoMarkerStay) {
    const struct {
        const char* name;
        std::vector<std::wstring> files;  // besides the marker the walk creates
        bool removeMarker;
    } rows[] = {
        {"marker and a file", {L"other.txt"}, false},
        {"marker and a file named like a temporary", {L"_orvdata"}, false},
        {"no marker, empty", {}, true},
        {"no marker, a file", {L"other.txt"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir base;
        const std::wstring folder = base / L"made";
        ASSERT_EQ(CreateDirectoryTree(folder.c_str()), S_OK);
        for (const auto& name : row.files) ASSERT_TRUE(Write(Join(folder, name), "x"));
        if (row.removeMarker) {
            ASSERT_TRUE(DeleteFileW(Join(folder, kWexKrFolderMarker).c_str()));
        }
        EXPECT_EQ(RemoveCreatedDirectories(folder.c_str()), S_OK);
        EXPECT_TRUE(IsFolder(folder));
        if (!row.removeMarker) {
            EXPECT_TRUE(HasHiddenMarker(folder));
        }
    }
}

TEST_F(DirectoryMarkers, FailedRemovalPutsTheMarkerBackAndSaysWhy) {
    const std::wstring folder = Path(L"made");
    ASSERT_EQ(CreateDirectoryTree(folder.c_str()), S_OK);
    // Another handle on the folder without delete sharing stops its removal.
    HANDLE handle = CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const HRESULT hr = RemoveCreatedDirectories(folder.c_str());
    CloseHandle(handle);
    EXPECT_TRUE(FAILED(hr)) << Hex(hr);
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_TRUE(HasHiddenMarker(folder));
    EXPECT_EQ(RemoveCreatedDirectories(folder.c_str()), S_OK);  // free again: it goes
    EXPECT_FALSE(IsFolder(folder));
}

TEST_F(DirectoryMarkers, MarkerOnlyFolders) {
    const struct {
        const char* name;
        std::vector<std::wstring> files;
        bool subfolder;
        BOOL markerOnly;
    } rows[] = {
        {"empty", {}, false, TRUE},
        {"the marker", {L"__orv.dir"}, false, TRUE},
        {"the marker in capitals", {L"__ORV.DIR"}, false, TRUE},
        {"the marker and a file", {L"__orv.dir", L"readme.txt"}, false, FALSE},
        {"a file", {L"readme.txt"}, false, FALSE},
        {"a folder", {}, true, FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        for (const auto& name : row.files) ASSERT_TRUE(Write(folder / name, ""));
        if (row.subfolder) {
            ASSERT_TRUE(MakeFolder(folder / L"sub"));
        }
        EXPECT_EQ(IsMarkerOnlyDirectory(folder.Path().c_str()), row.markerOnly);
    }
    ASSERT_TRUE(Write(Path(L"file"), ""));
    EXPECT_FALSE(IsMarkerOnlyDirectory(Path(L"file").c_str()));
    EXPECT_FALSE(IsMarkerOnlyDirectory(Path(L"missing").c_str()));
}
