// The dependency walk over synthesized module images: what it reports, that
// it ends on cycles and self-imports, and that each table is read once.
#include "core/DependencyWalk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ModuleBuilder.h"

namespace {

using orvtest::Build;
using orvtest::Bytes;
using orvtest::Files;
using orvtest::Module;

TEST(DependencyWalk, ReportsWhatIsMissingOnceAndEnds) {
    const Module exportsF{{}, {"f", "g"}};
    struct Row {
        const char* label;
        std::map<std::wstring, Bytes> files;  // the walk starts at c:\app\a.dll
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
    } rows[] = {
        {"cycle and self-import, everything exported",
         {{L"c:\\app\\a.dll", Build({{{"b.dll", {"f"}}, {"a.dll", {"g"}}}, {"g"}})},
          {L"c:\\app\\b.dll", Build({{{"a.dll", {"g"}}, {"b.dll", {"f"}}}, {"f"}})}},
         {}, {}},
        {"a missing library imported by two modules is reported once",
         {{L"c:\\app\\a.dll", Build({{{"x.dll", {"f"}}, {"b.dll", {"f"}}}, {}})},
          {L"c:\\sys\\b.dll", Build({{{"X.DLL", {"g"}}}, {"f"}})}},
         {L"x.dll"}, {}},
        {"functions by ordinal against exports without names",
         {{L"c:\\app\\a.dll", Build({{{"o.dll", {"#6", "#5", "#9"}}}, {}})},
          {L"c:\\sys\\o.dll", Build({{}, {}, 2, 5})}},
         {}, {{{L"9", L"c:\\sys\\o.dll"}, L"0.0.0.0"}}},
        {"a library of the other bitness lacks every function, with its version",
         {{L"c:\\app\\a.dll", Build({{{"v.dll", {"f", "#2"}}}, {}})},
          {L"c:\\sys\\v.dll", Build({{}, {"f"}, 2, 1, true})}},
         {}, {{{L"2", L"c:\\sys\\v.dll"}, L"5.1.0.0"}, {{L"f", L"c:\\sys\\v.dll"}, L"5.1.0.0"}}},
        {"a library that is no image; the server's own folder is searched first",
         {{L"c:\\app\\a.dll", Build({{{"m.dll", {"f"}}, {"b.dll", {"g"}}}, {}})},
          {L"c:\\app\\m.dll", Bytes(600, 0xFF)}, {L"c:\\sys\\m.dll", Build(exportsF)},
          {L"c:\\app\\b.dll", Build(exportsF)}},
         {}, {{{L"f", L"C:\\App\\m.dll"}, L"0.0.0.0"}}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.label);
        Files machine;
        machine.files = row.files;
        machine.versions[L"c:\\sys\\v.dll"] = L"5.1.0.0";
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
        EXPECT_EQ(orv::CheckModuleDependencies(L"C:\\App\\A.dll", machine, modules, exports),
                  row.modules.empty() && row.exports.empty());
        EXPECT_EQ(modules, row.modules);
        EXPECT_EQ(exports, row.exports);
        for (const auto& reads : {machine.importReads, machine.exportReads})
            for (const auto& [path, count] : reads) EXPECT_EQ(count, 1) << std::string(path.begin(), path.end());
    }
}

}  // namespace
