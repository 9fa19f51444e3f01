#include "zelvane/engine/package_check.h"

#include <stdexcept>

#include "zelvane/engine/package_list.h"
#include "zelvane/platform/crypto.h"

namespace zelvane {
namespace {

std::optional<std::string> ReadIfPresent(FileSystem& files, const std::string& name) {
    const auto file = files.OpenIfPresent(name);
    if (!file) return std::nullopt;
    return ReadSmallFile(*file, name);
}

[[noreturn]] void ThrowNotSigned(const std::string& reason) {
    throw std::runtime_error(NotSignedMessage(reason));
}

void VerifyVendorSignature(FileSystem& files, const std::optional<std::string>& manifest,
                           std::span<const std::string> vendorKeys) {
    if (!manifest) ThrowNotSigned(LacksFileReason(kManifestName));
    const auto signature = ReadIfPresent(files, kSignatureName);
    if (!signature) ThrowNotSigned(LacksFileReason(kSignatureName));
    for (const std::string& key : vendorKeys) {
        bool verified = false;
        try {
            verified = VerifySignature(key, std::as_bytes(std::span(*manifest)),
                                       std::as_bytes(std::span(*signature)));
        } catch (const std::exception& error) {
            throw std::runtime_error(VendorKeyUnusableMessage(error.what()));
        }
        if (!verified) ThrowNotSigned(SignatureNotVerifiedReason(kSignatureName));
    }
}

Sha256Digest DigestOf(std::string_view text) {
    const auto hash = NewSha256();
    hash->Update(std::as_bytes(std::span(text)));
    return hash->Finish();
}

}  // namespace

void CheckVendorKey(std::string_view publicKeyPem) {
    // The key is read before the signature is looked at, and no empty signature verifies.
    static_cast<void>(VerifySignature(publicKeyPem, {}, {}));
}

std::optional<Manifest> CheckedManifest(FileSystem& files, std::string_view listText,
                                        std::span<const std::string> vendorKeys) {
    const std::optional<std::string> text = ReadIfPresent(files, kManifestName);
    if (!vendorKeys.empty()) VerifyVendorSignature(files, text, vendorKeys);
    if (!text) return std::nullopt;
    std::optional<Manifest> manifest;
    try {
        manifest.emplace(*text);
    } catch (const std::exception& error) {
        throw std::runtime_error(ManifestUnusableMessage(kManifestName, error.what()));
    }
    const ManifestEntry* list = manifest->Find(kPackageListName);
    if (!list || list->size != listText.size() || list->digest != DigestOf(listText)) {
        throw std::runtime_error(ListNotInManifestMessage(kPackageListName));
    }
    return manifest;
}

}  // namespace zelvane
