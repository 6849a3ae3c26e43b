// What the platform under test cannot make happen, through the font seam: a
// font that was added but yields no text metrics.
#include "FontTest.h"
#include "files/FileModel.h"
#include "fonts/FontSeams.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::files;

TEST(FontSeams, LoadTestWithoutMetrics) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    orv::fonts::Seams().pfnGetTextMetrics = [](HDC, TEXTMETRICW*) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    };
    fonts::FontCleanup cleanup;
    TempDir temp;
    const std::string name = cleanup.Name();
    ASSERT_TRUE(WriteBytes(temp / L"source.ttf", fonts::DejaVu(name, name)));
    CWexKrTrueTypeFontFile font((temp / L"source.ttf").c_str());
    LogCursor log;
    // The entry and the font resource stay; the caller hears "in use".
    EXPECT_EQ(font.Install((temp / L"target.ttf").c_str(), 0), kInUse);
    EXPECT_TRUE(LogHas(
        log.Text(),
        {Line(L'E', L"GetTextMetric Failure"), Win32Line(L'E', L"Font could not be loaded", ERROR_INVALID_HANDLE)},
        {L"Font successfully installed"}));
    EXPECT_EQ(fonts::Entry(name), temp / L"target.ttf");
    EXPECT_TRUE(FileExists(temp / L"target.ttf"));
    orv::fonts::Seams() = orv::fonts::FontSeams();
    WexStopLog(GetCurrentThreadId());
}
