#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Every text of the command-line tools that a person may read, in one place so that it can be
// translated: usage texts, reports and failure lines. Option names, file names and the layout of
// the reports are not for people and stay where they are used. The names of the package's own
// files arrive as std::string_view, so that passing one never throws.

namespace zelvane::tools::text {

// Both tools: a public key given on the command line that cannot be used.
inline std::string PublicKeyUnusableMessage(const std::string& path, const std::string& reason) {
    return "the public key \"" + path + "\" cannot be used: " + reason;
}

// zelvane-updater-cli: its usage, its help and its version.
inline constexpr char kCliUsage[] =
    "usage: zelvane-updater-cli [--silent] [--keep-going] [--public-key PUBLIC_KEY_FILE]\n"
    "                           [--package PACKAGE_FOLDER] [--log LOG_FILE] [--] INSTALL_FOLDER";
inline constexpr char kCliHelp[] =
    "Updates the Zelvane install in INSTALL_FOLDER to version 3.7 from the package in\n"
    "the package folder (FileList.txt and the package files it names).\n\n"
    "  --silent                      register the control without the registration\n"
    "                                tool's messages\n"
    "  --keep-going                  put each file in place as soon as it is copied and\n"
    "                                go on after a file that fails, as updates did\n"
    "                                before they were all or nothing\n"
    "  --public-key PUBLIC_KEY_FILE  install only a package whose Package.manifest is\n"
    "                                signed with this key's private key\n"
    "  --package PACKAGE_FOLDER      the folder of FileList.txt and the package files\n"
    "                                (the current folder when not given)\n"
    "  --log LOG_FILE                append what the update does to LOG_FILE instead of\n"
    "                                the default log: %TEMP%\\Zelvane update.log on\n"
    "                                Windows, $XDG_STATE_HOME/zelvane/update.log (by\n"
    "                                default ~/.local/state/...) elsewhere\n"
    "  -h, --help, /?                show this text\n"
    "  --version                     show the updater's version\n"
    "  --                            what follows is the install folder, even when it\n"
    "                                begins with - or /\n\n"
    "Exit status: 0 installed, 1 no install of version 3.0 or later in the folder,\n"
    "2 finished with failures (each is listed) or stopped after writing, 3 nothing was\n"
    "changed (for example a missing or damaged FileList.txt or package file, a full\n"
    "disk, or another update of the folder running), 4 nothing was changed because\n"
    "programs hold product files (try again once they are closed), 64 bad arguments.\n";
inline std::string CliVersionMessage(std::string_view updaterVersion,
                                     std::string_view productVersion) {
    return "zelvane-updater-cli " + std::string(updaterVersion) +
           ", which updates Zelvane to version " + std::string(productVersion);
}

// zelvane-updater-cli: the progress on a terminal, as a printf format of the files done and all.
inline constexpr char kInstallingFormat[] = "\rInstalling: %.0f of %.0f";

// zelvane-updater-cli: why its command line cannot be understood.
inline constexpr char kCliProblemPrefix[] = "zelvane-updater-cli: ";
inline constexpr char kMoreThanOneFolder[] = "more than one folder";
inline constexpr char kNoInstallFolder[] = "no install folder";
inline std::string UnknownOptionProblem(std::string_view option) {
    return "unknown option " + std::string(option);
}

// zelvane-pack: its usage.
inline constexpr char kPackUsage[] =
    R"(usage: zelvane-pack keygen PRIVATE_KEY_FILE PUBLIC_KEY_FILE
       zelvane-pack build [--key PRIVATE_KEY_FILE] PRODUCT_FOLDER PACKAGE_FOLDER
       zelvane-pack check [--public-key PUBLIC_KEY_FILE] PACKAGE_FOLDER
       zelvane-pack --help

keygen  makes a new P-256 key pair for signing packages; the private key is readable by its
        owner only. Neither file may exist yet.
build   writes every file of PRODUCT_FOLDER, scrambled, into PACKAGE_FOLDER with FileList.txt
        and Package.manifest (the SHA-256 and size of each), and with --key the manifest's
        signature, Package.manifest.sig. PACKAGE_FOLDER must be new, empty, or hold only an
        earlier package, which is then replaced whole.
check   lists the package's entries and reports every problem: an unsafe name, a missing
        package file, a file that does not match Package.manifest, and with --public-key a
        missing or wrong signature. It warns about lines after the last counted entry of
        FileList.txt, which the updater never reads.

Exit status: 0 all is well (warnings do not change it); 1 problems found or the command failed;
64 bad arguments, or keygen or build --key on Windows, where packages are checked, not signed.
)";

