#include "SignatureVerifier.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

namespace tallowdesk {

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<std::array<unsigned char, kKeyBytes>> DecodeKey(std::string_view hex) {
    if (hex.size() != 2 * kKeyBytes) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::array<unsigned char, kKeyBytes> key{};
    for (std::size_t i = 0; i < kKeyBytes; ++i) {
        const int high = nibble(hex[2 * i]);
        const int low = nibble(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        key[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return key;
}

}  // namespace

SignatureVerifier::SignatureVerifier(std::string publicKeyHex)
    : m_publicKeyHex(std::move(publicKeyHex)) {}

std::string SignatureVerifier::FileDigest(const std::filesystem::path& file) {
    std::unique_ptr<std::FILE, FileClose> in(std::fopen(file.c_str(), "rb"));
    if (!in) return {};
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) != 1) return {};
    std::array<unsigned char, 64 * 1024> block{};
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), in.get())) > 0) {
        if (EVP_DigestUpdate(ctx.get(), block.data(), got) != 1) return {};
    }
    if (std::ferror(in.get())) return {};
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1) return {};
    return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

bool SignatureVerifier::Verify(const std::filesystem::path& file,
                               std::string_view signature) const {
    if (signature.size() != kSignatureBytes) return false;
    const auto raw = DecodeKey(m_publicKeyHex);
    if (!raw) return false;
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw->data(), raw->size()));
    if (!key) return false;
    const std::string digest = FileDigest(file);
    if (digest.empty()) return false;
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(digest.data()),
                            digest.size()) == 1;
}

}  // namespace tallowdesk
