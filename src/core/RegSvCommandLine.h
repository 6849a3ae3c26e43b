// The command line of the registration program orvregsv.exe. Portable.
//
//   orvregsv.exe <server path> [/u] [/s] [/w] [/c] [/n] [/i[:<command>]]
//
// The kernel passes the server path without quotation marks, so a path with
// blanks arrives in pieces: the path is everything up to the first switch (a
// blank followed by "/"), blanks inside it kept, blanks around it dropped. A
// path in quotation marks is taken up to the closing mark. Switches may also
// stand before the path; letter case does not matter. A command of "/i" may
// be quoted ("/i:"a b"") and then keeps its blanks.
#pragma once
#include <string>

namespace orv {

struct RegSvArguments {
    std::wstring path;
    bool unregister = false;      // /u
    bool silent = false;          // /s
    bool wait = false;            // /w
    bool console = false;         // /c
    bool skipRegistration = false;  // /n
    bool install = false;         // /i
    std::wstring installCommand;  // the text after "/i:"
    // Empty when the command line is usable; otherwise what is wrong with it.
    std::wstring error;
};

// The text after the program name of a whole command line (the name may be
// quoted). Null gives "".
const wchar_t* SkipProgramName(const wchar_t* commandLine);

// Parses the arguments (the text after the program name). May throw std::bad_alloc.
RegSvArguments ParseRegSvArguments(const wchar_t* arguments);

}  // namespace orv
