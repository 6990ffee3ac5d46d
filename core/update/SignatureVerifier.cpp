#include "SignatureVerifier.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

namespace tallowdesk {

namespace {

constexpr std::size_t kKeyBytes = 32;

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

Sha512Stream::Sha512Stream() : m_ctx(EVP_MD_CTX_new()), m_ok(false) {
    m_ok = m_ctx && EVP_DigestInit_ex(m_ctx, EVP_sha512(), nullptr) == 1;
}

Sha512Stream::~Sha512Stream() {
    EVP_MD_CTX_free(m_ctx);
}

bool Sha512Stream::Update(const void* data, std::size_t size) {
    m_ok = m_ok && EVP_DigestUpdate(m_ctx, data, size) == 1;
    return m_ok;
}

std::string Sha512Stream::Final() {
    if (!m_ok) return {};
    m_ok = false;  // a digest is taken once
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_ctx, digest.data(), &length) != 1) return {};
    return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

SignatureVerifier::SignatureVerifier(std::string publicKeyHex)
    : m_publicKeyHex(std::move(publicKeyHex)) {}

std::string SignatureVerifier::FileDigest(const std::filesystem::path& file) {
    std::unique_ptr<std::FILE, FileClose> in(std::fopen(file.c_str(), "rb"));
    if (!in) return {};
    Sha512Stream digest;
    std::array<unsigned char, 64 * 1024> block{};
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), in.get())) > 0) {
        if (!digest.Update(block.data(), got)) return {};
    }
    if (std::ferror(in.get())) return {};
    return digest.Final();
}

std::string SignatureVerifier::SignedMessage(std::string_view version, std::string_view digest) {
    std::string message = "tallowdesk ";
    message.append(version);
    message += '\n';
    message.append(digest);
    return message;
}

bool SignatureVerifier::Verify(const std::filesystem::path& file, std::string_view version,
                               std::string_view signature) const {
    const std::string digest = FileDigest(file);
    return !digest.empty() && VerifyDigest(digest, version, signature);
}

bool SignatureVerifier::VerifyDigest(std::string_view digest, std::string_view version,
                                     std::string_view signature) const {
    if (signature.size() != kSignatureBytes || digest.empty() || version.empty()) return false;
    const auto raw = DecodeKey(m_publicKeyHex);
    if (!raw) return false;
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw->data(), raw->size()));
    if (!key) return false;
    const std::string message = SignedMessage(version, digest);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

}  // namespace tallowdesk
