// What the setup program tells its user: one progress line per item,
//   [ 7/23] file   bin\app.exe  installed
// a summary table, and the result with its exit code. --quiet keeps only
// errors (on the error stream).
#pragma once
#include <map>
#include <string>
#include <utility>

#include "core/Manifest.h"

namespace orvsetup {

enum class Outcome { Installed, Kept, Restart, Removed, Undone, Ok, Warning, Repaired, Failed };

const wchar_t* OutcomeName(Outcome outcome);

class Console {
public:
    explicit Console(bool quiet) : m_quiet(quiet) {}

    void Line(const std::wstring& text) const;   // information
    void Error(const std::wstring& text) const;  // always shown
    void Progress(size_t index, size_t count, ItemKind kind, const std::wstring& name, Outcome outcome,
                  const std::wstring& detail = std::wstring());
    // The counts so far by kind and outcome, as a table.
    void Summary() const;
    void ResetCounts() { m_counts.clear(); }
    int Count(Outcome outcome) const;

private:
    bool m_quiet;
    std::map<std::pair<int, int>, int> m_counts;  // (kind, outcome) -> items
};

}  // namespace orvsetup
