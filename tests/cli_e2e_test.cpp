// The command-line programs as a user and a vendor run them: real files, real registration tool,
// real child processes, the faults of a real disk, and signatures checked against OpenSSL.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "test_support.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class CliTest : public testing::Test {
  protected:
    // The programs are copied into the test's own folder, which an unprivileged user can reach
    // wherever the build lies.
    CliTest() {
        test::MakeInstall(install_);
        fs::create_directories(package_);
        fs::create_directories(temp_ / "bin");
        fs::copy_file(ZELVANE_BIN_DIR "/zelvane-updater-cli",
                      temp_ / "bin" / "zelvane-updater-cli");
        fs::copy_file(ZELVANE_BIN_DIR "/regsvr32.exe", temp_ / "bin" / "regsvr32.exe");
    }

    // Runs a shell command in the temporary folder; its output is left in Output(). The exit
    // status, or -1 when a signal ended it.
    int Shell(const std::string& command) {
        const int status = std::system(
            ("cd " + Quoted(temp_.Path()) + " && exec >output 2>&1 && " + command).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Its standard output only.
    int Pack(const std::string& args) {
        return Shell(ZELVANE_BIN_DIR "/zelvane-pack " + args + " 2>/dev/null");
    }
    std::string Output() const { return ReadFile(temp_ / "output"); }

    // Runs the updater from the package folder; "@" stands for the install folder. The shell
    // starts it with `run`, which may set a limit first or start it as another user.
    int Update(const std::vector<std::string>& args, const std::string& run = "exec") {
        std::string command = "cd package && " + run + " ../bin/zelvane-updater-cli";
        for (const auto& arg : args) command += " " + Quoted(AtInstall(arg));
        return Shell(command);
    }
    std::string AtInstall(std::string text) const {
        if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, install_);
        return text;
    }

    test::TempFolder temp_;
    fs::path install_ = temp_ / "Program Files" / "Zelvane";
    fs::path package_ = temp_ / "package";
};

// Permissions mean nothing to root: such a case runs as the user "nobody" then.
std::string Unprivileged(const fs::path& tree) {
    if (::geteuid() != 0) return "exec";
    return "chown -R nobody:nogroup " + Quoted(tree) +
           " && exec setpriv --reuid=nobody --regid=nogroup --clear-groups";
}

