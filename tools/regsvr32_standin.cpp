// regsvr32.exe for Linux: Linux has no registration tool, so this one stands in for it. It checks
// that the control file can be read and tells the result unless it is asked to be silent: on
// standard output, and in a message box of its own when there is a display.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
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

bool HaveDisplay() {
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
           std::getenv("QT_QPA_PLATFORM");
}

void ShowResultBox(int argc, char** argv, const std::string& text, bool succeeded) {
    QApplication application(argc, argv);
    QMessageBox box(succeeded ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("RegSvr32"), QString::fromStdString(text));
    box.exec();
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
        const std::string result =
            readable ? "DllRegisterServer in " + request.controlFile + " succeeded."
                     : "The module \"" + request.controlFile +
                           "\" failed to load: it is missing or cannot be read.";
        std::cout << result << std::endl;
        if (HaveDisplay()) ShowResultBox(argc, argv, result, readable);
    }
    return readable ? 0 : 1;
}
