// Signed packages: our SHA-256 and ECDSA against OpenSSL's command line, and zelvane-pack's
// keygen, build and check and the updater as a vendor and a user use them.
#include <gtest/gtest.h>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/platform/crypto.h"
#include "zelvane/platform/signing.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

bool Verifies(const fs::path& publicKey, std::string_view message, std::string_view signature) {
    return VerifySignature(ReadFile(publicKey), std::as_bytes(std::span(message)),
                           std::as_bytes(std::span(signature)));
}

class SignedPackageTest : public testing::Test {
  protected:
    SignedPackageTest() {
        for (const std::string vendor : {"vendor", "other"}) {
            OpenSsl("ecparam -name prime256v1 -genkey | openssl pkcs8 -topk8 -nocrypt -out " +
                    vendor + ".pem && openssl pkey -in " + vendor + ".pem -pubout -out " + vendor +
                    ".pub");
        }
        fs::create_directories(temp_ / "product" / "Help");
        WriteFile(temp_ / "product" / "engine.exe", std::string(3000, 'e'));
        WriteFile(temp_ / "product" / "Help" / "index.html", "<h1>help</h1>");
    }

    // Runs a shell command in the temporary folder; its standard output is left in Output().
    int Shell(const std::string& command) {
        const test::ChildOptions options{temp_.Path(), temp_ / "output", std::nullopt, false};
        return test::ChildProcess({"/bin/sh", "-c", command + " 2>/dev/null"}, options).Wait();
    }
    std::string Output() const { return ReadFile(temp_ / "output"); }
    int Pack(const std::string& args) { return Shell(ZELVANE_BIN_DIR "/zelvane-pack " + args); }
    int OpenSsl(const std::string& args) { return Shell("openssl " + args); }
    fs::path Package(const std::string& name) const { return temp_ / "package" / name; }

    test::TempFolder temp_;
};

// What a vendor signs with OpenSSL we verify; what we sign OpenSSL verifies, and its sha256sum
// is the manifest's; keygen, build and check as a vendor uses them.
TEST_F(SignedPackageTest, PackAgreesWithOpenSslAndLeavesTheVendorsFilesAlone) {
    const std::string message = "zelvane-manifest 1\n";
    WriteFile(temp_ / "message", message);
    ASSERT_EQ(OpenSsl("dgst -sha256 -sign vendor.pem -out theirs.sig message"), 0);
    const std::string theirs = ReadFile(temp_ / "theirs.sig");
    EXPECT_TRUE(Verifies(temp_ / "vendor.pub", message, theirs));
    EXPECT_FALSE(Verifies(temp_ / "other.pub", message, theirs));

    ASSERT_EQ(Pack("build --key vendor.pem product package"), 0);
    EXPECT_EQ(OpenSsl("dgst -sha256 -verify vendor.pub -signature package/Package.manifest.sig "
                      "package/Package.manifest"),
              0);
    const std::string manifest = ReadFile(Package("Package.manifest"));
    for (const std::string name : {"file00000.bin", "file00001.bin", "FileList.txt"}) {
        ASSERT_EQ(Shell("sha256sum package/" + name), 0);
        const std::string size = std::to_string(fs::file_size(Package(name)));
        EXPECT_TRUE(manifest.find(Output().substr(0, 66) + size + "  " + name + "\n") !=
                    std::string::npos);
    }

    // keygen makes an owner-only key and overwrites nothing.
    ASSERT_EQ(Pack("keygen new.pem new.pub"), 0);
    EXPECT_EQ(OpenSsl("pkey -in new.pem -noout && openssl pkey -pubin -in new.pub -noout"), 0);
    EXPECT_EQ(fs::status(temp_ / "new.pem").permissions(), fs::perms(0600));
    const std::string key = ReadFile(temp_ / "new.pem");
    EXPECT_EQ(Pack("keygen new.pem fresh.pub"), 1);
    EXPECT_EQ(Pack("keygen fresh.pem new.pub"), 1);
    EXPECT_EQ(ReadFile(temp_ / "new.pem"), key);
    EXPECT_FALSE(fs::exists(temp_ / "fresh.pub") || fs::exists(temp_ / "fresh.pem"));
    // build replaces an earlier package only, and check warns of lines the updater never reads.
    ASSERT_EQ(Pack("build product package"), 0);
    fs::remove(temp_ / "product" / "engine.exe");
    ASSERT_EQ(Pack("build product package"), 0);
    EXPECT_FALSE(fs::exists(Package("file00001.bin")));
    WriteFile(Package("notes.txt"), "mine");
    EXPECT_EQ(Pack("build product package"), 1);
    EXPECT_EQ(ReadFile(Package("notes.txt")), "mine");

    fs::remove(Package("Package.manifest"));
    const std::string list = ReadFile(Package("FileList.txt"));
    WriteFile(Package("FileList.txt"), list + "\"x\",\"notes.txt\"\r\n");
    EXPECT_EQ(Pack("check package"), 0);
    EXPECT_NE(Output().find("never read"), std::string::npos) << Output();

    WriteFile(temp_ / "product" / "CON.txt", "device");
    fs::remove_all(temp_ / "package");
    const std::pair<const char*, int> cases[] = {
        {"--help", 0}, {"check --key k package", 64}, {"build product package", 1}};
    for (const auto& [arguments, status] : cases) {
        EXPECT_EQ(Pack(arguments), status) << arguments;
        EXPECT_EQ(Output().starts_with("usage: zelvane-pack"), status == 0) << arguments;
        EXPECT_FALSE(fs::exists(Package("FileList.txt")));
    }
}

