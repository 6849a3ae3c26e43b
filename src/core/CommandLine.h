// Splitting of an argument string into arguments, by the rules of the
// Microsoft C runtime (the ones a program's argv is built with). Portable.
#pragma once
#include <string>
#include <vector>

namespace orv {

// Splits text (the arguments only, without a program name) into arguments:
// - blanks and tabs outside quotes separate arguments; leading, trailing and
//   repeated separators make no empty arguments;
// - a double quote starts or ends a quoted run, in which blanks are kept; the
//   quote itself is dropped, and "" inside a quoted run is a literal quote
//   (the run goes on);
// - 2n backslashes before a quote give n backslashes and the quote acts as
//   above; 2n+1 backslashes give n backslashes and a literal quote;
//   backslashes not followed by a quote are kept as they are;
// - "" as a whole argument is an empty argument.
// Null text gives no arguments. May throw std::bad_alloc.
std::vector<std::wstring> SplitArguments(const wchar_t* text);

}  // namespace orv
