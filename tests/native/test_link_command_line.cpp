// Shortcut command lines and shell folder arguments.
#include <gtest/gtest.h>

#include <string>

#include "core/LinkCommandLine.h"
#include "core/LinkLocation.h"

namespace {

// Icon file and index are what stands after the first and second ';' (the fuzz
// target checks that, and the index read as the C library reads numbers).
TEST(LinkCommandLine, Splits) {
    const struct { const wchar_t *text, *target, *arguments, *iconFile; int iconIndex; } rows[] = {
        {L"app.exe -x;icons.dll;3", L"app.exe", L"-x", L"icons.dll", 3},
        {L"app.exe;", L"app.exe", L"", L"", 0},
        {L"app.exe;icons.dll;", L"app.exe", L"", L"icons.dll", 0},
        {L"app.exe;i; \t+12x;9", L"app.exe", L"", L"i", 12},
        {L"\"C:\\My Apps\\a b.exe\" -x \"y z\";\"C:\\My Apps\\i.dll\";1", L"C:\\My Apps\\a b.exe", L"-x \"y z\"",
         L"\"C:\\My Apps\\i.dll\"", 1},
        // The blank after the target is dropped, any further one is the arguments'.
        {L"app.exe  -x ", L"app.exe", L" -x ", L"", 0},
        {L"app.exe ", L"app.exe", L"", L"", 0},
        // Quotes that do not enclose the whole target stay.
        {L"\"a b\"c.exe x", L"\"a b\"c.exe", L"x", L"", 0},
        {L"\"", L"", L"", L"", 0},
        {L"", L"", L"", L"", 0},
        {nullptr, L"", L"", L"", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text ? row.text : L"(null)")));
        const orv::LinkCommandLine split = orv::SplitCommandLine(row.text);
        EXPECT_EQ(split.target, row.target);
        EXPECT_EQ(split.arguments, row.arguments);
        EXPECT_EQ(split.iconFile, row.iconFile);
        EXPECT_EQ(split.iconIndex, row.iconIndex);
    }
}

// How any text splits is checked by the fuzz target; no text gives no parts.
TEST(LinkLocation, SplitsNoText) {
    const orv::LinkLocation location = orv::SplitShellFolder(nullptr);
    EXPECT_TRUE(location.keyword.empty() && location.subFolders.empty() && location.name.empty());
}

TEST(LinkLocation, KeepsShortcutsBelowTheShellFolder) {
    const struct { const wchar_t* text; bool stays; } rows[] = {
        {L"StartMenu\\Programs\\Tools\\Editor", true},
        {L"Desktop\\My Apps\\v1.2\\Editor 2.0", true},
        {L"Desktop\\\\Editor", true},  // no sub-folder
        {L"..\\Editor", true},          // the keyword is only matched
        {L"StartMenu", true},
        {L"Desktop\\..\\..\\Windows\\evil", false},
        {L"Desktop\\a\\..\\b\\Editor", false},
        {L"Desktop\\..", false},
        {L"Desktop\\ . \\Editor", false},
        {L"Desktop\\...\\Editor", false},
        {L"Desktop\\C:\\Windows\\Editor", false},
        {L"Desktop\\\\\\server\\share\\Editor", false},
        {L"Desktop\\a\\\\b\\Editor", false},
        {L"Desktop\\Editor:stream", false},
        {L"Desktop\\a/..\\Editor", false},
        {L"Desktop\\NUL", false},
        {L"Desktop\\con.txt", false},
        {L"Desktop\\Com1 .x", false},
        {L"Desktop\\LPT9\\Editor", false},
        {L"Desktop\\CONOUT$", false},
        {L"Desktop\\COM10", true},
        {L"Desktop\\Console", true},
        {L"Desktop\\LPT0", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)));
        EXPECT_EQ(orv::StaysBelowShellFolder(orv::SplitShellFolder(row.text)), row.stays);
    }
}

TEST(LinkLocation, MapsKeywordsInTheirOrder) {
    const struct { const wchar_t* keyword; int own, common; } rows[] = {
        {L"StartMenu", 11, 22}, {L"startmenu", 11, 22}, {L"Desktop", 16, 25}, {L"ProgramFiles", 2, 23},
        {L"STARTUP", 7, 24}, {L"MyStartupDesktop", 16, 25}, {L"ProgramFilesStartMenu", 11, 22},
        {L"ProgramFilesStartup", 2, 23}, {L"Start Menu", 0, 0}, {L"", 0, 0}, {nullptr, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.keyword ? row.keyword : L"(null)")));
        EXPECT_EQ(orv::GetShellFolderId(row.keyword, false, true), row.own);
        EXPECT_EQ(orv::GetShellFolderId(row.keyword, true, true), row.common);
        // Windows 9x has no folders shared by all users.
        EXPECT_EQ(orv::GetShellFolderId(row.keyword, true, false), row.own);
    }
}

}  // namespace
