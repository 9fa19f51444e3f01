// Stands in for a program the update starts: appends one line to the file named by
// ZELVANE_RECORD_LOG with its name, current folder, start and end times and arguments, after
// sleeping ZELVANE_RECORD_SLEEP_MS milliseconds. Exits with ZELVANE_RECORD_EXIT (default 0).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

// UTF-8 on every platform, so that folder names outside the ANSI code page survive on Windows.
std::string CurrentFolder() {
    const std::u8string folder = std::filesystem::current_path().u8string();
    return std::string(folder.begin(), folder.end());
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int EnvNumber(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long long start = NowMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(EnvNumber("ZELVANE_RECORD_SLEEP_MS")));
    const char* log = std::getenv("ZELVANE_RECORD_LOG");
    if (log) {
        std::string line = std::filesystem::path(argv[0]).filename().string() + "\t" +
                           CurrentFolder() + "\t" + std::to_string(start) + "\t" +
                           std::to_string(NowMs());
        for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
        std::ofstream(log, std::ios::app) << line << "\n";
    }
    return EnvNumber("ZELVANE_RECORD_EXIT");
}
