// InstallFile and UnInstallFile on fonts, through the kernel's COM interface
// on the built DLL: the fonts key, the file in place, the font in the running
// system, the version ladder, and what each failure leaves.
#include "FontTest.h"

using namespace orv::test;
using namespace orv::test::files;
using namespace orv::test::fonts;

namespace {

constexpr HRESULT kFontResourceFailed = E_UNEXPECTED;

class KernelFonts : public KernelTest {
protected:
    HRESULT Install(const std::wstring& source, const std::wstring& target, DWORD flags = 0) {
        InstallRecord record(source, target, 1, flags);
        return m_kernel->InstallFile(record.Get());
    }
    FontCleanup m_fonts;
};

std::wstring Info(const std::wstring& text) { return Line(L' ', text); }
std::wstring NameLine(const std::string& name) { return Info(L"Font name: \"" + Widen(name) + L"\""); }

}  // namespace

// Into the fonts folder: registered by its file name under its full name,
// loaded, seen by another program; a second install keeps it.
TEST_F(KernelFonts, IntoTheFontsFolder) {
    const std::string name = m_fonts.Name();
    const std::wstring file = Widen(name) + L".ttf", source = Path(L"orv.ttf"), target = m_fonts.InFontsDir(file);
    ASSERT_TRUE(WriteBytes(source, DejaVu(name, name)));
    LogCursor log;
    ASSERT_EQ(Install(source, target), S_OK);
    EXPECT_EQ(Entry(name), file);
    EXPECT_TRUE(LogHas(log.Text(),
                       {NameLine(name), Info(L"Attempting to set font registry entry: " + ValueName(name)),
                        Info(L"Setting font registry entry succeeded"), Info(L"Attempting to copy file {S} to {T}"),
                        Info(L"FileCopy succeeded"), Info(L"Font successfully installed to {T}")},
                       {L"differs from fonts directory", L"already installed"}, source, target));
    const ProcessResult probe = RunAs(nullptr, Join(SelfDir(), L"fonts_probe.exe"), L"face " + Widen(name));
    EXPECT_EQ(probe.exitCode, 0u) << probe.output;
    EXPECT_NE(probe.output.find("face=" + name + " height="), std::string::npos) << probe.output;

    LogCursor again;
    EXPECT_EQ(Install(source, target), S_FALSE);
    EXPECT_TRUE(LogHas(again.Text(),
                       {Info(L"Font \"" + Widen(name) + L"\" is already installed as {T}"),
                        Info(L"Existing font (2.37.0.0) is same or newer than font to be installed(2.37.0.0): Keeping "
                             L"existing font installation")},
                       {L"FileCopy"}, source, target));
}

