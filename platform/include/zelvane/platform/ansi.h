#pragma once

#include <string>
#include <string_view>

namespace zelvane {

// Text in the system's ANSI code page, as UTF-8: Windows' own code page there, Windows-1252
// elsewhere, so that a list saved by an old Windows tool reads alike on both.
std::string AnsiToUtf8(std::string_view text);

}  // namespace zelvane
