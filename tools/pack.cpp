// zelvane-pack: makes an update package from a folder of product files, signs it, and checks one.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "texts.h"
#include "zelvane/engine/copy.h"
#include "zelvane/engine/manifest.h"
#include "zelvane/engine/package_check.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/paths.h"
#include "zelvane/platform/crypto.h"
#include "zelvane/platform/signing.h"

namespace fs = std::filesystem;
namespace text = zelvane::tools::text;

namespace {

using zelvane::kManifestName;
using zelvane::kPackageListName;
using zelvane::kSignatureName;
using zelvane::ManifestEntry;

constexpr int kExitClean = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 64;

constexpr std::size_t kBlockSize = 1 << 20;

std::span<const std::byte> Bytes(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    std::string content{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
    if (!input.is_open() || input.bad()) {
        throw std::runtime_error(text::CannotReadMessage(path.string()));
    }
    return content;
}

std::optional<std::string> ReadIfPresent(const fs::path& path) {
    if (!fs::exists(path)) return std::nullopt;
    return ReadWholeFile(path);
}

void WriteWholeFile(const fs::path& path, std::span<const std::byte> bytes) {
    std::ofstream output(path, std::ios::binary | std::ios::trunc);
    output.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    if (!output.flush()) throw std::runtime_error(text::CannotWriteMessage(path.string()));
}

// Calls use(block) for every block of the file, in order.
template <typename Use>
void ReadBlocks(const fs::path& path, Use use) {
    std::ifstream input(path, std::ios::binary);
    if (!input) throw std::runtime_error(text::CannotReadMessage(path.string()));
    std::vector<char> block(kBlockSize);
    while (input.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           input.gcount() > 0) {
        use(std::as_writable_bytes(
            std::span(block.data(), static_cast<std::size_t>(input.gcount()))));
    }
    if (input.bad()) throw std::runtime_error(text::CannotReadMessage(path.string()));
}

// The manifest entry of bytes that arrive in pieces.
class EntryHasher {
  public:
    void Add(std::span<const std::byte> bytes) {
        sha256_->Update(bytes);
        size_ += bytes.size();
    }
    ManifestEntry Finish(std::string name) { return {sha256_->Finish(), size_, std::move(name)}; }

  private:
    std::unique_ptr<zelvane::Sha256> sha256_ = zelvane::NewSha256();
    std::uint64_t size_ = 0;
};

ManifestEntry EntryOfFile(const fs::path& path, std::string name) {
    EntryHasher hasher;
    ReadBlocks(path, [&hasher](std::span<const std::byte> bytes) { hasher.Add(bytes); });
    return hasher.Finish(std::move(name));
}

ManifestEntry EntryOfText(std::string_view text, std::string name) {
    EntryHasher hasher;
    hasher.Add(Bytes(text));
    return hasher.Finish(std::move(name));
}

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
    std::error_code error;
    fs::recursive_directory_iterator items(productFolder, error);
    if (error) {
        const std::string folder = productFolder.string();
        const std::string reason = error.message();
        throw std::runtime_error(text::ProductFolderUnreadableMessage(folder, reason));
    }
    for (const auto& item : items) {
        if (!item.is_regular_file()) continue;
        const std::string name = WindowsName(fs::relative(item.path(), productFolder));
        if (name.find_first_of("\"\r\n") != std::string::npos) {
            throw std::runtime_error(text::NameBreaksListMessage(name));
        }
        if (const std::string reason = zelvane::UnsafeNameReason(name); !reason.empty()) {
            throw std::runtime_error(text::UnsafeNameMessage(name, reason));
        }
        entries.push_back({name, item.path()});
    }
    if (entries.empty()) throw std::runtime_error(text::kProductFolderEmpty);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.destName < b.destName; });
    return entries;
}

// Writes the product file scrambled into the package, hashing what it writes on the way.
ManifestEntry ScrambleFile(const fs::path& from, const fs::path& to, std::string name) {
    std::ofstream output(to, std::ios::binary | std::ios::trunc);
    if (!output) throw std::runtime_error(text::CannotCreateMessage(to.string()));
    EntryHasher hasher;
    ReadBlocks(from, [&](std::span<std::byte> bytes) {
        zelvane::Unscramble(bytes);
        hasher.Add(bytes);
        output.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    });
    if (!output.flush()) throw std::runtime_error(text::CannotWriteMessage(to.string()));
    return hasher.Finish(std::move(name));
}