// zelvane-pack: a command that failed.
inline constexpr char kPackProblemPrefix[] = "zelvane-pack: ";
inline std::string CannotReadMessage(const std::string& path) {
    return "cannot read \"" + path + "\"";
}
inline std::string CannotWriteMessage(const std::string& path) {
    return "cannot write \"" + path + "\"";
}
inline std::string CannotCreateMessage(const std::string& path) {
    return "cannot create \"" + path + "\"";
}
inline std::string FileUnusableMessage(const std::string& path, const std::string& reason) {
    return "\"" + path + "\" cannot be used: " + reason;
}

// zelvane-pack build: a product folder or a package folder it cannot use.
inline constexpr char kProductFolderEmpty[] = "the product folder holds no files";
inline std::string ProductFolderUnreadableMessage(const std::string& folder,
                                                  const std::string& reason) {
    return "cannot read the product folder \"" + folder + "\": " + reason;
}
inline std::string NameBreaksListMessage(const std::string& name) {
    return "a package list cannot carry the name \"" + name +
           "\": it holds a double quote or a line break";
}
inline std::string UnsafeNameMessage(const std::string& name, const std::string& reason) {
    return "cannot carry the name \"" + name + "\": " + reason;
}
inline std::string NotAPackageFolderMessage(const std::string& folder) {
    return "\"" + folder + "\" is not empty and holds no package";
}
inline std::string ForeignFileMessage(const std::string& folder, const std::string& fileName) {
    return "\"" + folder + "\" holds " + fileName + ", which is not part of the package there";
}

// zelvane-pack build and keygen: what was made.
inline std::string PackedMessage(std::size_t files, const std::string& folder, bool isSigned) {
    return "Packed " + std::to_string(files) + (files == 1 ? " file" : " files") + " into " +
           folder + (isSigned ? ", signed" : "");
}
inline std::string KeysMadeMessage(const std::string& privateKeyFile,
                                   const std::string& publicKeyFile) {
    return "Made the private key " + privateKeyFile + " (keep it secret) and the public key " +
           publicKeyFile;
}

// zelvane-pack check: the signature and the manifest.
inline std::string FileMissingProblem(std::string_view fileName) {
    return std::string(fileName) + " is missing";
}
inline std::string SignatureMismatchProblem(std::string_view signatureName,
                                            std::string_view manifestName) {
    return std::string(signatureName) + " does not match " + std::string(manifestName) +
           " under this public key: another key signed it, or it was altered";
}
inline std::string SignedByMessage(std::string_view manifestName,
                                   const std::string& publicKeyFile) {
    return std::string(manifestName) + " is signed by the key of " + publicKeyFile;
}
inline std::string NoManifestMessage(std::string_view manifestName) {
    return "no " + std::string(manifestName) + ": the files' contents are not checked";
}

// zelvane-pack check: a package file against the manifest.
inline std::string NotInManifestProblem(const std::string& name, std::string_view manifestName) {
    return name + " is not in " + std::string(manifestName);
}
inline std::string SizeMismatchProblem(const std::string& name, std::string_view manifestName,
                                       std::uint64_t actualSize, std::uint64_t listedSize) {
    return name + " does not match " + std::string(manifestName) + ": " +
           std::to_string(actualSize) + " bytes, listed as " + std::to_string(listedSize);
}
inline std::string DigestMismatchProblem(const std::string& name, std::string_view manifestName) {
    return name + " does not match " + std::string(manifestName) + ": its SHA-256 differs";
}

// zelvane-pack check: the package list's entries, and the summary.
inline std::string UnsafeNameProblem(const std::string& reason) { return "unsafe name: " + reason; }
inline std::string MissingPackageFileProblem(const std::string& path) {
    return "missing package file: " + path;
}
inline std::string MissingEntriesProblem(std::size_t first, std::int64_t last) {
    return "entries " + std::to_string(first) + " to " + std::to_string(last) +
           ": missing from the list";
}
inline std::string UnreadLinesWarning(std::string_view listName, std::int64_t lastIndex) {
    return "warning: " + std::string(listName) + " goes on after its last counted entry (" +
           std::to_string(lastIndex) + "); the updater never reads those lines";
}
inline std::string CheckSummary(std::int64_t entries, int problems) {
    return std::to_string(entries) + (entries == 1 ? " entry, " : " entries, ") +
           std::to_string(problems) + (problems == 1 ? " problem" : " problems");
}

// The Windows entry point of both tools: the process could not be prepared.
inline constexpr char kCannotStartPrefix[] = "cannot start: ";

// The Linux registration tool stand-in and its message box.
inline constexpr char kRegsvrUsage[] = "usage: regsvr32.exe [/s] CONTROL_FILE";
inline constexpr char kRegsvrBoxTitle[] = "RegSvr32";
inline std::string RegisteredMessage(const std::string& controlFile) {
    return "DllRegisterServer in " + controlFile + " succeeded.";
}
inline std::string ModuleUnreadableMessage(const std::string& controlFile) {
    return "The module \"" + controlFile + "\" failed to load: it is missing or cannot be read.";
}

}  // namespace zelvane::tools::text
