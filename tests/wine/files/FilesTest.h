// Helpers of the file engine tests: fixtures, files held open by another
// process, times and attributes, log lines, the watch for temporary copies,
// file objects, and the kernel DLL as a setup program uses it.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WineTest.h"
#include "files/FileModel.h"
#include "kernel/TqOrvWexKr_h.h"

namespace orv::test::files {

// A fixture of this build (ORV_FIXTURES\files\name) or of the other bitness
// (empty when that tree was not built).
std::wstring Fixture(const std::wstring& name);
std::wstring OtherFixture(const std::wstring& name);
// A fixture of the utility library's tests (ORV_FIXTURES\ut\name).
std::wstring UtFixture(const std::wstring& name);

// Another process holding a file open, until the object goes (fixture
// holder.exe): with no sharing at all, or letting others only read it, as a
// running module's file is.
enum class Sharing { kNone, kRead };
class Holder {
public:
    explicit Holder(const std::wstring& path, Sharing sharing = Sharing::kNone);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    // True once the holder said it has the file open.
    bool Holding() const { return m_holding; }

private:
    HANDLE m_process = nullptr;
    HANDLE m_stdinWrite = nullptr;
    bool m_holding = false;
};

// File contents and state.
bool Write(const std::wstring& path, const std::string& bytes);
std::string Content(const std::wstring& path);
DWORD Attributes(const std::wstring& path);
bool SetAttributes(const std::wstring& path, DWORD attributes);
FILETIME WriteTime(const std::wstring& path);
// Sets the last write time to now minus the given number of days.
bool SetAge(const std::wstring& path, int daysAgo);
bool SetWriteTime(const std::wstring& path, const FILETIME& time);
bool Copy(const std::wstring& from, const std::wstring& to);
bool MakeFolder(const std::wstring& path);
bool IsFolder(const std::wstring& path);
// The short (8.3) form; empty when there is none.
std::wstring ShortPath(const std::wstring& path);
// A path of exactly length characters below folder that names nothing.
std::wstring LongPathBelow(const std::wstring& folder, size_t length);

// Every file below folder whose name begins with "_orv": none may survive an operation.
::testing::AssertionResult NoTemporaryCopies(const std::wstring& folder);

// Log lines as the log library writes them: "<component> <level> <severity> <text>".
std::wstring Line(WCHAR severity, const std::wstring& text, int level = 2);
// A Win32 error line: the text followed by the error number.
std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error);
// The lines appear in log, in this order (others may come between).
::testing::AssertionResult HasLinesInOrder(const std::wstring& log, const std::vector<std::wstring>& lines);
::testing::AssertionResult LacksText(const std::wstring& log, const std::wstring& text);

std::string Hex(HRESULT hr);
// Text of a FILETIME as the utility library writes blobs: upper-case hex, memory order.
std::wstring BlobText(const FILETIME& time);

// Runs its action when it goes, however the test ends.
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : m_action(std::move(action)) {}
    ~ScopeExit() {
        if (m_action) m_action();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> m_action;
};

// "{S}" and "{T}" in a line stand for the source and the target.
std::wstring Expand(std::wstring text, const std::wstring& source, const std::wstring& target);
std::vector<std::wstring> ExpandAll(const std::vector<std::wstring>& lines, const std::wstring& source,
                                    const std::wstring& target);

// A file object, ended with Destroy.
struct FileDeleter {
    void operator()(CWexKrFile* file) const {
        if (file) file->Destroy();
    }
};
using FilePtr = std::unique_ptr<CWexKrFile, FileDeleter>;

// A test with its own folder; afterwards no temporary copy may be left in it.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    TempDir m_temp;
};

class KernelFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    HMODULE m_module = nullptr;
    IOrvInstallerKernel* m_kernel = nullptr;
};

// BSTR owner.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_value; }

private:
    BSTR m_value = nullptr;
};

// An install record whose strings it owns; lpOrvCheckInfo starts as a
// sentinel, and an array handed back is freed as a caller frees it.
class InstallRecord {
public:
    InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode = 1, ULONG flags = 0);
    ~InstallRecord();
    InstallRecord(const InstallRecord&) = delete;
    InstallRecord& operator=(const InstallRecord&) = delete;
    _ORV_FILE_INSTALL_INFO* Get() { return &m_info; }
    bool CheckInfoUntouched() const;
    const _ORV_CHECK_INFO* CheckInfo() const;

    static _ORV_CHECK_INFO* Sentinel();

private:
    Bstr m_source, m_target;
    _ORV_FILE_INSTALL_INFO m_info{};
};

// The three records: keys and values of 0 and 1 (nullptr for a null string), and a null record 2.
::testing::AssertionResult CheckInfoIs(const _ORV_CHECK_INFO* records, const wchar_t* key0, const wchar_t* value0,
                                       const wchar_t* key1, const wchar_t* value1);

}  // namespace orv::test::files
