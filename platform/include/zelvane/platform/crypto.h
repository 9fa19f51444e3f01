#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace zelvane {

using Sha256Digest = std::array<std::byte, 32>;

// SHA-256 of bytes that arrive in pieces, such as the blocks of a file being copied.
class Sha256 {
  public:
    virtual ~Sha256() = default;
    virtual void Update(std::span<const std::byte> bytes) = 0;
    // The digest of every byte given; called once, after the last Update.
    virtual Sha256Digest Finish() = 0;
};

std::unique_ptr<Sha256> NewSha256();

// True when derSignature is the DER-encoded ECDSA signature over SHA-256 of message made with the
// private key of publicKeyPem (a P-256 key as SubjectPublicKeyInfo in PEM); false for any other
// signature, a malformed one included. Throws std::runtime_error when the key cannot be read.
bool VerifySignature(std::string_view publicKeyPem, std::span<const std::byte> message,
                     std::span<const std::byte> derSignature);

}  // namespace zelvane
