// Stands in for a program the update starts: appends one line to the file named by
// ZELVANE_RECORD_LOG with its name, current folder and arguments, after sleeping
// ZELVANE_RECORD_SLEEP_MS milliseconds. Exits with ZELVANE_RECORD_EXIT (default 0).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

int EnvNumber(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::this_thread::sleep_for(std::chrono::milliseconds(EnvNumber("ZELVANE_RECORD_SLEEP_MS")));
    try {
        if (const char* log = std::getenv("ZELVANE_RECORD_LOG")) {
            // UTF-8 on every platform, so that folder names outside the ANSI code page survive.
            const std::u8string folder = std::filesystem::current_path().u8string();
            std::string line = std::filesystem::path(argv[0]).filename().string() + "\t" +
                               std::string(folder.begin(), folder.end());
            for (int i = 1; i < argc; ++i) line.append("\t").append(argv[i]);
            std::ofstream(log, std::ios::app) << line << "\n";
        }
    } catch (const std::exception&) {
        return 125;  // a test reading the log then finds the record missing
    }
    return EnvNumber("ZELVANE_RECORD_EXIT");
}
