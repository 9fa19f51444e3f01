// SHA-256, and ECDSA P-256 keys, signatures and their verification, on OpenSSL 3's EVP calls.
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "retry.h"
#include "unique_fd.h"
#include "zelvane/platform/crypto.h"
#include "zelvane/platform/signing.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};
using OwnedKey = std::unique_ptr<EVP_PKEY, OpenSslFree<&EVP_PKEY_free>>;
using OwnedDigestContext = std::unique_ptr<EVP_MD_CTX, OpenSslFree<&EVP_MD_CTX_free>>;
using OwnedBio = std::unique_ptr<BIO, OpenSslFree<&BIO_free_all>>;

// OpenSSL's reason for its last failure; its queue is left empty for the next call.
std::string OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code == 0 ? nullptr : ERR_reason_error_string(code);
    return reason != nullptr ? reason : "unknown OpenSSL failure";
}

[[noreturn]] void ThrowOpenSsl(const std::string& action) {
    throw std::runtime_error(action + ": " + OpenSslReason());
}

template <typename T>
T* Checked(T* made, const char* action) {
    if (made == nullptr) ThrowOpenSsl(action);
    return made;
}

void Check(int result, const char* action) {
    if (result != 1) ThrowOpenSsl(action);
}

OwnedDigestContext NewDigestContext() {
    return OwnedDigestContext(Checked(EVP_MD_CTX_new(), "cannot start a digest"));
}

OwnedBio ReadOnlyBio(std::string_view text) {
    if (text.size() > INT_MAX) throw std::runtime_error("the key text is far too long");
    return OwnedBio(Checked(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())),
                            "cannot read the key text"));
}

// Keys for packages are P-256 keys that name their curve, the only kind that Windows verifies
// here as well: OpenSSL would also take one that spells the curve's parameters out.
bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    char encoding[32] = {};
    return EVP_PKEY_is_a(key, "EC") == 1 &&
           EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
           OBJ_txt2nid(group) == NID_X9_62_prime256v1 &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_EC_ENCODING, encoding,
                                          sizeof encoding, nullptr) == 1 &&
           std::string_view(encoding) == OSSL_PKEY_EC_ENCODING_GROUP;
}

OwnedKey RequireP256(OwnedKey key, const std::string& what) {
    if (!key) ThrowOpenSsl("cannot read " + what + " as a key in PEM");
    if (!IsP256(key.get())) {
        throw std::runtime_error(what + " is not a P-256 key that names its curve");
    }
    return key;
}

// OpenSSL's own reason for a text that holds no public key says little ("unsupported").
OwnedKey ReadPublicKey(std::string_view pem) {
    OwnedKey key(PEM_read_bio_PUBKEY(ReadOnlyBio(pem).get(), nullptr, nullptr, nullptr));
    if (!key) {
        ERR_clear_error();
        throw std::runtime_error(
            pem.find("PRIVATE KEY-----") != std::string_view::npos
                ? "it is a private key, which stays with the vendor; give its public key"
                : "it is not a public key in PEM (-----BEGIN PUBLIC KEY-----)");
    }
    return RequireP256(std::move(key), "the public key");
}

// Encrypted private keys are refused rather than asked for a passphrase on the terminal.
int NoPassphrase(char* /*buffer*/, int /*size*/, int /*writing*/, void* /*data*/) { return 0; }

class OpenSslSha256 final : public Sha256 {
  public:
    OpenSslSha256() { Check(EVP_DigestInit_ex2(context_.get(), EVP_sha256(), nullptr), kAction); }

    void Update(std::span<const std::byte> bytes) override {
        Check(EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()), kAction);
    }

    Sha256Digest Finish() override {
        Sha256Digest digest{};
        unsigned int length = 0;
        Check(EVP_DigestFinal_ex(context_.get(), reinterpret_cast<unsigned char*>(digest.data()),
                                 &length),
              kAction);
        return digest;
    }

  private:
    static constexpr const char* kAction = "cannot compute SHA-256";
    OwnedDigestContext context_ = NewDigestContext();
};