// An installed font of the same name: by version, else by time stamp (a
// target that is not there yet is older than any font); force, and an entry
// whose file is gone, install without asking.
TEST_F(KernelFonts, InstalledFontOfTheSameName) {
    const std::string none = "Version x.yz";
    const std::wstring keep = L"Keeping existing font installation", install = L"Installing new font";
    const struct {
        const char* label;
        std::string existing, fresh;  // version texts; existing "": no file for the entry
        FILETIME existingTime, freshTime;
        bool elsewhere;  // the entry names another file than the target
        DWORD flags;
        HRESULT result;
        std::wstring line;
    } rows[] = {
        {"1.10 is newer than 1.9", "Version 1.9 ", "Version 1.10", kSourceTime, kSourceTime, false, 0, S_OK,
         Info(L"Font to be installed (1.10.0.0) is newer than existing font (1.9.0.0) : " + install)},
        {"same version", "Version 1.10", "Version 1.10", kOlder, kNewer, false, 0, S_FALSE,
         Info(L"Existing font (1.10.0.0) is same or newer than font to be installed(1.10.0.0): " + keep)},
        {"only the existing font has a version", "Version 1.10", none, kOlder, kNewer, false, 0, S_FALSE,
         Line(L'W', L"Font to be installed has no version. Existing font has version 1.10.0.0: Supposed to be newer: "
                    L"Keeping existing font installation")},
        {"only the new font has a version", none, "Version 1.10", kNewer, kOlder, false, 0, S_OK,
         Line(L'W', L"Existing font has no version. Font to be installed has version 1.10.0.0: Supposed to be newer: "
                    L"Installing new font")},
        {"no versions, same time stamp", none, none, kSourceTime, kSourceTime, false, 0, S_FALSE,
         Info(L"Time stamp of existing font is same or newer than time stamp of font to be installed: " + keep)},
        {"no versions, no target yet", none, none, kNewer, kOlder, true, 0, S_OK,
         Info(L"Time stamp of font to be installed is newer than time stamp of existing font: " + install)},
        {"force over a newer font", "Version 1.10", "Version 1.9 ", kNewer, kOlder, false, INSTALL_FLAG_FORCE, S_OK,
         Info(L"Force flag is set: Skipping version or time stamp check")},
        {"entry of a file that is gone", "", "Version 1.9 ", kNewer, kOlder, true, 0, S_OK,
         Info(L"FileCopy succeeded")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string name = m_fonts.Name(), fresh = DejaVu(name, name, row.fresh);
        const std::string existing = row.existing.empty() ? "" : DejaVu(name, name, row.existing);
        const std::wstring source = Path(L"new.ttf"), target = Path(Widen(name) + L".ttf");
        const std::wstring installed = row.elsewhere ? Path(L"other_" + Widen(name)) : target;
        ASSERT_TRUE(WriteBytes(source, fresh) && SetWriteTime(source, row.freshTime) && SetEntry(name, installed));
        ASSERT_TRUE(existing.empty() || (WriteBytes(installed, existing) && SetWriteTime(installed, row.existingTime)));
        LogCursor log;
        EXPECT_EQ(Install(source, target, row.flags), row.result);
        EXPECT_TRUE(LogHas(log.Text(), {row.line}, existing.empty() || row.flags ? Lines{L"already"} : Lines{}));
        EXPECT_TRUE(ReadBytes(target) == (row.result == S_OK ? fresh : existing));
        EXPECT_EQ(Entry(name), row.result == S_OK ? target : installed);
    }
}

// A target held open without sharing: neither copy replaces it, nothing is
// deleted, the installed font stays whole.
TEST_F(KernelFonts, HeldTargetKeepsTheInstalledFont) {
    const std::string name = m_fonts.Name(), installed = DejaVu(name, name, "Version 1.0 ");
    const std::wstring source = Path(L"new.ttf"), target = Path(L"installed.ttf");
    ASSERT_TRUE(WriteBytes(source, DejaVu(name, name)) && WriteBytes(target, installed));
    LogCursor log;
    {
        Holder holder(target);
        ASSERT_TRUE(holder.Holding());
        EXPECT_EQ(Install(source, target, INSTALL_FLAG_FORCE), kInUse);
    }
    EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"FileCopy failed", 5), Info(L"CopyFile Errorcode 5 ")},
                       {L"DeleteFile succeeded", L"finally", L"AddFontResource"}));
    EXPECT_TRUE(ReadBytes(target) == installed);
    EXPECT_EQ(Entry(name), target);  // written before the copy; it stays
}

