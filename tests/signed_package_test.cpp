// Signed packages: our SHA-256 and ECDSA against OpenSSL's command line, the manifest read
// strictly, and zelvane-pack's keygen, build and check as a vendor uses them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "child_process.h"
#include "test_support.h"
#include "zelvane/engine/manifest.h"
#include "zelvane/platform/crypto.h"
#include "zelvane/platform/signing.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kPack = std::string(ZELVANE_BIN_DIR) + "/zelvane-pack";

std::span<const std::byte> Bytes(std::string_view text) { return std::as_bytes(std::span(text)); }

bool Verifies(const fs::path& publicKey, std::string_view message, std::string_view signature) {
    return VerifySignature(ReadFile(publicKey), Bytes(message), Bytes(signature));
}

TEST(Manifest, ReadsWhatItWritesAndSaysWhichLineIsWrong) {
    const ManifestEntry entry{NewSha256()->Finish(), 5, " a, b  c"};
    const std::string header = "zelvane-manifest 1\n";
    const std::string hex = Hex(entry.digest);
    const std::string text = ManifestText(std::span(&entry, 1));
    EXPECT_EQ(text, header + hex + "  5   a, b  c\n");
    const Manifest manifest(text);
    ASSERT_NE(manifest.Find(entry.name), nullptr);
    EXPECT_EQ(manifest.Find(entry.name)->size, 5u);
    EXPECT_EQ(manifest.Find(entry.name)->digest, entry.digest);
    EXPECT_EQ(manifest.Find("a"), nullptr);

    const std::string line = hex + "  5  a\n";
    const std::pair<std::string, std::string> wrong[] = {
        {"zelvane-manifest 2\n", "line 1 "},
        {header + line.substr(0, line.size() - 1), "line 2 "},
        {header + "E" + line.substr(1), "line 2 "},
        {header + hex + "  5a  a\n", "line 2 "},
        {header + hex + "  5  a\r\n", "line 2 "},
        {header + line + line, "line 3 "},
    };
    for (const auto& [bad, where] : wrong) {
        try {
            const Manifest refused(bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind(where, 0), 0u) << error.what();
        }
    }
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
    int Pack(const std::string& arguments) { return Shell(kPack + " " + arguments); }
    int OpenSsl(const std::string& arguments) { return Shell("openssl " + arguments); }
    fs::path Package(const std::string& name) const { return temp_ / "package" / name; }

    test::TempFolder temp_;
};

// What a vendor signs with OpenSSL we verify; what we sign OpenSSL verifies, and its sha256sum
// is the manifest's.
TEST_F(SignedPackageTest, OurSignaturesAndDigestsAgreeWithOpenSsl) {
    const std::string message = "zelvane-manifest 1\n";
    WriteFile(temp_ / "message", message);
    ASSERT_EQ(OpenSsl("dgst -sha256 -sign vendor.pem -out theirs.sig message"), 0);
    const std::string theirs = ReadFile(temp_ / "theirs.sig");
    EXPECT_TRUE(Verifies(temp_ / "vendor.pub", message, theirs));
    EXPECT_FALSE(Verifies(temp_ / "vendor.pub", "zelvane-manifest 2\n", theirs));
    EXPECT_FALSE(Verifies(temp_ / "other.pub", message, theirs));

    ASSERT_EQ(Pack("build --key vendor.pem product package"), 0);
    EXPECT_EQ(Pack("check --public-key vendor.pub package"), 0) << Output();
    EXPECT_EQ(OpenSsl("dgst -sha256 -verify vendor.pub -signature package/Package.manifest.sig "
                      "package/Package.manifest"),
              0);
    const std::string manifest = ReadFile(Package("Package.manifest"));
    for (const std::string name : {"file00000.bin", "file00001.bin", "FileList.txt"}) {
        ASSERT_EQ(Shell("sha256sum package/" + name), 0);
        const std::string size = std::to_string(fs::file_size(Package(name)));
        EXPECT_NE(manifest.find(Output().substr(0, 66) + size + "  " + name + "\n"),
                  std::string::npos)
            << manifest;
    }
}

TEST_F(SignedPackageTest, CheckNamesWhateverWasAlteredOrSignedByAnother) {
    const struct {
        std::string build, file, from, to, publicKey, named;
    } cases[] = {
        {"--key vendor.pem", "file00001.bin", "?", "!", "vendor.pub", "file00001.bin does not"},
        {"", "Package.manifest", "  3000  ", "  3001  ", "vendor.pub", "file00001.bin does not"},
        {"--key vendor.pem", "FileList.txt", "engine", "engino", "vendor.pub", "FileList.txt does"},
        {"--key vendor.pem", "Package.manifest", "  13  ", "  14  ", "vendor.pub", ".sig does not"},
        {"--key vendor.pem", "", "", "", "other.pub", "Package.manifest.sig does not match"},
        {"", "", "", "", "vendor.pub", "Package.manifest.sig is missing"},
    };
    for (const auto& [build, file, from, to, publicKey, named] : cases) {
        ASSERT_EQ(Pack("build " + build + " product package"), 0);
        if (!file.empty()) {
            std::string content = ReadFile(Package(file));
            WriteFile(Package(file), content.replace(content.find(from), from.size(), to));
        }
        EXPECT_EQ(Pack("check --public-key " + publicKey + " package"), 1) << named;
        EXPECT_NE(Output().find(named), std::string::npos) << Output();
    }
}

