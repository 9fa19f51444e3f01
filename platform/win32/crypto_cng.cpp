// SHA-256 and ECDSA P-256 verification on Windows' own CNG (bcrypt.dll), with calls that Windows 7
// already has; crypt32 takes the PEM armour off the public key.
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zelvane/platform/crypto.h"
#include "zelvane/platform/unique_resource.h"
#include "zelvane/win32/system_library.h"

// CNG's and crypt32's headers need the Windows API declared first.
// clang-format off
#include "zelvane/win32/windows.h"
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

namespace zelvane {
namespace {

// From the system's own DLLs, never from ones beside the program: a bcrypt.dll planted there
// could call any signature good.
struct SystemCrypto {
    win32::SystemLibrary bcrypt{L"bcrypt.dll"};
    win32::SystemLibrary crypt32{L"crypt32.dll"};
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptOpenAlgorithmProvider);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptCloseAlgorithmProvider);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptCreateHash);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptHashData);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptFinishHash);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptDestroyHash);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptImportKeyPair);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptDestroyKey);
    ZELVANE_SYSTEM_FUNCTION(bcrypt, BCryptVerifySignature);
    ZELVANE_SYSTEM_FUNCTION(crypt32, CryptStringToBinaryA);
};

// Loaded on first use, by whichever thread comes first, and kept until the program ends.
const SystemCrypto& Api() {
    static const SystemCrypto api;
    return api;
}

// Returned for a signature that does not match; ntstatus.h clashes with windows.h.
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000);

constexpr std::size_t kCoordinateSize = 32;

// A P-256 public key's SubjectPublicKeyInfo is these bytes, then the point's x and y. DER allows
// no other encoding, and keys are written with the point uncompressed (the final 0x04).
constexpr std::array<BYTE, 27> kP256KeyInfoStart = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06,
    0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
    Api().BCryptCloseAlgorithmProvider(algorithm, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE hash) { Api().BCryptDestroyHash(hash); }
void DestroyKey(BCRYPT_KEY_HANDLE key) { Api().BCryptDestroyKey(key); }

using Algorithm = UniqueResource<NullableTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithm>>;
using Hash = UniqueResource<NullableTraits<BCRYPT_HASH_HANDLE, &DestroyHash>>;
using Key = UniqueResource<NullableTraits<BCRYPT_KEY_HANDLE, &DestroyKey>>;

void Check(NTSTATUS status, const char* call) {
    if (BCRYPT_SUCCESS(status)) return;
    std::array<char, 8> hex{};
    std::to_chars(hex.data(), hex.data() + hex.size(), static_cast<unsigned long>(status), 16);
    throw std::runtime_error(std::string(call) + " failed with status 0x" +
                             std::string(hex.data(), hex.size()));
}

Algorithm OpenAlgorithm(const wchar_t* id) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    Check(Api().BCryptOpenAlgorithmProvider(&algorithm, id, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
    return Algorithm(algorithm);
}

// One provider serves every hash, from any thread: opening one costs more than hashing a small
// file. Opened on first use and closed when the program ends, before the DLL is freed.
BCRYPT_ALG_HANDLE Sha256Algorithm() {
    static const Algorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
    return algorithm.Get();
}

class CngSha256 final : public Sha256 {
  public:
    CngSha256() {
        BCRYPT_HASH_HANDLE hash = nullptr;
        // No hash object buffer: since Windows 7 CNG keeps the object itself.
        Check(Api().BCryptCreateHash(Sha256Algorithm(), &hash, nullptr, 0, nullptr, 0, 0),
              "BCryptCreateHash");
        hash_.Reset(hash);
    }

    void Update(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const std::size_t piece = std::min<std::size_t>(bytes.size(), ULONG_MAX);
            // CNG's input parameter is not const, but it only reads it.
            auto* data = const_cast<UCHAR*>(reinterpret_cast<const UCHAR*>(bytes.data()));
            Check(Api().BCryptHashData(hash_.Get(), data, static_cast<ULONG>(piece), 0),
                  "BCryptHashData");
            bytes = bytes.subspan(piece);
        }
    }

    Sha256Digest Finish() override {
        Sha256Digest digest{};
        Check(Api().BCryptFinishHash(hash_.Get(), reinterpret_cast<UCHAR*>(digest.data()),
                                     static_cast<ULONG>(digest.size()), 0),
              "BCryptFinishHash");
        return digest;
    }

  private:
    Hash hash_;
};

