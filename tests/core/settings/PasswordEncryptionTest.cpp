#include <gtest/gtest.h>

#include <stdexcept>

#include "Failure.h"
#include "settings/CPasswordEncryption.h"

namespace tallowdesk {
namespace {

// Computed by tests/tools/password_vectors.py (hashlib MD5 + its own RC4) and
// checked against `openssl enc -rc4`, so a fault in the C++ cipher set-up
// cannot pass its own test.
const std::pair<std::string, std::string> kVectors[] = {
    {"", ""},
    {"a", "D5"},
    {"secret", "C75D9CAD89C0"},
    {"p&ss=word;]", "C41E8CACD1C3F83AA6A4A2"},
    {"p\xC3\xA4ssw\xC3\xB6rd", "C4FB5BAC9FC354FEB0FB"},
    {"correct horse battery staple 0123456789",
     "D7578DAD89D7E368AAF08D6B462453C48768CCFE8EAF8A6613B6D43A16E6B8AE74C99B54D99B3A"},
};

TEST(CPasswordEncryption, MatchesIndependentVectors) {
    for (const auto& [plain, hex] : kVectors) {
        EXPECT_EQ(CPasswordEncryption().Encrypt(plain), hex) << plain;
        EXPECT_EQ(CPasswordEncryption().Decrypt(hex), plain) << hex;
    }
}

TEST(CPasswordEncryption, HexForm) {
    const std::string hex = CPasswordEncryption().Encrypt(std::string(300, 'x'));
    EXPECT_EQ(hex.size(), 600u);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    // Lower-case digits decode too; an odd final digit carries no byte.
    EXPECT_EQ(CPasswordEncryption().Decrypt("c75d9cad89c0"), "secret");
    EXPECT_EQ(CPasswordEncryption().Decrypt("C75D9CAD89C0F"), "secret");
}

TEST(CPasswordEncryption, OtherPassphraseOtherCipher) {
    EXPECT_NE(CPasswordEncryption("another").Encrypt("secret"), "C75D9CAD89C0");
    EXPECT_EQ(CPasswordEncryption("another").Decrypt(CPasswordEncryption("another").Encrypt("pw")),
              "pw");
}

TEST(CPasswordEncryption, BadCipherText) {
    EXPECT_EQ(test::Failure([] { CPasswordEncryption().Decrypt("C7ZZ"); }),
              "Password Decryption failed.");
    // The plain text ends at its first zero byte, as the stored form implies.
    const std::string withZero = CPasswordEncryption().Encrypt(std::string("ab\0cd", 5));
    EXPECT_EQ(CPasswordEncryption().Decrypt(withZero), "ab");
}

}  // namespace
}  // namespace tallowdesk