std::string PackageFileName(std::size_t index) {
    std::string digits = std::to_string(index);
    return "file" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits + ".bin";
}

struct ListEntry {
    std::string destName;
    std::string sourceName;
};

struct PackageList {
    std::string text;
    std::int64_t lastIndex = 0;
    std::vector<ListEntry> entries;  // fewer than lastIndex + 1 when the list ends too soon
    bool hasUnreadFields = false;    // after the last counted entry
};

// True when a field that is not empty follows; blank lines at the end do no harm.
bool HasMoreFields(zelvane::PackageListReader& reader) {
    try {
        for (;;) {
            if (!reader.ReadText().empty()) return true;
        }
    } catch (const zelvane::PackageListEnded&) {
        return false;
    }
}

PackageList ReadPackageList(const fs::path& packageFolder) {
    const fs::path path = packageFolder / kPackageListName;
    PackageList list;
    try {
        list.text = zelvane::ReadPackageListText(zelvane::SystemFileSystem(), path.string());
        zelvane::PackageListReader reader(list.text);
        list.lastIndex = zelvane::ReadLastIndex(reader);
        while (static_cast<std::int64_t>(list.entries.size()) <= list.lastIndex) {
            std::string destName = reader.ReadText();
            list.entries.push_back({std::move(destName), reader.ReadText()});
        }
        list.hasUnreadFields = HasMoreFields(reader);
    } catch (const zelvane::PackageListEnded&) {
        // The entries read so far are the list; Check names the missing ones.
    } catch (const std::exception& error) {
        const std::string shownPath = path.string();
        throw std::runtime_error(text::FileUnusableMessage(shownPath, error.what()));
    }
    return list;
}

// A package folder may be missing, empty, or hold an earlier package and nothing else, which a new
// one replaces.
void CheckPackageFolder(const fs::path& folder) {
    if (!fs::exists(folder) || fs::is_empty(folder)) return;
    if (!fs::exists(folder / kPackageListName)) {
        throw std::runtime_error(text::NotAPackageFolderMessage(folder.string()));
    }
    std::set<std::string> earlier{kPackageListName, kManifestName, kSignatureName};
    for (const ListEntry& entry : ReadPackageList(folder).entries) earlier.insert(entry.sourceName);
    for (const auto& item : fs::directory_iterator(folder)) {
        if (!item.is_regular_file() || !earlier.contains(item.path().filename().string())) {
            const std::string shownFolder = folder.string();
            const std::string fileName = item.path().filename().string();
            throw std::runtime_error(text::ForeignFileMessage(shownFolder, fileName));
        }
    }
}

// A folder beside the package folder, named after it.
fs::path Beside(const fs::path& folder, const char* suffix) {
    fs::path whole = fs::absolute(folder).lexically_normal();
    if (!whole.has_filename()) whole = whole.parent_path();
    return whole.parent_path() / (whole.filename().string() + suffix);
}

// The new package takes the earlier one's place only once it is complete, so that a failure on
// the way leaves the earlier package whole.
void PutInPlace(const fs::path& built, const fs::path& packageFolder) {
    if (fs::exists(packageFolder)) {
        const fs::path earlier = Beside(packageFolder, ".zelvane-earlier");
        fs::remove_all(earlier);
        fs::rename(packageFolder, earlier);
        fs::rename(built, packageFolder);
        fs::remove_all(earlier);
        return;
    }
    fs::create_directories(Beside(packageFolder, "").parent_path());
    fs::rename(built, packageFolder);
}

void WritePackage(const std::vector<Entry>& entries, const fs::path& packageFolder,
                  const std::optional<zelvane::Signer>& signer) {
    std::vector<ManifestEntry> manifest;
    std::string list = std::to_string(entries.size() - 1) + "\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string sourceName = PackageFileName(i);
        manifest.push_back(
            ScrambleFile(entries[i].product, packageFolder / sourceName, sourceName));
        list += '"' + entries[i].destName + "\",\"" + sourceName + "\"\r\n";
    }
    WriteWholeFile(packageFolder / kPackageListName, Bytes(list));
    manifest.push_back(EntryOfText(list, kPackageListName));
    const std::string manifestText = zelvane::ManifestText(manifest);
    WriteWholeFile(packageFolder / kManifestName, Bytes(manifestText));
    if (signer) WriteWholeFile(packageFolder / kSignatureName, signer->Sign(Bytes(manifestText)));
}

