#include "zelvane/win32/command_line.h"

#include "zelvane/win32/text.h"

namespace zelvane::win32 {

std::wstring QuotedArgument(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a double quote are escaped, and so is the quote itself.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Backslashes before the closing quote are doubled so that they do not escape it.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring CommandLine(const std::wstring& program, const std::vector<std::string>& arguments) {
    // A program path cannot hold double quotes, so quoting it needs no escapes.
    std::wstring line = L"\"" + program + L"\"";
    for (const auto& argument : arguments) line += L" " + QuotedArgument(Wide(argument));
    return line;
}

}  // namespace zelvane::win32
