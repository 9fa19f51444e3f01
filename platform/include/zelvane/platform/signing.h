#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace zelvane {

// Packages are signed where they are made, on Linux; the Windows build only verifies, and its
// signing calls throw this.
class SigningUnavailable : public std::runtime_error {
  public:
    SigningUnavailable()
        : std::runtime_error("signing is not available on Windows; sign packages on Linux") {}
};

// Makes a new P-256 key pair: the private key as unencrypted PKCS#8 PEM, readable by its owner
// only, and the public key as SubjectPublicKeyInfo PEM. Both files are created new, never
// overwritten; on failure neither is left behind. Failures throw, naming the file.
void GenerateKeyPair(const std::filesystem::path& privateKeyFile,
                     const std::filesystem::path& publicKeyFile);

// A P-256 private key read from its PEM file when made; throws, naming the file, when it cannot
// be read or holds another kind of key.
class Signer {
  public:
    explicit Signer(const std::filesystem::path& privateKeyFile);
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;
    ~Signer();

    // The DER-encoded ECDSA signature over SHA-256 of message.
    std::vector<std::byte> Sign(std::span<const std::byte> message) const;

  private:
    struct Key;
    std::unique_ptr<Key> key_;
};

}  // namespace zelvane
