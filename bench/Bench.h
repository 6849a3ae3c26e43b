// Helpers of the benchmark program: timing, medians, phase marks for the
// request count, child processes, folders.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace orvbench {

// Milliseconds from the performance counter.
double NowMs();
double Median(std::vector<double> values);

// In the request-count run, every phase begins with a named event whose name
// the wineserver trace shows ("orvbench.phase.<name>"); bench/run counts the
// requests between two marks. Outside that run a mark costs nothing.
void EnableMarks(bool enabled);
void Mark(LPCWSTR phase);

// Runs a command line and waits for it; the exit code, or ~0u when it could not start.
DWORD RunAndWait(const std::wstring& commandLine);

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
bool Exists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
std::wstring SelfPath();

// SharedDLLs: a key of `values` values, read by a fresh process (the cache
// lives as long as the process). Results of one child run.
struct SharedDllsFigures {
    double loadMs = 0;        // the first look-up: the cache is filled
    double hitUs = 0;         // per look-up of a path that has a value (some under a short-name alias)
    double missUs = 0;        // per look-up of a path without a value
    size_t entries = 0;       // what the load found
    size_t wrong = 0;         // look-ups with an unexpected answer
};
// Writes the values (the bench's own names) and removes them again.
bool PrepareSharedDlls(const std::wstring& work, size_t values);
void RemoveSharedDlls();
// The child's side: "--shared-child <work> <values> <result file>".
int SharedDllsChild(const std::wstring& work, size_t values, const std::wstring& resultFile);
bool ReadSharedDllsResult(const std::wstring& resultFile, SharedDllsFigures* figures);

// The dependency walk over modules x exports, in milliseconds; negative when
// this tree has no dependency walk.
double DependencyWalkMs(const std::wstring& work, size_t modules, size_t exports, size_t* unresolved);

}  // namespace orvbench
