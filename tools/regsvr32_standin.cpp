// regsvr32.exe for Linux: Linux has no registration tool, so this one stands in for it. It checks
// that the control file can be read and tells the result unless it is asked to be silent.
#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    Request request;
    if (!ParseArguments(argc, argv, request)) {
        std::cerr << "usage: regsvr32.exe [/s] CONTROL_FILE\n";
        return 2;
    }
    const bool readable = CanRead(request.controlFile);
    if (!request.silent) {
        if (readable) {
            std::cout << "DllRegisterServer in " << request.controlFile << " succeeded.\n";
        } else {
            std::cout << "The module \"" << request.controlFile
                      << "\" failed to load: it is missing or cannot be read.\n";
        }
    }
    return readable ? 0 : 1;
}
