#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallowdesk::server {

// Cryptographic helpers over OpenSSL: random values, password hashing and the
// service's self-signed certificate.

std::vector<unsigned char> RandomBytes(std::size_t count);

// Random text of [A-Za-z0-9_-]; `length` characters.
std::string RandomToken(std::size_t length);

inline constexpr int kPasswordIterations = 200000;

std::vector<unsigned char> HashPassword(std::string_view password,
                                        const std::vector<unsigned char>& salt, int iterations);
// Marks the calling thread as one that answers connections, where no
// password is ever hashed (a hash takes a tenth of a second or more).
void MarkIoThread();
// How many passwords were hashed on marked threads: 0 unless a request that
// hashes was not sent to the hashing threads.
std::uint64_t HashesOnIoThreads();

// Lower-case hex SHA-256 of `text`: how tokens and session ids are stored.
std::string Sha256Hex(std::string_view text);

// Constant-time comparison.
bool SameBytes(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

enum class StoredCertificate {
    Fits,        // what EnsureCertificate keeps
    LacksNames,  // a sound leaf of its own key that misses one of the names
    Unusable,    // missing, unreadable, a CA, or expiring within 30 days
};
StoredCertificate CheckStoredCertificate(const std::string& certPath, const std::string& keyPath,
                                         const std::vector<std::string>& hostNames = {});

// Makes sure certPath/keyPath hold the service's own certificate: a
// self-signed EC P-256 leaf (not a certificate authority: its key signs
// nothing else a client would trust) for localhost, 127.0.0.1, ::1 and every
// name in `hostNames`. A new key and certificate are written when either file
// is missing or unreadable, the certificate is a CA (as older versions made
// it), misses one of the names, or expires within 30 days. Returns whether
// it wrote new files.
bool EnsureCertificate(const std::string& certPath, const std::string& keyPath,
                       const std::vector<std::string>& hostNames = {});

// Writes `data` to `path` so that a crash leaves either the old or the new
// file: temporary file, fsync, rename, fsync of the folder.
void WriteFileAtomically(const std::string& path, std::string_view data, bool privateFile = false);

}  // namespace tallowdesk::server
