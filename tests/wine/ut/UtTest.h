// Helpers of the utility library tests.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "Machine.h"
#include "platform/WexUt.h"

namespace orv::test::ut {

using namespace orv::test;

// A fixture of this build (ORV_FIXTURES\ut\name) or of the other bitness;
// the latter empty when that tree's fixtures were not built (rows skipped).
inline std::wstring Fixture(const std::wstring& name, bool other = false) {
    const std::wstring dir = Join(other ? OtherFixturesDir() : FixturesDir(), L"ut");
    if (other && (OtherFixturesDir().empty() || GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES)) return L"";
    return Join(dir, name);
}
// A path of exactly `length` characters on drive C: that names nothing.
inline std::wstring LongPath(size_t length) {
    std::wstring path = L"C:\\";
    while (path.size() < length) path += (path.size() % 50 == 49) ? L'\\' : L'x';
    return path;
}
inline ::testing::AssertionResult SameText(const std::wstring& expected, const std::wstring& got) {
    if (_wcsicmp(expected.c_str(), got.c_str()) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << Narrow(got) << "\", expected \"" << Narrow(expected) << "\"";
}

}  // namespace orv::test::ut
