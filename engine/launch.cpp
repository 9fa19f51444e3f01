#include "zelvane/engine/launch.h"

#include <utility>
#include <vector>

namespace zelvane {

void WaitOnProgram(Processes& processes, std::int32_t idProg) {
    const auto process = processes.Open(idProg);
    if (!process) return;
    process->WaitForExit(kWaitBound);
}

std::string RegistrationCommandLine(const std::string& controlFile, bool silent) {
    return std::string(kRegistrationTool) + (silent ? kSilentSwitch : "") + '"' + controlFile + '"';
}

ProgramLaunch SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    ProgramLaunch launch;
    if (words.empty()) return launch;
    launch.program = words.front();
    launch.arguments.assign(words.begin() + 1, words.end());
    return launch;
}

}  // namespace zelvane