// What each failure leaves: a registry write refused (a name longer than a
// value name may be), a file the system cannot load as a font.
TEST_F(KernelFonts, FailuresLeaveNoHalfInstalledFont) {
    const std::string name = m_fonts.Name();
    const std::wstring source = Path(L"source.ttf"), copied = Path(L"copied.ttf"), inPlace = Path(L"in_place.ttf");
    const struct { const char* label; std::string bytes; std::wstring from, to; HRESULT hr; std::wstring line; }
    rows[] = {
        {"registry write refused", NameTableOnly(std::string(16400, 'L')), source, copied, E_INVALIDARG,
         Win32Line(L'E', L"Error writing to font key. Aborting font installation", ERROR_INVALID_PARAMETER)},
        {"no font for the system", NameTableOnly(name), source, copied, kFontResourceFailed,
         Line(L'E', L"AddFontResource() failed. Aborting font installation")},
        {"no font, source is the target", NameTableOnly(name), inPlace, inPlace, kFontResourceFailed,
         Info(L"Server dependent installation: source file path equals target file path: OK")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(WriteBytes(row.from, row.bytes));
        LogCursor log;
        EXPECT_EQ(Install(row.from, row.to), row.hr);
        EXPECT_TRUE(LogHas(log.Text(), {row.line}));
        EXPECT_EQ(FileExists(row.to), row.from == row.to);
        EXPECT_TRUE(FileExists(row.from));
        EXPECT_EQ(Entry(name), L"<none>");
    }
}

// Without a Macintosh name a font is known by its Windows full name; with no
// name at all it gets no entry and never takes another font for itself.
TEST_F(KernelFonts, FontsWithoutAMacintoshName) {
    const std::string unnamed("\0rvUnnamed_", 11), windowsName = m_fonts.Name();
    for (const std::string& windowsRecord : {windowsName, unnamed}) {
        SCOPED_TRACE(windowsRecord[0] ? "Windows full name" : "no name at all");
        const std::wstring source = Path(L"source.ttf"), target = Path(L"target.ttf");
        ASSERT_TRUE(WriteBytes(source, DejaVu(unnamed, windowsRecord)));
        LogCursor log;
        EXPECT_EQ(Install(source, target), S_OK);
        EXPECT_TRUE(FileExists(target));
        if (windowsRecord[0]) {
            EXPECT_EQ(Entry(windowsName), target);
        } else {
            const std::wstring warning = L"Font file {S} carries no font name: Installing it without font registry";
            EXPECT_TRUE(LogHas(log.Text(), {NameLine(""), Line(L'W', warning), Info(L"Font successfully installed")},
                               {L"already installed", L"set font registry entry"}, source, target));
        }
    }
}

// UnInstallFile: the font taken out of the running system, the file deleted
// and the entry that points at it removed, found by its file (a bare name
// through the fonts folder). A font the system does not hold is left alone.
TEST_F(KernelFonts, UnInstall) {
    const std::string raster = m_fonts.Track("FONTRES 100,96,96 : Courier 10 (VGA res)");
    const std::wstring removed = L"Font file information has been successfully removed from registry";
    const struct { const char* label; bool raster, inFontsDir, installed; HRESULT hr; std::wstring line; } rows[] = {
        {"file name in the fonts folder", false, true, true, S_OK, Info(removed)},
        {"raster font, full path", true, false, true, S_OK, Info(removed)},
        {"font not in the running system", false, false, false, kFontResourceFailed,
         Line(L'E', L"RemoveFontResource() failed: Aborting font uninstallation")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string name = row.raster ? raster : m_fonts.Name();
        const std::wstring file = row.raster ? L"font.fon" : Widen(name) + L".ttf", source = Path(L"source_" + file);
        const std::wstring target = row.inFontsDir ? m_fonts.InFontsDir(file) : Path(file);
        ASSERT_TRUE(row.raster ? Copy(L"Z:\\usr\\share\\wine\\fonts\\coure.fon", source)
                               : WriteBytes(source, DejaVu(name, name)));
        if (row.installed) {
            ASSERT_EQ(Install(source, target, INSTALL_FLAG_FORCE), S_OK);
        } else {
            ASSERT_TRUE(Copy(source, target) && SetEntry(name, target));
        }
        InstallRecord record(L"", target);
        LogCursor log;
        EXPECT_EQ(m_kernel->UnInstallFile(record.Get()), row.hr);
        const std::wstring type = row.raster ? L"Raster font file" : L"True type font file";
        EXPECT_TRUE(LogHas(log.Text(), {Info(L"File type: " + type), NameLine(name), row.line}));
        EXPECT_EQ(FileExists(target), FAILED(row.hr));
        EXPECT_EQ(Entry(name) != L"<none>", FAILED(row.hr));
    }
}

// On Windows 9x the entry goes below "Windows", not "Windows NT".
TEST_F(KernelFonts, Windows9xFontsKey) {
    const std::string name = m_fonts.Name();
    const std::wstring source = Path(L"source.ttf"), target = Path(L"target.ttf");
    ASSERT_TRUE(WriteBytes(source, DejaVu(name, name)));
    const ProcessResult run = RunAs(L"win98", Join(SelfDir(), L"fonts_win98.exe"), L"install \"" + source + L"\" \"" + target + L"\"");
    EXPECT_EQ(run.exitCode, DWORD(S_OK)) << run.output;
    EXPECT_EQ(Entry(name, k9xFontsKey), target);
    EXPECT_EQ(Entry(name), L"<none>");
}
