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
    // A round dot and a line of such dots, for drawn rather than stamped shapes.
    void Disc(double cx, double cy, double radius, std::uint32_t rgb);
    void Stroke(double x0, double y0, double x1, double y1, double radius, std::uint32_t rgb);
    std::uint32_t Pixel(int x, int y) const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    std::string Encode() const;

    // Whether dot (row 0-6, column 0-4) of the font's letter `c` is set.
    static bool GlyphDot(char c, int row, int col);

private:
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_pixels;  // RGB rows
};

}  // namespace tallowdesk::server
