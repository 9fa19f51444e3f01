#pragma once

#include <string>
#include <vector>

namespace zelvane::win32 {

// A command line that the C runtime of the started program splits back into exactly these
// words: the program path, then each argument, quoted where needed.
std::wstring CommandLine(const std::wstring& program, const std::vector<std::string>& arguments);

// One word of a command line, quoted when it is empty or holds blanks or double quotes.
std::wstring QuotedArgument(const std::wstring& word);

}  // namespace zelvane::win32
