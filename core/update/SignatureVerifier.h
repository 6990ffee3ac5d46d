#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tallowdesk {

// Checks the detached signature of a downloaded program before anything may
// run it. A signature is the 64-byte Ed25519 signature (OpenSSL) of the
// SHA-512 digest of the file, so the file is read in blocks instead of whole.
// A release is signed with:
//   openssl dgst -sha512 -binary tallowdesk > digest
//   openssl pkeyutl -sign -rawin -inkey release-key.pem -in digest -out tallowdesk.sig
// The private key stays with whoever publishes releases. Stateless; any thread.
class SignatureVerifier {
public:
    // publicKeyHex: the raw 32-byte Ed25519 public key as 64 hex digits. A
    // key that is not one makes every Verify fail.
    explicit SignatureVerifier(std::string publicKeyHex);

    // True only for a well-formed signature that the key made over this
    // file's content; false for a missing, malformed or wrong one, or an
    // unreadable file.
    bool Verify(const std::filesystem::path& file, std::string_view signature) const;

    // The digest a signature covers; empty when the file cannot be read.
    static std::string FileDigest(const std::filesystem::path& file);

private:
    std::string m_publicKeyHex;
};

}  // namespace tallowdesk