TEST_F(SignedPackageTest, KeygenMakesAnOwnerOnlyKeyAndOverwritesNothing) {
    ASSERT_EQ(Pack("keygen new.pem new.pub"), 0);
    EXPECT_EQ(OpenSsl("pkey -in new.pem -noout && openssl pkey -pubin -in new.pub -noout"), 0);
    struct stat info {};
    ASSERT_EQ(::stat((temp_ / "new.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string key = ReadFile(temp_ / "new.pem");
    EXPECT_EQ(Pack("keygen new.pem fresh.pub"), 1);
    EXPECT_EQ(Pack("keygen fresh.pem new.pub"), 1);
    EXPECT_EQ(ReadFile(temp_ / "new.pem"), key);
    EXPECT_FALSE(fs::exists(temp_ / "fresh.pub") || fs::exists(temp_ / "fresh.pem"));
}

TEST_F(SignedPackageTest, BuildReplacesAnEarlierPackageOnlyAndCheckWarnsOfUnreadLines) {
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
}

TEST_F(SignedPackageTest, TheUpdaterInstallsOnlyWhatTheVendorSigned) {
    const fs::path install = temp_ / "install";
    fs::create_directories(temp_ / "bin");
    fs::copy_file(test::kUpdaterCli, temp_ / "bin" / "zelvane-updater-cli");
    fs::copy_file(ZELVANE_RECORD_PROGRAM, temp_ / "bin" / "regsvr32.exe");
    const struct {
        std::string file, from, to, key;  // what is altered after the build, and the key asked for
        int status;
        std::string said;
    } cases[] = {
        {"", "", "", "other.pub", 3, "The package is not signed by the vendor: the signature"},
        {"Package.manifest.sig", "", "", "vendor.pub", 3, "it has no Package.manifest.sig"},
        {"FileList.txt", "engine", "engino", "", 3, "FileList.txt does not match the package"},
        {"file00001.bin", "?", "!", "vendor.pub", 2,
         "Cannot copy file engine.exe: it does not match the package manifest"},
        {"Package.manifest", "", "", "", 0, "installed successfully"},
        {"", "", "", "vendor.pub", 0, "installed successfully"},
    };
    for (const auto& [file, from, to, key, status, said] : cases) {
        fs::remove_all(install);
        test::MakeInstall(install);
        fs::create_directories(install / "Help");
        ASSERT_EQ(Pack("build --key vendor.pem product package"), 0);
        std::string content = file.empty() ? "" : ReadFile(Package(file));
        if (!file.empty() && from.empty()) fs::remove(Package(file));
        if (!from.empty()) WriteFile(Package(file), content.replace(content.find(from), 1, to));
        const auto before = test::Snapshot(install);
        EXPECT_EQ(Shell("cd package && ../bin/zelvane-updater-cli --silent " +
                        (key.empty() ? "" : "--public-key ../" + key) + " ../install"),
                  status)
            << Output();
        EXPECT_NE(Output().find(said), std::string::npos) << Output();
        if (status == 3) {
            EXPECT_EQ(test::Snapshot(install), before);
        } else {
            EXPECT_EQ(ReadFile(install / "Help" / "index.html"), "<h1>help</h1>");
            EXPECT_EQ(ReadFile(install / "engine.exe"),
                      status == 2 ? "marker" : std::string(3000, 'e'));
        }
    }
}

TEST_F(SignedPackageTest, HelpGoesToStandardOutputAndBadArgumentsAreRefused) {
    fs::create_directories(temp_ / "unsafe");
    WriteFile(temp_ / "unsafe" / "CON.txt", "device");
    const std::pair<const char*, int> cases[] = {{"--help", 0},
                                                 {"check -h", 0},
                                                 {"build product", 64},
                                                 {"check --key k package", 64},
                                                 {"build unsafe package", 1}};
    for (const auto& [arguments, status] : cases) {
        EXPECT_EQ(Pack(arguments), status) << arguments;
        EXPECT_EQ(Output().starts_with("usage: zelvane-pack"), status == 0) << arguments;
        EXPECT_FALSE(fs::exists(Package("FileList.txt")));
    }
}

}  // namespace
}  // namespace zelvane
