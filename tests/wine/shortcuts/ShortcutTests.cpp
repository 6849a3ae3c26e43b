// InstallLink and UnInstallLink through COM on the built DLL, in the prefix's
// real shell folders. What a test makes there carries its tag and is removed
// in TearDown, whatever happened.
#include <shlobj.h>
#include <shlwapi.h>

#include <functional>
#include <map>
#include <set>
#include <thread>

#include "FilesTest.h"
#include "Machine.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr int kShellFolders[] = {0, 2, 7, 11, 16, 22, 23, 24, 25};
const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
using Names = std::set<std::wstring>;

std::wstring ShellFolder(int id) {
    WCHAR path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// "target|arguments|icon file,index|description|working directory" of a shortcut file.
std::wstring ReadLink(const std::wstring& path) {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    WCHAR text[5][1024] = {};
    int index = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)) && SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(text[1], 1024);
        link->GetIconLocation(text[2], MAX_PATH, &index);
        link->GetDescription(text[3], 1024);
        link->GetWorkingDirectory(text[4], MAX_PATH);
    }
    if (file) file->Release();
    if (link) link->Release();
    return std::wstring(text[0]) + L"|" + text[1] + L"|" + text[2] + L"," + std::to_wstring(index) + L"|" + text[3] + L"|" + text[4];
}

Names List(const std::wstring& folder, const std::wstring& pattern = L"*.lnk") {
    const std::vector<std::wstring> names = FindNames(folder, pattern);
    return Names(names.begin(), names.end());
}

// Every entry below the shell folders, with its attributes and size.
void AddTree(const std::wstring& folder, std::map<std::wstring, std::wstring>& tree) {
    for (const auto& name : List(folder, L"*")) {
        if (name == L"." || name == L"..") continue;
        const std::wstring path = Join(folder, name);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        tree[path] = std::to_wstring(data.dwFileAttributes) + L" " + std::to_wstring(data.nFileSizeLow);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) AddTree(path, tree);
    }
}
std::map<std::wstring, std::wstring> ShellTrees() {
    std::map<std::wstring, std::wstring> tree;
    for (int id : kShellFolders) AddTree(ShellFolder(id), tree);
    return tree;
}

// One argument of a child's command line (the texts here have no backslash before a quote).
std::wstring Arg(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) out += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return out + L"\"";
}

class Shortcuts : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        for (int id : kShellFolders) ASSERT_FALSE(IsFolder(Join(ShellFolder(id), m_tag))) << "left by an earlier run";
        ASSERT_TRUE(WriteBytes(m_app, "app") && WriteBytes(m_icon, "icons"));
    }
    void TearDown() override {
        for (int id : kShellFolders) {
            RemoveTree(Join(ShellFolder(id), m_tag));
            for (const auto& name : List(ShellFolder(id), m_tag + L"*.lnk")) RemoveTree(Join(ShellFolder(id), name));
        }
        KernelTest::TearDown();
    }
    HRESULT Install(const std::wstring& cmd, const std::wstring& folder, const wchar_t* tip = nullptr, bool all = false) {
        return m_kernel->InstallLink(B(cmd).get(), B(folder).get(), tip ? B(tip).get() : nullptr, all ? VARIANT_TRUE : 0);
    }
    HRESULT UnInstall(const std::wstring& cmd, const std::wstring& folder, LONG allUsers = 0) {
        return m_kernel->UnInstallLink(B(cmd).get(), B(folder).get(), allUsers);
    }
    std::wstring Quoted(const std::wstring& args = L"") const { return L"\"" + m_app + L"\"" + args; }
    const std::wstring m_tag = L"OrvTest" + std::to_wstring(GetCurrentProcessId());
    const std::wstring m_app = Path(L"my app.exe"), m_icon = Path(L"my icons.dll"), m_mine = L"StartMenu\\" + m_tag;
};

}  // namespace

