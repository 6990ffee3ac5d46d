#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace tallowdesk {

// A SHA-512 digest taken block by block, so a file can be digested while it
// is copied: the bytes verified are then the bytes written. One owner.
class Sha512Stream {
public:
    Sha512Stream();
    ~Sha512Stream();
    Sha512Stream(const Sha512Stream&) = delete;
    Sha512Stream& operator=(const Sha512Stream&) = delete;

    // False once anything failed; Final then gives an empty text.
    bool Update(const void* data, std::size_t size);
    std::string Final();

private:
    evp_md_ctx_st* m_ctx;
    bool m_ok;
};

// Checks the detached signature of a downloaded program before anything may
// run it. A signature is the 64-byte Ed25519 signature (OpenSSL) of the
// release's signed message: "tallowdesk " + version + "\n" followed by the
// 64-byte SHA-512 digest of the file (so the file is read in blocks instead of
// whole). The version is signed with the file, so an older signed build
// cannot be passed off as a newer version. A release is signed with:
//   { printf 'tallowdesk %s\n' 2.1; openssl dgst -sha512 -binary tallowdesk; } > message
//   openssl pkeyutl -sign -rawin -inkey release-key.pem -in message -out tallowdesk.sig
// The private key stays with whoever publishes releases. Stateless; any thread.
class SignatureVerifier {
public:
    // publicKeyHex: the raw 32-byte Ed25519 public key as 64 hex digits. A
    // key that is not one makes every Verify fail.
    explicit SignatureVerifier(std::string publicKeyHex);

    // True only for a well-formed signature that the key made over this
    // version and this file's content; false for a missing, malformed or
    // wrong one, another version, or an unreadable file.
    bool Verify(const std::filesystem::path& file, std::string_view version,
                std::string_view signature) const;
    // The same for a digest already taken (FileDigest, or while copying).
    bool VerifyDigest(std::string_view digest, std::string_view version,
                      std::string_view signature) const;

    // The SHA-512 digest of the file; empty when it cannot be read.
    static std::string FileDigest(const std::filesystem::path& file);
    // What a release signature covers.
    static std::string SignedMessage(std::string_view version, std::string_view digest);

    static constexpr std::size_t kSignatureBytes = 64;

private:
    std::string m_publicKeyHex;
};

}  // namespace tallowdesk
