// The command line of a shortcut as setup programs write it:
//   target[ arguments][;icon file[;icon index]]
// A target with blanks is quoted. Portable.
#pragma once
#include <string>

namespace orv {

struct LinkCommandLine {
    // The command line proper (up to the first ';') without its arguments and
    // without enclosing quotes.
    std::wstring target;
    // What follows the first blank outside quotes in the command line proper.
    std::wstring arguments;
    // The text between the first and the second ';', as written (may be empty).
    std::wstring iconFile;
    // The text after the second ';', read by ReadIconIndex; 0 without one.
    int iconIndex = 0;
};

// Splits a shortcut command line. Null text is the empty command line.
// May throw std::bad_alloc.
LinkCommandLine SplitCommandLine(const wchar_t* text);

// A signed decimal number the way the C runtime's _wtoi reads it: leading
// white space skipped, an optional sign, digits up to the first non-digit; no
// digits give 0. Values out of range are clamped to INT_MIN / INT_MAX.
int ReadIconIndex(const wchar_t* text);

// Removes one double quote at the start and one at the end, each when present.
void UnquoteIconPath(std::wstring& path);

}  // namespace orv