// Every keyword, own and shared folders: each shortcut lands where its keyword
// says and reads back as asked; the uninstalls leave the shell folders as they
// were (the folders the installs made included).
TEST_F(Shortcuts, EveryShellFolderRoundTrip) {
    const auto before = ShellTrees();
    const struct { const wchar_t* keyword; int own, common; } rows[] = {
        {L"StartMenu", 11, 22}, {L"MyDesktop", 16, 25}, {L"ProgramFiles", 2, 23}, {L"startup", 7, 24}, {L"Other", 0, 0},
    };
    const std::wstring cmd = Quoted(L" -x \"a b\";\"" + m_icon + L"\";3");
    const std::wstring expected = m_app + L"|-x \"a b\"|" + m_icon + L",3|Tip|" + m_temp.Path();
    for (const auto& row : rows) {
        for (bool all : {false, true}) {
            SCOPED_TRACE(Narrow(row.keyword) + (all ? ", all users" : ""));
            const std::wstring folder = ShellFolder(all ? row.common : row.own), mine = row.keyword + (L"\\" + m_tag);
            ASSERT_EQ(Install(cmd, mine + L"\\Sub\\Name", L"Tip", all), S_OK);
            ASSERT_EQ(Install(cmd, mine + L"Top", L"Tip", all), S_OK);
            EXPECT_EQ(ReadLink(folder + L"\\" + m_tag + L"\\Sub\\Name.lnk"), expected);
            EXPECT_EQ(ReadLink(folder + L"\\" + m_tag + L"Top.lnk"), expected);
            // The shortcut's name plays no part in its removal.
            EXPECT_EQ(UnInstall(cmd, mine + L"\\Sub\\Other", all), S_OK);
            EXPECT_EQ(UnInstall(cmd, row.keyword + std::wstring(L"\\Any"), all ? 2 : 0), S_OK);
            EXPECT_EQ(ShellTrees(), before);
        }
    }
}

// A shell folder that an earlier install created (it carries the marker) is never removed either.
TEST_F(Shortcuts, MarkedShellFolderStays) {
    const std::wstring startup = ShellFolder(7), marker = startup + L"\\__orv.dir";
    ASSERT_TRUE(WriteBytes(marker, ""));
    Finally restore{[&] { CreateDirectoryW(startup.c_str(), nullptr), DeleteFileW(marker.c_str()); }};
    ASSERT_EQ(List(startup, L"*"), (Names{L".", L"..", L"__orv.dir"}));
    ASSERT_EQ(Install(Quoted(), L"Startup\\" + m_tag + L"\\N"), S_OK);
    EXPECT_EQ(UnInstall(Quoted(), L"Startup\\" + m_tag + L"\\N"), S_OK);
    EXPECT_EQ(List(startup, L"*"), (Names{L".", L".."}));
}

