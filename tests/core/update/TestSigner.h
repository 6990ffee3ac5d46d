#pragma once

#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "TempDir.h"
#include "update/SignatureVerifier.h"

namespace tallowdesk::test {

// A throwaway Ed25519 key made for one test run; signs files the way a
// release is signed (over the file's SHA-512 digest).
class TestSigner {
public:
    TestSigner() : m_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {
        if (!m_key) throw std::runtime_error("test key");
    }

    std::string PublicKeyHex() const {
        unsigned char raw[32];
        std::size_t size = sizeof raw;
        EVP_PKEY_get_raw_public_key(m_key.get(), raw, &size);
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (std::size_t i = 0; i < size; ++i) {
            hex += digits[raw[i] >> 4];
            hex += digits[raw[i] & 15];
        }
        return hex;
    }

    std::string Sign(const std::filesystem::path& file) const {
        const std::string digest = SignatureVerifier::FileDigest(file);
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
        unsigned char signature[64];
        std::size_t size = sizeof signature;
        if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key.get()) != 1 ||
            EVP_DigestSign(ctx.get(), signature, &size,
                           reinterpret_cast<const unsigned char*>(digest.data()),
                           digest.size()) != 1) {
            throw std::runtime_error("test signature");
        }
        return std::string(reinterpret_cast<const char*>(signature), size);
    }

    void SignInto(const std::filesystem::path& file, const std::filesystem::path& sigFile) const {
        std::ofstream(sigFile, std::ios::binary) << Sign(file);
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key;
};

// A program that leaves a mark beside itself when it runs.
inline std::string MarkingProgram(const std::string& mark) {
    return "#!/bin/sh\necho " + mark + " > \"$(dirname \"$0\")/started.txt\"\n";
}

}  // namespace tallowdesk::test
