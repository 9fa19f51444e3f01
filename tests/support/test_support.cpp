#include "test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "zelvane/engine/update.h"

namespace zelvane::test {

TempFolder::TempFolder()
    : path_(fs::temp_directory_path() /
            ("zelvane-test-" + std::to_string(std::random_device()()))) {
    if (!fs::create_directory(path_)) throw std::runtime_error("cannot make " + path_.string());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& item : fs::recursive_directory_iterator(path_, ignored)) {
        fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

ScopedCurrentFolder::ScopedCurrentFolder(const fs::path& folder) : old_(fs::current_path()) {
    fs::current_path(folder);
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
}

std::string PathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void WriteFile(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Scramble(std::string_view content) {
    std::string scrambled(content);
    for (auto& c : scrambled) c = static_cast<char>(c ^ 0x5A);
    return scrambled;
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const auto status = fs::symlink_status(item.path());
        std::string state = std::to_string(static_cast<int>(status.permissions()));
        if (fs::is_regular_file(status)) state += " file " + ReadFile(item.path());
        if (fs::is_directory(status)) state += " folder";
        if (fs::is_symlink(status)) state += " link " + fs::read_symlink(item.path()).string();
        tree[fs::relative(item.path(), root).generic_string()] = state;
    }
    return tree;
}

void MakeInstall(const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* marker : kMarkerFiles) WriteFile(folder / marker, "marker");
    WriteFile(folder / kControlFile, "control");
    for (const char* program : {kFirstProgram, kSecondProgram}) {
        fs::copy_file(ZELVANE_RECORD_PROGRAM, folder / program,
                      fs::copy_options::overwrite_existing);
    }
}

std::vector<Record> ReadRecords(const fs::path& log) {
    std::vector<Record> records;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() < 2) continue;
        records.push_back({fields[0], fields[1], {fields.begin() + 2, fields.end()}});
    }
    return records;
}

}  // namespace zelvane::test
