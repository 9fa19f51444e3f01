// The command-line programs' entry point on Windows. The arguments are taken in UTF-16, as the
// system holds them: the ANSI ones would lose every character of a name outside the ANSI code page.
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "texts.h"
#include "zelvane/platform/startup.h"
#include "zelvane/win32/text.h"

int ToolMain(int argc, char** argv);  // each program's own

int wmain(int argc, wchar_t** wideArgv) {
    try {
        zelvane::PrepareProcess();
    } catch (const std::system_error& error) {
        std::cerr << zelvane::tools::text::kCannotStartPrefix << error.what() << std::endl;
        return 3;  // nothing was done
    }
    std::vector<std::string> words;
    words.reserve(static_cast<std::size_t>(argc));
    try {
        for (int i = 0; i < argc; ++i) words.push_back(zelvane::win32::Utf8(wideArgv[i]));
    } catch (const std::invalid_argument&) {
        words.resize(1);  // an argument that is not text: the usage is shown
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return ToolMain(static_cast<int>(words.size()), argv.data());
}
