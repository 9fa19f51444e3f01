// regsvr32.exe for Linux: Linux has no registration tool, so this one stands in for it. It checks
// that the control file can be read and tells the result unless it is asked to be silent: on
// standard output, and in a message box when there is a display. The box is shown by
// regsvr32-box beside it, so that a silent registration does not pay for loading Qt.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "texts.h"

extern char** environ;

namespace {

namespace text = zelvane::tools::text;

struct Request {
    bool silent = false;
    std::string controlFile;
};

bool ParseArguments(int argc, char** argv, Request& request) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "/s" || argument == "/S") {
            request.silent = true;
        } else if (request.controlFile.empty() && !argument.empty()) {
            request.controlFile = argument;
        } else {
            return false;
        }
    }
    return !request.controlFile.empty();
}

bool CanRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char byte = 0;
    const bool readable = ::read(fd, &byte, 1) >= 0;
    ::close(fd);
    return readable;
}

bool HaveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name); value && *value) return true;
    }
    return false;
}

void ShowResultBox(const std::string& text, bool succeeded) {
    std::string box =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "regsvr32-box";
    std::string kind = succeeded ? "information" : "warning";
    std::string message = text;
    char* argv[] = {box.data(), kind.data(), message.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, box.c_str(), nullptr, nullptr, argv, environ) == 0) {
        ::waitpid(pid, nullptr, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Request request;
    if (!ParseArguments(argc, argv, request)) {
        std::cerr << text::kRegsvrUsage << "\n";
        return 2;
    }
    const bool readable = CanRead(request.controlFile);
    if (!request.silent) {
        const std::string result = readable ? text::RegisteredMessage(request.controlFile)
                                            : text::ModuleUnreadableMessage(request.controlFile);
        std::cout << result << std::endl;
        if (HaveDisplay()) ShowResultBox(result, readable);
    }
    return readable ? 0 : 1;
}