std::string PemText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string PrivateKeyPem(EVP_PKEY* key) {
    const OwnedBio bio(Checked(BIO_new(BIO_s_mem()), "cannot write the private key"));
    Check(PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr),
          "cannot write the private key");
    return PemText(bio.get());
}

std::string PublicKeyPem(EVP_PKEY* key) {
    const OwnedBio bio(Checked(BIO_new(BIO_s_mem()), "cannot write the public key"));
    Check(PEM_write_bio_PUBKEY(bio.get(), key), "cannot write the public key");
    return PemText(bio.get());
}

// A key file being made: created new with its permissions, and removed again unless kept.
class NewKeyFile {
  public:
    NewKeyFile(fs::path path, mode_t mode)
        : path_(std::move(path)),
          fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)) {
        if (!fd_.Valid()) Fail("cannot create");
    }
    NewKeyFile(const NewKeyFile&) = delete;
    NewKeyFile& operator=(const NewKeyFile&) = delete;
    ~NewKeyFile() {
        if (!kept_) ::unlink(path_.c_str());
    }

    void Write(std::string_view text) {
        while (!text.empty()) {
            const ssize_t put =
                posix::RetryOnInterrupt([&] { return ::write(fd_.Get(), text.data(), text.size()); });
            if (put < 0) Fail("cannot write");
            text.remove_prefix(static_cast<std::size_t>(put));
        }
        if (::close(fd_.Release()) != 0) Fail("cannot write");
    }

    void Keep() { kept_ = true; }

  private:
    [[noreturn]] void Fail(const std::string& action) const {
        throw std::system_error(errno, std::generic_category(),
                                action + " the key file \"" + path_.string() + "\"");
    }

    fs::path path_;
    posix::UniqueFd fd_;
    bool kept_ = false;
};

}  // namespace

std::unique_ptr<Sha256> NewSha256() { return std::make_unique<OpenSslSha256>(); }

bool VerifySignature(std::string_view publicKeyPem, std::span<const std::byte> message,
                     std::span<const std::byte> derSignature) {
    const OwnedKey key = ReadPublicKey(publicKeyPem);
    const OwnedDigestContext context = NewDigestContext();
    Check(EVP_DigestVerifyInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key.get(),
                                  nullptr),
          "cannot start verifying a signature");
    const int result =
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(derSignature.data()),
                         derSignature.size(),
                         reinterpret_cast<const unsigned char*>(message.data()), message.size());
    // A malformed signature fails with an error of its own; either way it is not a good one.
    ERR_clear_error();
    return result == 1;
}

void GenerateKeyPair(const fs::path& privateKeyFile, const fs::path& publicKeyFile) {
    NewKeyFile privateFile(privateKeyFile, 0600);
    NewKeyFile publicFile(publicKeyFile, 0644);
    const OwnedKey key(Checked(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                               "cannot make a P-256 key pair"));
    privateFile.Write(PrivateKeyPem(key.get()));
    publicFile.Write(PublicKeyPem(key.get()));
    privateFile.Keep();
    publicFile.Keep();
}

struct Signer::Key {
    explicit Key(OwnedKey owned) : key(std::move(owned)) {}
    OwnedKey key;
};

Signer::Signer(const fs::path& privateKeyFile) {
    const std::string what = "the private key \"" + privateKeyFile.string() + "\"";
    const OwnedBio file(BIO_new_file(privateKeyFile.c_str(), "r"));
    if (!file) ThrowOpenSsl("cannot open " + what);
    key_ = std::make_unique<Key>(RequireP256(
        OwnedKey(PEM_read_bio_PrivateKey(file.get(), nullptr, &NoPassphrase, nullptr)), what));
}

Signer::~Signer() = default;

std::vector<std::byte> Signer::Sign(std::span<const std::byte> message) const {
    constexpr const char* kAction = "cannot sign";
    const OwnedDigestContext context = NewDigestContext();
    Check(EVP_DigestSignInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key_->key.get(),
                                nullptr),
          kAction);
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    std::size_t length = 0;
    Check(EVP_DigestSign(context.get(), nullptr, &length, data, message.size()), kAction);
    std::vector<std::byte> signature(length);
    Check(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                         data, message.size()),
          kAction);
    signature.resize(length);
    return signature;
}

}  // namespace zelvane