TEST_F(Shortcuts, DuplicatesNumberedNamesAndRemoval) {
    const std::wstring menu = ShellFolder(11), folder = menu + L"\\" + m_tag + L"\\Tools", where = m_mine + L"\\Tools\\";
    WCHAR notepad[MAX_PATH];
    ASSERT_GT(SearchPathW(nullptr, L"notepad.exe", nullptr, MAX_PATH, notepad, nullptr), 0u);
    const struct { std::wstring cmd, name; HRESULT result; Lines lines; } rows[] = {
        {Quoted(L" -a"), L"Name", S_OK, {Line(L' ', L"Link file " + folder + L"\\Name.lnk has been installed successfully")}},
        {Quoted(L" -a"), L"Name", S_FALSE, {Line(L' ', L"Link file " + folder + L"\\Name.lnk with same command line already exists: OK")}},
        {Quoted(L"  -A"), L"Else", S_FALSE, {}},
        {Quoted(L" -b"), L"Name", S_OK, {Line(L'W', L"Link file \"" + folder + L"\\Name.lnk\" already exists: Generating new name")}},
        {Quoted(L" -c"), L"Name[x]", S_OK, {}},
        {Quoted(L" -d"), L"Name[x]", S_OK, {Line(L'W', L"Link file \"" + folder + L"\\Name[1].lnk\" already exists: Generating new name")}},
        {L"notepad.exe -a;;2", L"Pad", S_OK, {Line(L' ', L"Iconfile: ; 2")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.cmd + L" " + row.name));
        LogCursor log;
        EXPECT_EQ(Install(row.cmd, where + row.name), row.result);
        EXPECT_TRUE(LogHas(log.Text(), row.lines));
    }
    EXPECT_EQ(List(folder), (Names{L"Name.lnk", L"Name[1].lnk", L"Name[x].lnk", L"Name[2].lnk", L"Pad.lnk"}));
    EXPECT_EQ(ReadLink(folder + L"\\Pad.lnk"), std::wstring(notepad) + L"|-a|,2||");

    // One call removes every shortcut with the target and arguments, whatever its name.
    ASSERT_TRUE(Copy(folder + L"\\Name.lnk", folder + L"\\Copy.lnk"));
    LogCursor log;
    EXPECT_EQ(UnInstall(Quoted(L" \"-a\""), where + L"Ignored"), S_OK);
    EXPECT_EQ(CountOf(log.Text(), L"Found matching link file " + m_app + L" with command line -a"), 2u);
    EXPECT_EQ(UnInstall(L"notepad.exe -a", where + L"Any"), S_OK);
    EXPECT_EQ(List(folder), (Names{L"Name[1].lnk", L"Name[x].lnk", L"Name[2].lnk"}));
    LogCursor none;
    EXPECT_EQ(UnInstall(Quoted(L" -a"), where + L"Any"), S_OK);
    EXPECT_TRUE(LogHas(none.Text(), {Line(L'W', L"No matching link file has been found")}));

    // A folder holding something else stays; emptied, the folders the install made go.
    ASSERT_TRUE(WriteBytes(folder + L"\\readme.txt", "mine"));
    for (const wchar_t* args : {L" -b", L" -c", L" -d"}) EXPECT_EQ(UnInstall(Quoted(args), where + L"Any"), S_OK);
    EXPECT_EQ(List(folder, L"*"), (Names{L".", L"..", L"__orv.dir", L"readme.txt"}));
    ASSERT_TRUE(DeleteFileW((folder + L"\\readme.txt").c_str()));
    LogCursor emptied;
    EXPECT_EQ(UnInstall(Quoted(L" -b"), where + L"Any"), S_OK);
    EXPECT_TRUE(LogHas(emptied.Text(), {Line(L' ', L"Empty shell folder " + folder + L" has been removed successfully")}));
    EXPECT_FALSE(IsFolder(menu + L"\\" + m_tag));

    // A folder that was there before is kept, even empty; a target that is gone is still matched.
    ASSERT_TRUE(CreateDirectoryW((menu + L"\\" + m_tag).c_str(), nullptr));
    EXPECT_EQ(Install(Quoted(), m_mine + L"\\New\\Name"), S_OK);
    ASSERT_TRUE(DeleteFileW(m_app.c_str()));
    EXPECT_EQ(UnInstall(Quoted(), m_mine + L"\\New\\Name"), S_OK);
    EXPECT_EQ(List(menu + L"\\" + m_tag, L"*"), (Names{L".", L".."}));
}