int Build(const fs::path& productFolder, const fs::path& packageFolder,
          const std::optional<fs::path>& privateKeyFile) {
    // The key is read first, so that a key that cannot sign leaves the package folder alone.
    std::optional<zelvane::Signer> signer;
    if (privateKeyFile) signer.emplace(*privateKeyFile);
    const std::vector<Entry> entries = CollectProductFiles(productFolder);
    CheckPackageFolder(packageFolder);
    const fs::path building = Beside(packageFolder, ".zelvane-building");
    fs::remove_all(building);
    fs::create_directories(building);
    try {
        WritePackage(entries, building, signer);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(building, ignored);
        throw;
    }
    PutInPlace(building, packageFolder);
    std::cout << text::PackedMessage(entries.size(), packageFolder.string(), signer.has_value())
              << "\n";
    return kExitClean;
}

// Tells every problem and counts them.
class Report {
  public:
    void Problem(const std::string& problem) {
        std::cout << "  " << zelvane::Visible(problem) << "\n";
        ++problems_;
    }
    int Problems() const { return problems_; }

  private:
    int problems_ = 0;
};

void CheckSignature(const fs::path& folder, const std::optional<std::string>& manifestText,
                    const fs::path& publicKeyFile, Report& report) {
    const std::string publicKey = ReadWholeFile(publicKeyFile);
    try {
        zelvane::CheckVendorKey(publicKey);
    } catch (const std::exception& error) {
        const std::string shownKeyFile = publicKeyFile.string();
        throw std::runtime_error(text::PublicKeyUnusableMessage(shownKeyFile, error.what()));
    }
    const std::optional<std::string> signature = ReadIfPresent(folder / kSignatureName);
    if (!manifestText) return report.Problem(text::FileMissingProblem(kManifestName));
    if (!signature) return report.Problem(text::FileMissingProblem(kSignatureName));
    if (!zelvane::VerifySignature(publicKey, Bytes(*manifestText), Bytes(*signature))) {
        return report.Problem(text::SignatureMismatchProblem(kSignatureName, kManifestName));
    }
    std::cout << text::SignedByMessage(kManifestName, publicKeyFile.string()) << "\n";
}

std::optional<zelvane::Manifest> ReadManifest(const std::optional<std::string>& text,
                                              Report& report) {
    if (!text) {
        std::cout << text::NoManifestMessage(kManifestName) << "\n";
        return std::nullopt;
    }
    try {
        return zelvane::Manifest(*text);
    } catch (const std::exception& error) {
        report.Problem(error.what());
        return std::nullopt;
    }
}

void CheckAgainstManifest(const zelvane::Manifest& manifest, const ManifestEntry& actual,
                          Report& report) {
    const ManifestEntry* listed = manifest.Find(actual.name);
    const std::string& name = actual.name;
    if (listed == nullptr) {
        report.Problem(text::NotInManifestProblem(name, kManifestName));
    } else if (listed->size != actual.size) {
        report.Problem(text::SizeMismatchProblem(name, kManifestName, actual.size, listed->size));
    } else if (listed->digest != actual.digest) {
        report.Problem(text::DigestMismatchProblem(name, kManifestName));
    }
}

void CheckEntries(const fs::path& folder, const PackageList& list,
                  const std::optional<zelvane::Manifest>& manifest, Report& report) {
    for (std::size_t index = 0; index < list.entries.size(); ++index) {
        const auto& [destName, sourceName] = list.entries[index];
        std::cout << index << "\t" << zelvane::Visible(destName) << "\t"
                  << zelvane::Visible(sourceName) << "\n";
        if (const std::string reason = zelvane::UnsafeNameReason(destName); !reason.empty()) {
            report.Problem(text::UnsafeNameProblem(reason));
        }
        const fs::path source = folder / zelvane::SystemFileSystem().NativePath(sourceName);
        if (!fs::is_regular_file(source)) {
            report.Problem(text::MissingPackageFileProblem(source.string()));
        } else if (manifest) {
            CheckAgainstManifest(*manifest, EntryOfFile(source, sourceName), report);
        }
    }
    if (static_cast<std::int64_t>(list.entries.size()) <= list.lastIndex) {
        report.Problem(text::MissingEntriesProblem(list.entries.size(), list.lastIndex));
    }
}

