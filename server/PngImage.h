#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallowdesk::server {

// A small RGB picture that can be written as PNG (stored, uncompressed
// deflate blocks: the pictures are tiny and this keeps zlib out).
class PngImage {
public:
    PngImage(int width, int height, std::uint32_t background);

    void Fill(int x, int y, int w, int h, std::uint32_t rgb);
    void Line(int x0, int y0, int x1, int y1, std::uint32_t rgb);
    // Upper-case letters and digits in a 5x7 font, each dot `scale` pixels.
    void Text(int x, int y, std::string_view text, int scale, std::uint32_t rgb);
    std::string Encode() const;

private:
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_pixels;  // RGB rows
};

}  // namespace tallowdesk::server