// A package altered after it was built, or signed by another: what check names, and what the
// updater does with it.
TEST_F(SignedPackageTest, CheckNamesAndTheUpdaterRefusesWhatTheVendorDidNotSign) {
    fs::copy_file(test::kUpdaterCli, temp_ / "zelvane-updater-cli");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp_ / "regsvr32.exe");
    const struct {
        std::string key, file, from, to;   // built with key; "from" in file made "to", or removed
        std::string publicKey, checkSaid;  // check and update with publicKey
        int status;
        std::string said;
    } cases[] = {
        {"--key vendor.pem", "file00001.bin", "?", "!", "vendor.pub", "file00001.bin does not", 2,
         "Cannot copy file engine.exe: it does not match the package manifest"},
        {"--key vendor.pem", "FileList.txt", "engine", "engino", "vendor.pub", "FileList.txt does",
         3, "FileList.txt does not match the package"},
        {"--key vendor.pem", "Package.manifest", "  13  ", "  14  ", "vendor.pub", ".sig does not",
         3, "The package is not signed by the vendor: the signature"},
        {"", "Package.manifest", "1\n", "1\r\n", "", "line 1 of Package.manifest", 3, "line 1 of"},
        {"--key vendor.pem", "", "", "", "other.pub", "Package.manifest.sig does not match", 3,
         "The package is not signed by the vendor: the signature"},
        {"", "", "", "", "vendor.pub", "Package.manifest.sig is missing", 3,
         "it has no Package.manifest.sig"},
        {"--key vendor.pem", "", "", "", "vendor.pub", "", 0, "installed successfully"},
    };
    const fs::path install = temp_ / "install";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        fs::remove_all(install);
        test::MakeInstall(install);
        fs::create_directories(install / "Help");
        ASSERT_EQ(Pack("build " + c.key + " product package"), 0);
        std::string content = c.file.empty() ? "" : ReadFile(Package(c.file));
        if (c.from.empty() && !c.file.empty()) fs::remove(Package(c.file));
        if (!c.from.empty()) {
            WriteFile(Package(c.file), content.replace(content.find(c.from), c.from.size(), c.to));
        }
        const std::string publicKey =
            c.publicKey.empty() ? "" : "--public-key " + (temp_ / c.publicKey).string();
        EXPECT_EQ(Pack("check " + publicKey + " package"), c.checkSaid.empty() ? 0 : 1);
        EXPECT_NE(Output().find(c.checkSaid), std::string::npos) << Output();
        const auto before = test::Snapshot(install);
        EXPECT_EQ(
            Shell("cd package && ../zelvane-updater-cli --silent " + publicKey + " ../install"),
            c.status)
            << Output();
        EXPECT_NE(Output().find(c.said), std::string::npos) << Output();
        EXPECT_EQ(test::Snapshot(install) == before, c.status == 3);
        EXPECT_EQ(ReadFile(install / "engine.exe"),
                  c.status == 0 ? std::string(3000, 'e') : "marker");
    }
}

}  // namespace
}  // namespace zelvane
