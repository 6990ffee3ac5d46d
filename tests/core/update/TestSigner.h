#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "TempDir.h"
#include "update/SignatureVerifier.h"

namespace tallowdesk::test {

// The fixed test key whose public half the test build of the updater has
// compiled in (TALLOWDESK_TEST_UPDATE_KEY); it signs nothing but test files.
inline constexpr unsigned char kTestKeySeed[32] = {
    0xc0, 0xb7, 0x3c, 0xa4, 0x14, 0x0f, 0xcb, 0x9c, 0x36, 0xfd, 0x73, 0x51, 0x08, 0xdf, 0xc4, 0x14,
    0xcd, 0xdf, 0x23, 0x45, 0xbd, 0x89, 0x93, 0x9d, 0xc7, 0xc9, 0xb4, 0xbf, 0x8f, 0x7b, 0xc4, 0x3f};

// An Ed25519 key that signs files the way a release is signed: over
// "tallowdesk <version>\n" and the file's SHA-512 digest.
class TestSigner {
public:
    enum class Key { Throwaway, Fixed };

    explicit TestSigner(Key which = Key::Throwaway)
        : m_key(which == Key::Fixed
                    ? EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, kTestKeySeed,
                                                   sizeof kTestKeySeed)
                    : EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                &EVP_PKEY_free) {
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

    std::string Sign(const std::filesystem::path& file, const std::string& version) const {
        const std::string message =
            SignatureVerifier::SignedMessage(version, SignatureVerifier::FileDigest(file));
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
        unsigned char signature[64];
        std::size_t size = sizeof signature;
        if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key.get()) != 1 ||
            EVP_DigestSign(ctx.get(), signature, &size,
                           reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) != 1) {
            throw std::runtime_error("test signature");
        }
        return std::string(reinterpret_cast<const char*>(signature), size);
    }

    void SignInto(const std::filesystem::path& file, const std::string& version,
                  const std::filesystem::path& sigFile) const {
        std::ofstream(sigFile, std::ios::binary) << Sign(file, version);
    }

    // The private key as the openssl command line reads it.
    void WritePrivatePem(const std::filesystem::path& file) const {
        std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "wb"),
                                                               &std::fclose);
        if (!out || PEM_write_PrivateKey(out.get(), m_key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr) != 1) {
            throw std::runtime_error("test key file");
        }
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key;
};

// A program that leaves a mark beside itself when it runs.
inline std::string MarkingProgram(const std::string& mark) {
    return "#!/bin/sh\necho " + mark + " > \"$(dirname \"$0\")/started.txt\"\n";
}

}  // namespace tallowdesk::test
