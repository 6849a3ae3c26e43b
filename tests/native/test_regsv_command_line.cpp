// The registration program's command line: the path put together again
// from its pieces, the switches, and what is refused.
#include "core/RegSvCommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Flags(const orv::RegSvArguments& a) {
    std::string f;
    for (auto [set, name] : {std::pair{a.unregister, "u"}, {a.silent, "s"}, {a.wait, "w"}, {a.console, "c"},
                             {a.skipRegistration, "n"}, {a.install, "i"}})
        if (set) f += name;
    return f;
}

TEST(RegSvCommandLine, PathSwitchesAndRefusals) {
    const struct {
        const wchar_t* commandLine;
        const wchar_t* path;
        const char* flags;
        const wchar_t* command;
        const wchar_t* error;  // null: accepted
    } rows[] = {
        {L"orvregsv.exe C:\\App Dir\\My Server.dll /s /w", L"C:\\App Dir\\My Server.dll", "sw", L"", nullptr},
        {L"\"C:\\Tools\\orvregsv.exe\"   C:\\a b\\x.dll  /U /s /w", L"C:\\a b\\x.dll", "usw", L"", nullptr},
        {L"orvregsv.exe C:\\lib.dll /u /s /c /w /n /i:\"setup -q /x\"", L"C:\\lib.dll", "uswcni", L"setup -q /x",
         nullptr},
        {L"orvregsv.exe /i:cmd \"C:\\q d\\x.dll\" /n", L"C:\\q d\\x.dll", "ni", L"cmd", nullptr},
        {L"orvregsv.exe C:\\dir/x.dll /s", L"C:\\dir/x.dll", "s", L"", nullptr},
        {L"orvregsv.exe", L"", "", L"", L"no server path"},
        {L"orvregsv.exe /s /u", L"", "us", L"", L"no server path"},
        {L"orvregsv.exe C:\\x.dll /n", L"C:\\x.dll", "n", L"", L"/n is only allowed together with /i"},
        {L"orvregsv.exe C:\\x.dll /RegServer", L"C:\\x.dll", "", L"", L"unknown switch /regserver"},
        {L"orvregsv.exe C:\\x.dll /s:1", L"C:\\x.dll", "", L"", L"unknown switch /s:1"},
        {L"orvregsv.exe \"C:\\x.dll\" \"C:\\y.dll\"", L"C:\\x.dll", "", L"", L"more than one server path"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.commandLine, row.commandLine + wcslen(row.commandLine)));
        const orv::RegSvArguments a = orv::ParseRegSvArguments(orv::SkipProgramName(row.commandLine));
        EXPECT_EQ(a.error, row.error ? row.error : L"");
        EXPECT_EQ(a.path, row.path);
        EXPECT_EQ(Flags(a), row.flags);
        EXPECT_EQ(a.installCommand, row.command);
    }
}

}  // namespace
