#include "Console.h"

#include <cstdio>
#include <set>

namespace orvsetup {

const wchar_t* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Installed: return L"installed";
    case Outcome::Kept: return L"kept";
    case Outcome::Restart: return L"at restart";
    case Outcome::Removed: return L"removed";
    case Outcome::Undone: return L"undone";
    case Outcome::Ok: return L"ok";
    case Outcome::Warning: return L"warning";
    case Outcome::Repaired: return L"repaired";
    case Outcome::Failed: return L"FAILED";
    }
    return L"?";
}

void Console::Line(const std::wstring& text) const {
    if (m_quiet) return;
    fwprintf(stdout, L"%ls\n", text.c_str());
    fflush(stdout);
}

void Console::Error(const std::wstring& text) const {
    fflush(stdout);
    fwprintf(stderr, L"orvsetup: %ls\n", text.c_str());
    fflush(stderr);
}

void Console::Progress(size_t index, size_t count, ItemKind kind, const std::wstring& name, Outcome outcome,
                       const std::wstring& detail) {
    ++m_counts[{static_cast<int>(kind), static_cast<int>(outcome)}];
    if (m_quiet) return;
    const int width = static_cast<int>(std::to_wstring(count).size());
    fwprintf(stdout, L"[%*u/%u] %-6ls %ls  %ls%ls%ls\n", width, static_cast<unsigned>(index),
             static_cast<unsigned>(count), ItemKindName(kind), name.c_str(), OutcomeName(outcome),
             detail.empty() ? L"" : L": ", detail.c_str());
    fflush(stdout);
}

int Console::Count(Outcome outcome) const {
    int n = 0;
    for (const auto& entry : m_counts)
        if (entry.first.second == static_cast<int>(outcome)) n += entry.second;
    return n;
}

void Console::Summary() const {
    if (m_quiet || m_counts.empty()) return;
    std::set<int> kinds, outcomes;
    for (const auto& entry : m_counts) {
        kinds.insert(entry.first.first);
        outcomes.insert(entry.first.second);
    }
    std::wstring head = L"  kind  ";
    for (int o : outcomes) {
        wchar_t cell[32];
        swprintf(cell, 32, L" %10ls", OutcomeName(static_cast<Outcome>(o)));
        head += cell;
    }
    fwprintf(stdout, L"\nSummary:\n%ls\n", head.c_str());
    for (int k : kinds) {
        std::wstring row = L"  ";
        wchar_t cell[32];
        swprintf(cell, 32, L"%-6ls", ItemKindName(static_cast<ItemKind>(k)));
        row += cell;
        for (int o : outcomes) {
            const auto it = m_counts.find({k, o});
            swprintf(cell, 32, L" %10d", it == m_counts.end() ? 0 : it->second);
            row += cell;
        }
        fwprintf(stdout, L"%ls\n", row.c_str());
    }
    fflush(stdout);
}

}  // namespace orvsetup
