// Packages are made and signed on Linux; the Windows build verifies them only.
#include "zelvane/platform/signing.h"

namespace zelvane {

struct Signer::Key {};

void GenerateKeyPair(const std::filesystem::path& /*privateKeyFile*/,
                     const std::filesystem::path& /*publicKeyFile*/) {
    throw SigningUnavailable();
}

Signer::Signer(const std::filesystem::path& /*privateKeyFile*/) { throw SigningUnavailable(); }

Signer::~Signer() = default;

std::vector<std::byte> Signer::Sign(std::span<const std::byte> /*message*/) const {
    throw SigningUnavailable();
}

}  // namespace zelvane
