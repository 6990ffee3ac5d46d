#include "PageKey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdint>

namespace tallowdesk::server {

namespace {

// Layout before the text encoding: version byte, the edit time (zigzag
// varint), the position (varint), the id's length (varint) and bytes, then
// the first kMacBytes of an HMAC-SHA256 of all that.
constexpr unsigned char kVersion = 1;
constexpr std::size_t kMacBytes = 12;
constexpr std::size_t kMaxIdBytes = 200;
constexpr std::size_t kMaxKeyChars = 400;
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

void PutVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

bool GetVarint(std::string_view& in, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
        const auto b = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

std::array<unsigned char, EVP_MAX_MD_SIZE> Mac(std::string_view data, std::string_view secret) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(), &length);
    return mac;
}

std::string ToText(std::string_view bytes) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
    return out;
}

std::optional<std::string> FromText(std::string_view text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const auto at = kAlphabet.find(c);
        if (at == std::string_view::npos) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(at);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    // Left-over bits must be zero padding of the last character, so every
    // key has exactly one spelling.
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
    return out;
}

}  // namespace

std::string EncodePageKey(const PageKey& key, std::string_view secret) {
    std::string bytes;
    bytes += static_cast<char>(kVersion);
    const auto edited = static_cast<std::uint64_t>(key.edited);
    PutVarint(bytes, (edited << 1) ^ static_cast<std::uint64_t>(key.edited >> 63));
    PutVarint(bytes, static_cast<std::uint64_t>(key.position));
    PutVarint(bytes, key.id.size());
    bytes += key.id;
    const auto mac = Mac(bytes, secret);
    bytes.append(reinterpret_cast<const char*>(mac.data()), kMacBytes);
    return ToText(bytes);
}

std::optional<PageKey> DecodePageKey(std::string_view text, std::string_view secret) {
    if (text.empty() || text.size() > kMaxKeyChars) return std::nullopt;
    const auto bytes = FromText(text);
    if (!bytes || bytes->size() < 1 + kMacBytes) return std::nullopt;
    const std::string_view signedPart =
        std::string_view(*bytes).substr(0, bytes->size() - kMacBytes);
    const auto mac = Mac(signedPart, secret);
    if (CRYPTO_memcmp(mac.data(), bytes->data() + signedPart.size(), kMacBytes) != 0) {
        return std::nullopt;
    }
    std::string_view in = signedPart;
    if (static_cast<unsigned char>(in.front()) != kVersion) return std::nullopt;
    in.remove_prefix(1);
    std::uint64_t edited = 0, position = 0, idLength = 0;
    if (!GetVarint(in, edited) || !GetVarint(in, position) || !GetVarint(in, idLength)) {
        return std::nullopt;
    }
    if (idLength == 0 || idLength > kMaxIdBytes || idLength != in.size() ||
        position > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
    }
    PageKey key;
    key.edited = static_cast<std::int64_t>(edited >> 1) ^ -static_cast<std::int64_t>(edited & 1);
    key.position = static_cast<std::int64_t>(position);
    key.id = std::string(in);
    return key;
}

}  // namespace tallowdesk::server