TEST_F(CliTest, ExitStatusAndOutputTellHowTheUpdateEndedAndAFailureChangesNothing) {
    if (ZELVANE_KEY_BUILT_IN) GTEST_SKIP() << "the built-in key refuses unsigned packages";
    const std::vector<std::string> silent = {"--silent", "@"};
    const struct {
        std::vector<std::string> args;
        std::string list;
        int status;
        std::string output;                 // a part of it
        std::string removed{}, readOnly{};  // in the install folder
        std::string run = "exec";
    } cases[] = {
        // The registration tool beside the updater speaks when not silent, then the updater.
        {{"@"},
         "0\r\nx.txt,p\r\n",
         0,
         "DllRegisterServer in @/NavTree.ocx succeeded.\nThe update was installed successfully.\n"},
        // Its failure is told, though started by a program that ignores SIGCHLD, which the updater
        // inherits.
        {silent, "0\r\nx.txt,p\r\n", 2,
         "Cannot register NavTree.ocx: the registration tool ended with exit code 1\n",
         "NavTree.ocx", "", "exec perl -e '$SIG{CHLD}=\"IGNORE\"; exec @ARGV'"},
        {{"--keep-going", "--silent", "@"},
         "1\r\nx.txt,missing\r\ny.txt,p\r\n",
         2,
         "Cannot copy file x.txt: cannot open"},
        {silent, "0\r\nx.txt,p\r\n", 1, "Version 3.0 or later could not be found in this folder\n",
         "RippleShift_kf.exe"},
        {{}, "", 64, ""},
        {{"--loud", "@"}, "", 64, "unknown option --loud\nusage: zelvane-updater-cli"},
        // A list in the ANSI code page, logged; a log that cannot be written stops nothing.
        {{"--log", "../log", "--silent", "@"}, "0\r\nCaf\xE9.txt,p\r\n", 0, "successfully"},
        {{"--log", "../no/log", "--silent", "@"}, "0\r\nx.txt,p\r\n", 0, "could not be written"},
        {{"@", "@"}, "", 64, ""},
        // A key that spells its curve's parameters out, which Windows refuses, is a bad argument.
        {{"--public-key", ZELVANE_TEST_KEYS "/explicit.pub", "@"}, "0\r\n", 64,
         "explicit.pub\" cannot be used: the public key is not a P-256 key that names its curve"},
        // The faults of a real disk: full, a read-only file, a folder the user may not write to.
        {silent, "1\r\nx.txt,p\r\ny.txt,p\r\n", 3, ": File too large\nNothing was changed.\n", "",
         "", "trap '' XFSZ; ulimit -f 2047; exec"},
        {silent, "1\r\nx.txt,p\r\nengine.exe,p\r\n", 3, "cannot replace the read-only file", "",
         "engine.exe"},
        {silent, "0\r\nx.txt,p\r\n", 3, ": Permission denied\n", "", ".",
         Unprivileged(temp_.Path())},
    };
    constexpr std::uintmax_t kPastRotation = (10 << 20) + 1;  // the first run keeps it as log.1
    WriteFile(temp_ / "log", std::string(kPastRotation, '.'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        test::MakeInstall(install_);
        WriteFile(package_ / "FileList.txt", c.list);
        WriteFile(package_ / "p", test::Scramble(std::string(1 << 20, 'x')));
        if (!c.removed.empty()) fs::remove(install_ / c.removed);
        if (!c.readOnly.empty()) fs::permissions(install_ / c.readOnly, fs::perms(0555));
        const auto before = test::Snapshot(install_);
        EXPECT_EQ(Update(c.args, c.run), c.status) << Output();
        EXPECT_NE(Output().find(AtInstall(c.output)), std::string::npos) << Output();
        if (c.status == 1 || c.status == 3) {
            EXPECT_EQ(test::Snapshot(install_), before);
        }
    }
    EXPECT_EQ(fs::file_size(temp_ / "log.1"), kPastRotation);
    const std::string log = ReadFile(temp_ / "log");
    for (const char* line : {"started with \"--log\"", "user ", "free space: ",
                             "copied Caf\xC3\xA9.txt", "regsvr32.exe ended with exit code 0",
                             "ended with exit status 0"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " in " << log;
    }
}

class SignedPackageTest : public CliTest {
  protected:
    // The vendor's key is the one a build with a key built in is given.
    SignedPackageTest() {
        fs::copy(ZELVANE_TEST_KEYS, temp_.Path());
        fs::create_directories(temp_ / "product" / "Help");
        fs::create_directories(install_ / "Help");
        WriteFile(temp_ / "product" / "engine.exe", std::string(3000, 'e'));
        WriteFile(temp_ / "product" / "Help" / "index.html", "<h1>help</h1>");
    }
};

// OpenSSL verifies what we sign, and its sha256sum is the manifest's; keygen, build and check as
// a vendor uses them.
TEST_F(SignedPackageTest, PackAgreesWithOpenSslAndLeavesTheVendorsFilesAlone) {
    ASSERT_EQ(Pack("build --key vendor.pem product package"), 0);
    EXPECT_EQ(
        Shell("openssl dgst -sha256 -verify vendor.pub -signature package/Package.manifest.sig "
              "package/Package.manifest"),
        0);
    // The manifest's lines, as sha256sum and stat see the files.
    ASSERT_EQ(Shell("cd package && for f in file00000.bin file00001.bin FileList.txt; do "
                    "echo \"$(sha256sum <$f | cut -c1-64)  $(stat -c %s $f)  $f\"; done"),
              0);
    EXPECT_EQ(ReadFile(package_ / "Package.manifest"), "zelvane-manifest 1\n" + Output());

    // keygen makes an owner-only key and overwrites nothing.
    ASSERT_EQ(Pack("keygen new.pem new.pub"), 0);
    EXPECT_EQ(Shell("openssl pkey -in new.pem -noout && openssl pkey -pubin -in new.pub -noout"),
              0);
    EXPECT_EQ(fs::status(temp_ / "new.pem").permissions(), fs::perms(0600));
    const std::string key = ReadFile(temp_ / "new.pem");
    EXPECT_EQ(Pack("keygen new.pem fresh.pub"), 1);
    EXPECT_EQ(Pack("keygen fresh.pem new.pub"), 1);
    EXPECT_EQ(ReadFile(temp_ / "new.pem"), key);
    EXPECT_FALSE(fs::exists(temp_ / "fresh.pub") || fs::exists(temp_ / "fresh.pem"));
    // build replaces an earlier package only, and check warns of lines the updater never reads.
    fs::remove(temp_ / "product" / "engine.exe");
    ASSERT_EQ(Pack("build product package"), 0);
    EXPECT_FALSE(fs::exists(package_ / "file00001.bin"));
    // A disk that fills up on the way leaves the earlier package whole and nothing half-built.
    const auto earlier = test::Snapshot(package_);
    WriteFile(temp_ / "product" / "big.bin", std::string(1 << 20, 'b'));
    EXPECT_EQ(Shell("trap '' XFSZ; ulimit -f 1024; exec " ZELVANE_BIN_DIR "/zelvane-pack build "
                    "product package"), 1);
    EXPECT_NE(Output().find("cannot write \"" + (temp_ / "package.zelvane-building/").string()),
              std::string::npos);
    EXPECT_EQ(test::Snapshot(package_), earlier);
    EXPECT_FALSE(fs::exists(temp_ / "package.zelvane-building"));
    WriteFile(package_ / "notes.txt", "mine");
    EXPECT_EQ(Pack("build product package"), 1);
    EXPECT_EQ(ReadFile(package_ / "notes.txt"), "mine");

    fs::remove(package_ / "Package.manifest");
    const std::string list = ReadFile(package_ / "FileList.txt");
    WriteFile(package_ / "FileList.txt", list + "\"x\",\"notes.txt\"\r\n");
    EXPECT_EQ(Pack("check package"), 0);
    EXPECT_NE(Output().find("never read"), std::string::npos) << Output();

    // Misused, or given a product file that no package may carry, it writes nothing.
    WriteFile(temp_ / "product" / "CON.txt", "device");
    fs::remove_all(package_);
    EXPECT_EQ(Pack("check --key k package"), 64);
    EXPECT_EQ(Pack("build product package"), 1);
    EXPECT_FALSE(fs::exists(package_ / "FileList.txt"));
}

// A package altered after it was built, or signed by another: what check names, and what the
// updater does with it. The last one is signed by OpenSSL, as a vendor may sign.
TEST_F(SignedPackageTest, CheckNamesAndTheUpdaterRefusesWhatTheVendorDidNotSign) {
    // A quick registration tool that tells nothing, beside the updater.
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp_ / "bin" / "regsvr32.exe",
                  fs::copy_options::overwrite_existing);
    const std::string openssl =
        "openssl dgst -sha256 -sign vendor.pem -out package/Package.manifest.sig "
        "package/Package.manifest";
    const struct {
        std::string key, file, from, to;   // built with key; "from" in file made "to"
        std::string publicKey, checkSaid;  // check and update with publicKey
        int status;
        std::string said, sign{};
    } cases[] = {
        {"--key vendor.pem", "file00001.bin", "?", "!", "vendor.pub", "file00001.bin does not", 3,
         "Cannot copy file engine.exe: it does not match the package manifest"},
        {"--key vendor.pem", "FileList.txt", "engine", "engino", "vendor.pub", "FileList.txt does",
         3, "FileList.txt does not match the package"},
        {"--key vendor.pem", "Package.manifest", "  13  ", "  14  ", "vendor.pub", ".sig does not",
         3, "The package is not signed by the vendor: the signature"},
        // With the vendor's key built in, an unsigned package is refused before its manifest is
        // read.
        {"", "Package.manifest", "1\n", "1\r\n", "", "line 1 of Package.manifest", 3,
         ZELVANE_KEY_BUILT_IN ? "it has no Package.manifest.sig" : "line 1 of"},
        {"--key vendor.pem", "", "", "", "other.pub", "Package.manifest.sig does not match", 3,
         "The package is not signed by the vendor: the signature"},
        {"", "", "", "", "vendor.pub", "Package.manifest.sig is missing", 3,
         "it has no Package.manifest.sig"},
        {"", "", "", "", "vendor.pub", "", 0, "installed successfully", openssl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        test::MakeInstall(install_);
        fs::remove_all(package_);
        ASSERT_EQ(Pack("build " + c.key + " product package"), 0);
        ASSERT_TRUE(c.sign.empty() || Shell(c.sign) == 0);
        if (!c.file.empty()) {
            std::string content = ReadFile(package_ / c.file);
            WriteFile(package_ / c.file,
                      content.replace(content.find(c.from), c.from.size(), c.to));
        }
        const std::string key = (temp_ / c.publicKey).string();
        EXPECT_EQ(Pack("check " + (c.publicKey.empty() ? "" : "--public-key " + key) + " package"),
                  c.checkSaid.empty() ? 0 : 1);
        EXPECT_NE(Output().find(c.checkSaid), std::string::npos) << Output();
        const auto before = test::Snapshot(install_);
        std::vector<std::string> args{"--silent", "@"};
        if (!c.publicKey.empty()) args.insert(args.begin(), {"--public-key", key});
        EXPECT_EQ(Update(args), c.status) << Output();
        EXPECT_NE(Output().find(c.said), std::string::npos) << Output();
        EXPECT_EQ(test::Snapshot(install_) == before, c.status == 3);
        EXPECT_EQ(ReadFile(install_ / "engine.exe"),
                  c.status == 0 ? std::string(3000, 'e') : "marker");
    }}

}  // namespace
}  // namespace zelvane
