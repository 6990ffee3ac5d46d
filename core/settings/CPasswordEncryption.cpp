#include "CPasswordEncryption.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tallowdesk {

namespace {

// RC4 lives in OpenSSL's legacy provider. A private library context keeps the
// legacy algorithms out of the rest of the process.
struct LegacyContext {
    OSSL_LIB_CTX* ctx = nullptr;
    OSSL_PROVIDER* legacy = nullptr;
    OSSL_PROVIDER* base = nullptr;
    EVP_CIPHER* rc4 = nullptr;
    EVP_MD* md5 = nullptr;

    LegacyContext() {
        ctx = OSSL_LIB_CTX_new();
        if (!ctx) return;
        legacy = OSSL_PROVIDER_load(ctx, "legacy");
        base = OSSL_PROVIDER_load(ctx, "default");
        if (!legacy || !base) return;
        rc4 = EVP_CIPHER_fetch(ctx, "RC4", nullptr);
        md5 = EVP_MD_fetch(ctx, "MD5", nullptr);
    }
    ~LegacyContext() {
        EVP_MD_free(md5);
        EVP_CIPHER_free(rc4);
        if (base) OSSL_PROVIDER_unload(base);
        if (legacy) OSSL_PROVIDER_unload(legacy);
        OSSL_LIB_CTX_free(ctx);
    }
    LegacyContext(const LegacyContext&) = delete;
    LegacyContext& operator=(const LegacyContext&) = delete;

    bool Ready() const { return rc4 && md5; }
};

const LegacyContext& Legacy() {
    static const LegacyContext context;
    return context;
}

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

// RC4 is symmetric: the same transform encrypts and decrypts. Returns false on
// any failure so each caller throws its own message.
bool Rc4(const char* passphrase, const unsigned char* in, std::size_t n, unsigned char* out) {
    const LegacyContext& lc = Legacy();
    if (!lc.Ready() || !passphrase) return false;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestLen = 0;
    if (!EVP_Digest(passphrase, std::strlen(passphrase), digest.data(), &digestLen, lc.md5,
                    nullptr) ||
        digestLen < 5)
        return false;
    std::array<unsigned char, 16> key{};  // 5 key bytes, then the provider's 11-byte zero salt
    std::memcpy(key.data(), digest.data(), 5);

    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || !EVP_CipherInit_ex2(ctx.get(), lc.rc4, nullptr, nullptr, 1, nullptr) ||
        !EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) ||
        !EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), nullptr, 1, nullptr))
        return false;
    std::size_t done = 0;
    while (done < n) {
        // EVP lengths are int; feed large inputs in slices.
        const int chunk = static_cast<int>(std::min<std::size_t>(n - done, 1 << 20));
        int outLen = 0;
        if (!EVP_CipherUpdate(ctx.get(), out + done, &outLen, in + done, chunk) ||
            outLen != chunk)
            return false;
        done += static_cast<std::size_t>(chunk);
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string CPasswordEncryption::Encrypt(std::string_view password) {
    std::vector<unsigned char> cipher(password.size());
    if (!Rc4(m_passphrase, reinterpret_cast<const unsigned char*>(password.data()),
             password.size(), cipher.data()))
        throw std::runtime_error("Encryption failed.");
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(cipher.size() * 2);
    for (const unsigned char b : cipher) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0xF];
    }
    return hex;
}

std::string CPasswordEncryption::Decrypt(std::string_view hex) {
    // An odd final digit carries no byte.
    const std::size_t n = hex.size() / 2;
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int hi = HexValue(hex[2 * i]);
        const int lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) throw std::runtime_error("Password Decryption failed.");
        bytes[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    std::vector<unsigned char> plain(n);
    if (!Rc4(m_passphrase, bytes.data(), n, plain.data()))
        throw std::runtime_error("Password Decryption failed.");
    std::string out(plain.begin(), plain.end());
    if (const auto zero = out.find('\0'); zero != std::string::npos) out.resize(zero);
    return out;
}

}  // namespace tallowdesk