int Check(const fs::path& folder, const std::optional<fs::path>& publicKeyFile) {
    Report report;
    const std::optional<std::string> manifestText = ReadIfPresent(folder / kManifestName);
    if (publicKeyFile) CheckSignature(folder, manifestText, *publicKeyFile, report);
    const std::optional<zelvane::Manifest> manifest = ReadManifest(manifestText, report);
    const PackageList list = ReadPackageList(folder);
    if (manifest) CheckAgainstManifest(*manifest, EntryOfText(list.text, kPackageListName), report);
    CheckEntries(folder, list, manifest, report);
    if (list.hasUnreadFields) {
        std::cout << text::UnreadLinesWarning(kPackageListName, list.lastIndex) << "\n";
    }
    std::cout << text::CheckSummary(list.lastIndex + 1, report.Problems()) << "\n";
    return report.Problems() == 0 ? kExitClean : kExitProblems;
}

int Keygen(const fs::path& privateKeyFile, const fs::path& publicKeyFile) {
    zelvane::GenerateKeyPair(privateKeyFile, publicKeyFile);
    const std::string privateKeyPath = privateKeyFile.string();
    const std::string publicKeyPath = publicKeyFile.string();
    std::cout << text::KeysMadeMessage(privateKeyPath, publicKeyPath) << "\n";
    return kExitClean;
}

struct Arguments {
    std::string command;
    std::optional<std::string> key;
    std::vector<std::string> operands;
};

struct CommandForm {
    std::string_view command;
    std::string_view keyOption;  // empty when the command takes no key
    std::size_t operands;
};

constexpr std::array kCommandForms{
    CommandForm{"keygen", "", 2},
    CommandForm{"build", "--key", 2},
    CommandForm{"check", "--public-key", 1},
};

// Nothing when the arguments fit no command's form.
std::optional<Arguments> ParseArguments(const std::vector<std::string>& args) {
    if (args.empty()) return std::nullopt;
    const auto* form = std::ranges::find(kCommandForms, args[0], &CommandForm::command);
    if (form == kCommandForms.end()) return std::nullopt;
    Arguments parsed{args[0], std::nullopt, {}};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const bool isKeyOption = !form->keyOption.empty() && args[i] == form->keyOption;
        if (isKeyOption && !parsed.key && i + 1 < args.size()) {
            parsed.key = args[++i];
        } else if (args[i].starts_with('-')) {
            return std::nullopt;
        } else {
            parsed.operands.push_back(args[i]);
        }
    }
    if (parsed.operands.size() != form->operands) return std::nullopt;
    return parsed;
}

int Run(const Arguments& arguments) {
    const std::vector<std::string>& operands = arguments.operands;
    std::optional<fs::path> key;
    if (arguments.key) key = *arguments.key;
    if (arguments.command == "keygen") return Keygen(operands[0], operands[1]);
    if (arguments.command == "build") return Build(operands[0], operands[1], key);
    return Check(operands[0], key);
}

}  // namespace

// Called by this platform's entry point with the arguments in UTF-8.
int ToolMain(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::ranges::any_of(
            args, [](const std::string& arg) { return arg == "--help" || arg == "-h"; })) {
        std::cout << text::kPackUsage;
        return kExitClean;
    }
    const std::optional<Arguments> arguments = ParseArguments(args);
    if (!arguments) {
        std::cerr << text::kPackUsage;
        return kExitUsage;
    }
    try {
        return Run(*arguments);
    } catch (const zelvane::SigningUnavailable& error) {
        std::cerr << text::kPackProblemPrefix << zelvane::Visible(error.what()) << "\n";
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << text::kPackProblemPrefix << zelvane::Visible(error.what()) << "\n";
        return kExitProblems;
    }
}
