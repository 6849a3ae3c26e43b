// Shortcut command lines and shell folder arguments.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/LinkCommandLine.h"
#include "core/LinkLocation.h"

namespace {

TEST(LinkCommandLine, Splits) {
    const struct { const wchar_t *text, *target, *arguments, *iconFile; int iconIndex; } rows[] = {
        {L"app.exe -x;icons.dll;3", L"app.exe", L"-x", L"icons.dll", 3},
        {L"app.exe;", L"app.exe", L"", L"", 0},
        {L"app.exe;;5", L"app.exe", L"", L"", 5},
        {L"app.exe;icons.dll", L"app.exe", L"", L"icons.dll", 0},
        {L"app.exe;icons.dll;", L"app.exe", L"", L"icons.dll", 0},
        {L"app.exe;i;-7", L"app.exe", L"", L"i", -7},
        {L"app.exe;i; \t+12x;9", L"app.exe", L"", L"i", 12},
        {L"app.exe;i;abc", L"app.exe", L"", L"i", 0},
        {L"app.exe;i;99999999999", L"app.exe", L"", L"i", INT_MAX},
        {L"app.exe;i;-99999999999", L"app.exe", L"", L"i", INT_MIN},
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

TEST(LinkLocation, SplitsTheShellFolderArgument) {
    const struct { const wchar_t *text, *keyword, *subFolders, *name; } rows[] = {
        {L"StartMenu\\Programs\\Tools\\Editor", L"StartMenu", L"Programs\\Tools", L"Editor"},
        {L"Desktop\\Editor", L"Desktop", L"", L"Editor"},
        {L"Desktop\\Tools\\Editor\\", L"Desktop", L"Tools", L"Editor"},
        {L"Desktop\\Tools\\\\", L"Desktop", L"Tools", L""},
        {L"StartMenu", L"StartMenu", L"", L""},
        {L"StartMenu\\", L"StartMenu", L"", L""},
        {nullptr, L"", L"", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text ? row.text : L"(null)")));
        const orv::LinkLocation location = orv::SplitShellFolder(row.text);
        EXPECT_EQ(location.keyword, row.keyword);
        EXPECT_EQ(location.subFolders, row.subFolders);
        EXPECT_EQ(location.name, row.name);
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