TEST_F(Shortcuts, Failures) {
    const std::wstring menu = ShellFolder(11), missing = Path(L"missing.exe"), longName(300, L'x');
    ASSERT_TRUE(CreateDirectoryW((menu + L"\\" + m_tag).c_str(), nullptr) && WriteBytes(menu + L"\\" + m_tag + L"\\file", ""));
    const auto before = ShellTrees();
    const auto null = [](const wchar_t* method) {
        return Lines{Win32Line(L'E', method + std::wstring(L"(): Invalid parameter ( NULL pointer )"), 0x4003)};
    };
    // Without COM on the calling thread the shell link object cannot be made.
    const auto withoutCom = [](const std::function<HRESULT()>& call) {
        HRESULT hr = E_UNEXPECTED;
        std::thread([&] { hr = call(); }).join();
        return hr;
    };
    const HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const struct { const char* name; std::function<HRESULT()> call; HRESULT result; Lines lines; } rows[] = {
        {"InstallLink(null, f)", [&] { return m_kernel->InstallLink(nullptr, B(m_mine).get(), nullptr, 0); }, E_POINTER, null(L"InstallLink")},
        {"InstallLink(c, null)", [&] { return m_kernel->InstallLink(B(m_app).get(), nullptr, nullptr, 0); }, E_POINTER, null(L"InstallLink")},
        {"UnInstallLink(null, f)", [&] { return m_kernel->UnInstallLink(nullptr, B(m_mine).get(), 0); }, E_POINTER, null(L"UnInstallLink")},
        {"UnInstallLink(c, null)", [&] { return m_kernel->UnInstallLink(B(m_app).get(), nullptr, 0); }, E_POINTER, null(L"UnInstallLink")},
        {"missing target", [&] { return Install(missing + L" -x", m_mine + L"\\N"); }, kNotFound,
         {Win32Line(L'E', L"Link target " + missing + L" does not exist: Aborting link file installation", ERROR_FILE_NOT_FOUND)}},
        {"target not on the search path", [&] { return Install(L"orv_nowhere.exe", m_mine + L"\\N"); }, kNotFound,
         {Win32Line(L'E', L"Link target orv_nowhere.exe not found in SearchPath: Aborting link file installation", ERROR_FILE_NOT_FOUND)}},
        {"no link name", [&] { return Install(Quoted(), L"StartMenu\\"); }, E_INVALIDARG,
         {Line(L'E', L"No link file name in shell folder \"StartMenu\\\": Aborting link file installation")}},
        {"long target", [&] { return Install(L"C:\\" + longName, m_mine + L"\\N"); }, kTooLong,
         {Line(L'E', L"Path longer than 259 characters refused: 'C:\\xxx")}},
        {"long link folder", [&] { return Install(Quoted(), m_mine + L"\\" + longName + L"\\N"); }, kTooLong,
         {Line(L'E', L"Path longer than 259 characters refused: '" + menu)}},
        {"long arguments", [&] { return UnInstall(Quoted(L" " + std::wstring(1024, L'a')), m_mine + L"\\N"); }, kTooLong,
         {Win32Line(L'E', L"Arguments longer than 1023 characters refused", ERROR_FILENAME_EXCED_RANGE)}},
        {"link folder is a file", [&] { return Install(Quoted(), m_mine + L"\\file\\N"); }, kPathNotFound,
         {Win32Line(L'E', L"Failed to save link file: Aborting link file installation", ERROR_PATH_NOT_FOUND)}},
        {"link folder below a file", [&] { return Install(Quoted(), m_mine + L"\\file\\sub\\N"); }, kPathNotFound,
         {Win32Line(L'E', L"Unable create link folder: Aborting link file installation", ERROR_PATH_NOT_FOUND)}},
        {"no link folder", [&] { return UnInstall(Quoted(), m_mine + L"\\none\\N"); }, kPathNotFound,
         {Line(L'W', L"No files or sub folders found in shell folder " + menu + L"\\" + m_tag + L"\\none\\")}},
        {"install without COM", [&] { return withoutCom([&] { return Install(Quoted(), m_mine + L"\\N"); }); }, CO_E_NOTINITIALIZED,
         {Win32Line(L'E', L"Unable to obtain IShellLink interface: Aborting link file installation", 0x1F0)}},
        {"uninstall without COM", [&] { return withoutCom([&] { return UnInstall(Quoted(), m_mine + L"\\N"); }); }, CO_E_NOTINITIALIZED,
         {Win32Line(L'E', L"Unable to obtain IPersistFile interface: Aborting link file uninstallation", 0x1F0)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(row.call(), row.result);
        EXPECT_TRUE(LogHas(log.Text(), row.lines));
    }
    EXPECT_EQ(ShellTrees(), before);
}

// All users asked for on Windows 9x: the current user's Programs menu (the helper runs as Windows 98).
TEST_F(Shortcuts, Windows9xHasNoSharedFolders) {
    const std::wstring helper = Join(BinDir(), L"shortcut_helper.exe"), args = L" " + Arg(Quoted()) + L" ProgramFiles\\" + m_tag + L"\\N 1";
    const ProcessResult install = RunAs(L"win98", helper, L"link" + args);
    EXPECT_EQ(install.exitCode, DWORD(S_OK)) << install.output;
    EXPECT_NE(install.output.find("GetVersion=C"), std::string::npos) << install.output;
    EXPECT_TRUE(FileExists(ShellFolder(2) + L"\\" + m_tag + L"\\N.lnk"));
    EXPECT_FALSE(IsFolder(ShellFolder(23) + L"\\" + m_tag));
    EXPECT_EQ(RunAs(L"win98", helper, L"unlink" + args).exitCode, DWORD(S_OK));
    EXPECT_FALSE(IsFolder(ShellFolder(2) + L"\\" + m_tag));
}
