#include "Crypto.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

namespace tallowdesk::server {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct ExtFree {
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using BioPtr = std::unique_ptr<BIO, BioFree>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, ExtFree>;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("Certificate creation failed: " + what);
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

}  // namespace

std::vector<unsigned char> RandomBytes(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (count && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        throw std::runtime_error("Random number generator failed");
    }
    return bytes;
}

std::string RandomToken(std::size_t length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    const auto bytes = RandomBytes(length);
    std::string token;
    token.reserve(length);
    for (unsigned char b : bytes) token += kAlphabet[b & 63];
    return token;
}

namespace {
thread_local bool tIoThread = false;
std::atomic<std::uint64_t> gHashesOnIoThreads{0};
}  // namespace

void MarkIoThread() {
    tIoThread = true;
}

std::uint64_t HashesOnIoThreads() {
    return gHashesOnIoThreads.load();
}

std::vector<unsigned char> HashPassword(std::string_view password,
                                        const std::vector<unsigned char>& salt, int iterations) {
    if (tIoThread) ++gHashesOnIoThreads;
    std::vector<unsigned char> out(32);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(out.size()), out.data()) != 1) {
        throw std::runtime_error("Password hashing failed");
    }
    return out;
}

bool SameBytes(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string Sha256Hex(std::string_view text) {
    // Looked up once: EVP_sha256() makes every digest search the providers
    // again, under their lock, and each request checks its token this way.
    static const EVP_MD* const sha256 = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched ? fetched : EVP_sha256();
    }();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, sha256, nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

void WriteFileAtomically(const std::string& path, std::string_view data, bool privateFile) {
    namespace fs = std::filesystem;
    const std::string temp = path + ".tmp-" + RandomToken(8);
    {
        FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                 privateFile ? 0600 : 0644));
        if (fd.Get() < 0) {
            throw std::runtime_error("Cannot create " + temp + ": " + std::strerror(errno));
        }
        const char* p = data.data();
        std::size_t left = data.size();
        while (left > 0) {
            const ssize_t n = ::write(fd.Get(), p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                const std::string reason = std::strerror(errno);
                ::unlink(temp.c_str());
                throw std::runtime_error("Cannot write " + temp + ": " + reason);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        if (::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0) {
            const std::string reason = std::strerror(errno);
            ::unlink(temp.c_str());
            throw std::runtime_error("Cannot flush " + temp + ": " + reason);
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temp.c_str());
        throw std::runtime_error("Cannot replace " + path + ": " + reason);
    }
    // The rename is only durable once the folder entry is on disk.
    const fs::path parent = fs::path(path).parent_path();
    FileDescriptor dir(::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

namespace {

struct NamesFree {
    void operator()(GENERAL_NAMES* p) const { GENERAL_NAMES_free(p); }
};
using NamesPtr = std::unique_ptr<GENERAL_NAMES, NamesFree>;

constexpr long kCertificateDays = 800;
constexpr long kRenewDays = 30;

bool IsIpLiteral(const std::string& name) {
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 ||
           inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// Letters, digits, dots and hyphens: what a subjectAltName may say and a
// Host header can carry.
bool IsDnsName(const std::string& name) {
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.') {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::vector<std::string> ServedNames(const std::vector<std::string>& hostNames) {
    std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
    for (const auto& name : hostNames) {
        if (!IsIpLiteral(name) && !IsDnsName(name)) {
            throw std::runtime_error("Invalid host name for the certificate: " + name);
        }
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

NamesPtr AltNames(const std::vector<std::string>& names) {
    NamesPtr list(sk_GENERAL_NAME_new_null());
    if (!list) Fail("subjectAltName");
    for (const auto& name : names) {
        GENERAL_NAME* entry = nullptr;
        if (IsIpLiteral(name)) {
            ASN1_OCTET_STRING* ip = a2i_IPADDRESS(name.c_str());
            if (!ip) Fail("IP address " + name);
            entry = GENERAL_NAME_new();
            if (!entry) {
                ASN1_OCTET_STRING_free(ip);
                Fail("subjectAltName");
            }
            GENERAL_NAME_set0_value(entry, GEN_IPADD, ip);
        } else {
            ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
            if (!dns || ASN1_STRING_set(dns, name.data(), static_cast<int>(name.size())) != 1) {
                ASN1_IA5STRING_free(dns);
                Fail("host name " + name);
            }
            entry = GENERAL_NAME_new();
            if (!entry) {
                ASN1_IA5STRING_free(dns);
                Fail("subjectAltName");
            }
            GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
        }
        if (sk_GENERAL_NAME_push(list.get(), entry) <= 0) {
            GENERAL_NAME_free(entry);
            Fail("subjectAltName");
        }
    }
    return list;
}

template <class T, class Free>
std::unique_ptr<T, Free> ReadPem(const std::string& path,
                                 T* (*read)(BIO*, T**, pem_password_cb*, void*)) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) return nullptr;
    return std::unique_ptr<T, Free>(read(bio.get(), nullptr, nullptr, nullptr));
}

// The stored pair against the one this version would make for `names`: a
// leaf, with its own key, valid for a while yet, naming every one.
StoredCertificate CheckStored(const std::string& certPath, const std::string& keyPath,
                              const std::vector<std::string>& names) {
    auto cert = ReadPem<X509, X509Free>(certPath, &PEM_read_bio_X509);
    auto key = ReadPem<EVP_PKEY, PkeyFree>(keyPath, &PEM_read_bio_PrivateKey);
    if (!cert || !key) return StoredCertificate::Unusable;
    if (X509_check_private_key(cert.get(), key.get()) != 1) return StoredCertificate::Unusable;
    // Earlier versions made a CA certificate: whatever its key signed, for any
    // name, was trusted by everyone who trusted the service.
    if (X509_check_ca(cert.get()) != 0) return StoredCertificate::Unusable;
    std::time_t soon = std::time(nullptr) + kRenewDays * 24 * 3600;
    if (X509_cmp_time(X509_get0_notAfter(cert.get()), &soon) <= 0) {
        return StoredCertificate::Unusable;
    }
    for (const auto& name : names) {
        const int match = IsIpLiteral(name)
                              ? X509_check_ip_asc(cert.get(), name.c_str(), 0)
                              : X509_check_host(cert.get(), name.data(), name.size(),
                                                X509_CHECK_FLAG_NO_WILDCARDS, nullptr);
        if (match != 1) return StoredCertificate::LacksNames;
    }
    return StoredCertificate::Fits;
}

}  // namespace

StoredCertificate CheckStoredCertificate(const std::string& certPath, const std::string& keyPath,
                                         const std::vector<std::string>& hostNames) {
    return CheckStored(certPath, keyPath, ServedNames(hostNames));
}

bool EnsureCertificate(const std::string& certPath, const std::string& keyPath,
                       const std::vector<std::string>& hostNames) {
    const std::vector<std::string> names = ServedNames(hostNames);
    if (CheckStored(certPath, keyPath, names) == StoredCertificate::Fits) return false;

    // A new key as well: the old one may have been a CA's.
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) Fail("key generation");
    X509Ptr cert(X509_new());
    if (!cert) Fail("X509_new");
    X509_set_version(cert.get(), 2);
    const auto serial = RandomBytes(8);
    std::uint64_t serialValue = 0;
    for (unsigned char b : serial) serialValue = (serialValue << 8) | b;
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serialValue >> 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kCertificateDays * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Tallowdesk local service"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);

    NamesPtr altNames = AltNames(names);
    if (X509_add1_ext_i2d(cert.get(), NID_subject_alt_name, altNames.get(), 0, 0) != 1) {
        Fail("subjectAltName");
    }
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, "critical,CA:FALSE"},
        {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
        {NID_ext_key_usage, "serverAuth"},
        {NID_subject_key_identifier, "hash"},
    };
    for (const auto& [nid, value] : extensions) {
        ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
        if (!ext || X509_add_ext(cert.get(), ext.get(), -1) != 1) Fail("extension");
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) Fail("signing");

    BioPtr keyBio(BIO_new(BIO_s_mem()));
    BioPtr certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_X509(certBio.get(), cert.get()) != 1) {
        Fail("PEM encoding");
    }
    // Key first: a certificate without its key would be kept forever.
    WriteFileAtomically(keyPath, BioText(keyBio.get()), true);
    WriteFileAtomically(certPath, BioText(certBio.get()));
    return true;
}

}  // namespace tallowdesk::server
