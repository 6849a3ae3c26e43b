// Helpers of the file engine tests.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KernelRecords.h"
#include "Machine.h"
#include "WineTest.h"

namespace orv::test::files {

constexpr HRESULT kInUse = static_cast<HRESULT>(0x800407D0L);
constexpr DWORD kRO = FILE_ATTRIBUTE_READONLY, kSys = FILE_ATTRIBUTE_SYSTEM;
using Lines = std::vector<std::wstring>;

// ORV_FIXTURES\<tree>\name; of the other bitness: empty when that tree was not built.
std::wstring Fixture(const std::wstring& name, const wchar_t* tree = L"files");
std::wstring OtherFixture(const std::wstring& name);

// holder.exe keeps the file open until the object goes: without sharing,
// letting others read it, letting others also rename or delete it, or only
// through a mapped view (as "delete").
enum class Share { kNone, kRead, kDelete, kMapped };
class Holder {
public:
    explicit Holder(const std::wstring& path, Share share = Share::kNone);
    ~Holder();
    bool Holding() const { return m_holding; }

private:
    HANDLE m_ready = nullptr, m_process = nullptr;
    bool m_holding = false;
};

template <class F> struct Finally {
    F f;
    ~Finally() { f(); }
};
template <class F> Finally(F) -> Finally<F>;

// Whole-second UTC times: the log shows them as stored.
FILETIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
inline const FILETIME kSourceTime = Time(2010, 5, 6, 7, 8, 9), kOlder = Time(2009, 11, 12, 13, 14, 15),
                      kNewer = Time(2011, 1, 2, 3, 4, 5);
FILETIME WriteTime(const std::wstring& path);
bool SetWriteTime(const std::wstring& path, const FILETIME& time);
// Upper-case hex of the bytes in memory order, as the utility library writes blobs.
std::wstring BlobText(const FILETIME& time);
bool Copy(const std::wstring& from, const std::wstring& to);
bool IsFolder(const std::wstring& path);

// No file named "_orv..." below the folder.
::testing::AssertionResult NoTemporaryCopies(const std::wstring& folder);

// B(text).get(): a BSTR for one call; Bstr (Machine.h) names one.
struct BstrFree {
    void operator()(BSTR s) const { SysFreeString(s); }
};
using OwnedBstr = std::unique_ptr<OLECHAR, BstrFree>;
inline OwnedBstr B(const std::wstring& s) { return OwnedBstr(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))); }

// A test with its own folder, in which no temporary copy may be left.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FileExists(Fixture(L"holder.exe"))) << "fixtures not built"; }
    void TearDown() override { EXPECT_TRUE(NoTemporaryCopies(m_temp.Path())); }
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    TempDir m_temp;
};

// The built kernel DLL, reached through its class factory; no library may get registered.
class KernelTest : public FilesTest {
protected:
    void SetUp() override;
    void TearDown() override;
    LoadedKernel m_kernel;
};

}  // namespace orv::test::files