std::vector<BYTE> DerOfPem(std::string_view pem) {
    constexpr const char* kNotPem = "the public key is not in PEM";
    if (pem.size() > std::numeric_limits<DWORD>::max()) throw std::runtime_error(kNotPem);
    const auto length = static_cast<DWORD>(pem.size());
    DWORD size = 0;
    if (!Api().CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                    nullptr, nullptr)) {
        throw std::runtime_error(kNotPem);
    }
    std::vector<BYTE> der(size);
    if (!Api().CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, der.data(),
                                    &size, nullptr, nullptr)) {
        throw std::runtime_error(kNotPem);
    }
    der.resize(size);
    return der;
}

struct P256PublicBlob {
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateSize};
    std::array<BYTE, 2 * kCoordinateSize> point{};  // x, then y, big-endian
};

Key ImportPublicKey(BCRYPT_ALG_HANDLE ecdsa, std::string_view pem) {
    const std::vector<BYTE> der = DerOfPem(pem);
    P256PublicBlob blob;
    if (der.size() != kP256KeyInfoStart.size() + blob.point.size() ||
        !std::equal(kP256KeyInfoStart.begin(), kP256KeyInfoStart.end(), der.begin())) {
        throw std::runtime_error("the public key is not a P-256 key");
    }
    std::copy(der.end() - static_cast<std::ptrdiff_t>(blob.point.size()), der.end(),
              blob.point.begin());
    BCRYPT_KEY_HANDLE key = nullptr;
    const NTSTATUS status =
        Api().BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                  reinterpret_cast<UCHAR*>(&blob), sizeof blob, 0);
    if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("the public key is no point of P-256");
    return Key(key);
}

// Takes one DER INTEGER off the front of der and writes it as 32 bytes big-endian to out; false
// when it is malformed, negative, not in its shortest form or too large.
bool TakeInteger(std::span<const BYTE>& der, std::span<BYTE, kCoordinateSize> out) {
    if (der.size() < 2 || der[0] != 0x02 || der[1] == 0 || der[1] > der.size() - 2) return false;
    std::span<const BYTE> value = der.subspan(2, der[1]);
    der = der.subspan(2 + value.size());
    if ((value[0] & 0x80) != 0) return false;
    if (value[0] == 0 && value.size() > 1) {
        if ((value[1] & 0x80) == 0) return false;
        value = value.subspan(1);
    }
    if (value.size() > out.size()) return false;
    std::copy(value.begin(), value.end(), out.end() - static_cast<std::ptrdiff_t>(value.size()));
    return true;
}

// CNG takes r and s side by side where OpenSSL writes SEQUENCE { INTEGER r, INTEGER s }.
std::optional<std::array<BYTE, 2 * kCoordinateSize>> RawSignature(std::span<const std::byte> der) {
    auto bytes = std::span(reinterpret_cast<const BYTE*>(der.data()), der.size());
    if (bytes.size() < 2 || bytes[0] != 0x30 || bytes[1] >= 0x80 || bytes[1] != bytes.size() - 2) {
        return std::nullopt;
    }
    bytes = bytes.subspan(2);
    std::array<BYTE, 2 * kCoordinateSize> raw{};
    const auto whole = std::span(raw);
    if (!TakeInteger(bytes, whole.first<kCoordinateSize>()) ||
        !TakeInteger(bytes, whole.last<kCoordinateSize>()) || !bytes.empty()) {
        return std::nullopt;
    }
    return raw;
}

}  // namespace

std::unique_ptr<Sha256> NewSha256() { return std::make_unique<CngSha256>(); }

bool VerifySignature(std::string_view publicKeyPem, std::span<const std::byte> message,
                     std::span<const std::byte> derSignature) {
    const Algorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    const Key key = ImportPublicKey(ecdsa.Get(), publicKeyPem);
    std::optional<std::array<BYTE, 2 * kCoordinateSize>> raw = RawSignature(derSignature);
    if (!raw) return false;
    const std::unique_ptr<Sha256> sha256 = NewSha256();
    sha256->Update(message);
    Sha256Digest digest = sha256->Finish();
    const NTSTATUS status = Api().BCryptVerifySignature(
        key.Get(), nullptr, reinterpret_cast<UCHAR*>(digest.data()),
        static_cast<ULONG>(digest.size()), raw->data(), static_cast<ULONG>(raw->size()), 0);
    if (status == kInvalidSignature) return false;
    Check(status, "BCryptVerifySignature");
    return true;
}

}  // namespace zelvane
