// zelvane-pack: makes an update package from a folder of product files, and checks a package.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "zelvane/engine/copy.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitClean = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "usage: zelvane-pack build PRODUCT_FOLDER PACKAGE_FOLDER\n"
    "       zelvane-pack check PACKAGE_FOLDER\n";

struct Entry {
    std::string destName;  // Windows spelling, relative to the install folder
    fs::path product;
};

std::string WindowsName(const fs::path& relative) {
    std::string name = relative.generic_string();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

std::vector<Entry> CollectProductFiles(const fs::path& productFolder) {
    std::vector<Entry> entries;
    for (const auto& item : fs::recursive_directory_iterator(productFolder)) {
        if (!item.is_regular_file()) continue;
        const std::string name = WindowsName(fs::relative(item.path(), productFolder));
        if (name.find_first_of("\"\r\n") != std::string::npos) {
            throw std::runtime_error("a package list cannot carry the name \"" + name +
                                     "\": it holds a double quote or a line break");
        }
        if (const std::string reason = zelvane::UnsafeNameReason(name); !reason.empty()) {
            throw std::runtime_error("cannot carry the name \"" + name + "\": " + reason);
        }
        entries.push_back({name, item.path()});
    }
    if (entries.empty()) throw std::runtime_error("the product folder holds no files");
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.destName < b.destName; });
    return entries;
}

void ScrambleFile(const fs::path& from, const fs::path& to) {
    std::ifstream input(from, std::ios::binary);
    std::ofstream output(to, std::ios::binary | std::ios::trunc);
    if (!input || !output)
        throw std::runtime_error("cannot copy " + from.string() + " to " + to.string());
    std::vector<char> block(1 << 20);
    while (input.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           input.gcount() > 0) {
        const auto got = static_cast<std::size_t>(input.gcount());
        zelvane::Unscramble(std::as_writable_bytes(std::span(block.data(), got)));
        output.write(block.data(), static_cast<std::streamsize>(got));
    }
    if (input.bad() || !output.flush()) {
        throw std::runtime_error("cannot copy " + from.string() + " to " + to.string());
    }
}

std::string PackageFileName(std::size_t index) {
    std::string digits = std::to_string(index);
    return "file" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits + ".bin";
}

int Build(const fs::path& productFolder, const fs::path& packageFolder) {
    const std::vector<Entry> entries = CollectProductFiles(productFolder);
    fs::create_directories(packageFolder);
    std::ofstream list(packageFolder / zelvane::kPackageListName,
                       std::ios::binary | std::ios::trunc);
    list << entries.size() - 1 << "\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string sourceName = PackageFileName(i);
        ScrambleFile(entries[i].product, packageFolder / sourceName);
        list << '"' << entries[i].destName << "\",\"" << sourceName << "\"\r\n";
    }
    if (!list.flush()) throw std::runtime_error("cannot write the package list");
    std::cout << "Packed " << entries.size() << " files into " << packageFolder.string() << "\n";
    return kExitClean;
}

int Check(const fs::path& packageFolder) {
    zelvane::FileSystem& files = zelvane::SystemFileSystem();
    const fs::path listPath = packageFolder / zelvane::kPackageListName;
    zelvane::PackageListReader list(zelvane::ReadPackageListText(files, listPath.string()));
    const std::int64_t lastIndex = zelvane::ReadLastIndex(list);
    int problems = 0;
    for (std::int64_t index = 0; index <= lastIndex; ++index) {
        std::string destName;
        std::string sourceName;
        try {
            destName = list.ReadText();
            sourceName = list.ReadText();
        } catch (const zelvane::PackageListEnded&) {
            std::cout << "entries " << index << " to " << lastIndex << ": missing from the list\n";
            return kExitProblems;
        }
        std::cout << index << "\t" << destName << "\t" << sourceName << "\n";
        const std::string reason = zelvane::UnsafeNameReason(destName);
        if (!reason.empty()) {
            std::cout << "  unsafe name: " << reason << "\n";
            ++problems;
        }
        const auto source = packageFolder / files.NativePath(sourceName);
        if (!files.IsOrdinaryFile(source.string())) {
            std::cout << "  missing package file: " << source.string() << "\n";
            ++problems;
        }
    }
    std::cout << lastIndex + 1 << " entries, " << problems << " problems\n";
    return problems == 0 ? kExitClean : kExitProblems;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "build") return Build(args[1], args[2]);
        if (args.size() == 2 && args[0] == "check") return Check(args[1]);
    } catch (const std::exception& error) {
        std::cerr << "zelvane-pack: " << error.what() << "\n";
        return kExitProblems;
    }
    std::cerr << kUsage;
    return kExitUsage;
}
