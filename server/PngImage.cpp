#include "PngImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace tallowdesk::server {

namespace {

// Rows of 5 bits, top first, for A-Z then 0-9.
constexpr std::array<std::array<std::uint8_t, 7>, 36> kGlyphs = {{
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
    {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};

std::uint32_t Crc32(const std::string& data, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < data.size(); ++i) {
        crc ^= static_cast<std::uint8_t>(data[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutU32(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    PutU32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png += type;
    png += data;
    PutU32(png, Crc32(png, start));
}

}  // namespace

PngImage::PngImage(int width, int height, std::uint32_t background)
    : m_width(width), m_height(height), m_pixels(static_cast<std::size_t>(width * height * 3)) {
    Fill(0, 0, width, height, background);
}

void PngImage::Fill(int x, int y, int w, int h, std::uint32_t rgb) {
    for (int yy = std::max(0, y); yy < std::min(m_height, y + h); ++yy) {
        for (int xx = std::max(0, x); xx < std::min(m_width, x + w); ++xx) {
            auto* p = &m_pixels[static_cast<std::size_t>((yy * m_width + xx) * 3)];
            p[0] = static_cast<std::uint8_t>(rgb >> 16);
            p[1] = static_cast<std::uint8_t>(rgb >> 8);
            p[2] = static_cast<std::uint8_t>(rgb);
        }
    }
}

void PngImage::Line(int x0, int y0, int x1, int y1, std::uint32_t rgb) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        Fill(x0, y0, 1, 1, rgb);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

bool PngImage::GlyphDot(char c, int row, int col) {
    int index = -1;
    if (c >= 'A' && c <= 'Z') index = c - 'A';
    if (c >= '0' && c <= '9') index = 26 + (c - '0');
    if (index < 0 || row < 0 || row > 6 || col < 0 || col > 4) return false;
    return (kGlyphs[static_cast<std::size_t>(index)][static_cast<std::size_t>(row)] &
            (0x10 >> col)) != 0;
}

void PngImage::Disc(double cx, double cy, double radius, std::uint32_t rgb) {
    const int x0 = static_cast<int>(std::floor(cx - radius));
    const int x1 = static_cast<int>(std::ceil(cx + radius));
    const int y0 = static_cast<int>(std::floor(cy - radius));
    const int y1 = static_cast<int>(std::ceil(cy + radius));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            if (dx * dx + dy * dy <= radius * radius) Fill(x, y, 1, 1, rgb);
        }
    }
}

void PngImage::Stroke(double x0, double y0, double x1, double y1, double radius,
                      std::uint32_t rgb) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, static_cast<int>(length / std::max(0.5, radius / 2)));
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        Disc(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, radius, rgb);
    }
}

std::uint32_t PngImage::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
    const auto* p = &m_pixels[static_cast<std::size_t>((y * m_width + x) * 3)];
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

void PngImage::Text(int x, int y, std::string_view text, int scale, std::uint32_t rgb) {
    for (char c : text) {
        int index = -1;
        if (c >= 'A' && c <= 'Z') index = c - 'A';
        if (c >= '0' && c <= '9') index = 26 + (c - '0');
        if (index >= 0) {
            const auto& glyph = kGlyphs[static_cast<std::size_t>(index)];
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (glyph[static_cast<std::size_t>(row)] & (0x10 >> col)) {
                        Fill(x + col * scale, y + row * scale, scale, scale, rgb);
                    }
                }
            }
        }
        x += 6 * scale;
    }
}

std::string PngImage::Encode() const {
    std::string raw;
    const std::size_t stride = static_cast<std::size_t>(m_width) * 3;
    for (int y = 0; y < m_height; ++y) {
        raw += '\0';  // filter: none
        raw.append(reinterpret_cast<const char*>(&m_pixels[static_cast<std::size_t>(y) * stride]),
                   stride);
    }
    std::string z = "\x78\x01";
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutU32(z, (b << 16) | a);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    PutU32(header, static_cast<std::uint32_t>(m_width));
    PutU32(header, static_cast<std::uint32_t>(m_height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
}

}  // namespace tallowdesk::server
