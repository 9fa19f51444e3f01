// Hashing and verification on Windows' own CNG, of keys and signatures that OpenSSL made: a
// wrong digest fails every signature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zelvane/platform/crypto.h"

namespace zelvane {
namespace {

// Made once with `openssl ecparam -name prime256v1 -genkey | openssl pkcs8 -topk8 -nocrypt`,
// `openssl pkey -pubout` and `openssl dgst -sha256 -sign`.
constexpr std::string_view kVendorKey =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEi/ksxD6l+brCrKY/LQ/qjupy7tGX\n"
    "NOWNVvRZKy8APxQ/WdiRhgZNhvPGy2vZ0MISZyK8BBMnpSq22e/p8PqddA==\n"
    "-----END PUBLIC KEY-----\n";
// The vendor key's signatures of "zelvane-manifest 1\n" in DER: r of 31 bytes, which CNG needs
// padded; s with a leading zero byte, which CNG needs dropped.
constexpr std::string_view kSignatures[] = {
    "3043021f638486742583e8deb47f7088d9f0ead59699729bf16508e2602eae3024a787022055de4870a1522df6"
    "b25a8ac3589f1de9a40ea3aeb8d9ee39b95167785ce75b80",
    "3045022016e55f764d97e305975faa4d3140520ad01fcfaad41ad3fb2a728e2849723c91022100bfd5c9b3fd87"
    "8142b3e6be24cba18aaf613629fd1c31c544fc05d59fb579cc9d",
};

bool Verify(std::string_view message, std::string_view hex) {
    std::vector<std::byte> signature;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        signature.push_back(std::byte(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return VerifySignature(kVendorKey, std::as_bytes(std::span(message)), signature);
}

TEST(CngCrypto, OpenSslSignaturesVerifyOnlyForTheirMessage) {
    for (const std::string_view signature : kSignatures) {
        EXPECT_TRUE(Verify("zelvane-manifest 1\n", signature)) << signature;
        EXPECT_FALSE(Verify("zelvbne-manifest 1\n", signature)) << signature;
    }
}

}  // namespace
}  // namespace zelvane
