#pragma once

#include <string>
#include <string_view>

namespace tallowdesk {

// The passphrase every build uses for the remembered password.
inline constexpr char kPasswordPassphrase[] = "Pelko-Vurn48%&;] TiskRB";

// Turns the remembered password into uppercase hex cipher text and back, byte
// for byte as the Windows build's base cryptographic provider does it: RC4
// keyed with the first 5 bytes of MD5(passphrase) padded by 11 zero bytes (the
// provider's default 40-bit key with its zero salt). Lives for one call.
class CPasswordEncryption {
public:
    explicit CPasswordEncryption(const char* passphrase = kPasswordPassphrase)
        : m_passphrase(passphrase) {}
    virtual ~CPasswordEncryption() = default;

    // Throws std::runtime_error "Encryption failed.".
    std::string Encrypt(std::string_view password);
    // The plain text up to its first zero byte. Throws std::runtime_error
    // "Password Decryption failed." (also for text that is not hexadecimal).
    std::string Decrypt(std::string_view hex);

private:
    const char* m_passphrase;
};

}  // namespace tallowdesk
