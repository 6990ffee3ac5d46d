#include "CaptchaPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "Crypto.h"

namespace tallowdesk::server {

namespace {

constexpr int kWidth = 280;
constexpr int kHeight = 90;
constexpr int kMargin = 4;

// Random numbers from the system's source, taken in one batch.
class Dice {
public:
    explicit Dice(std::size_t count) : m_bytes(RandomBytes(count * 2)) {}
    // Uniform in [low, high].
    double Between(double low, double high) {
        if (m_at + 1 >= m_bytes.size()) {
            m_bytes = RandomBytes(m_bytes.size());
            m_at = 0;
        }
        const unsigned v = (unsigned{m_bytes[m_at]} << 8) | m_bytes[m_at + 1];
        m_at += 2;
        return low + (high - low) * v / 65535.0;
    }
    int Int(int low, int high) {
        return std::min(high, low + static_cast<int>(Between(0, high - low + 1)));
    }

private:
    std::vector<unsigned char> m_bytes;
    std::size_t m_at = 0;
};

std::uint32_t Rgb(int r, int g, int b) {
    return (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) |
           static_cast<std::uint32_t>(b);
}

// A dark colour of any hue: letters must stand out from the light ground.
std::uint32_t InkColour(Dice& dice) {
    return Rgb(dice.Int(10, 120), dice.Int(10, 120), dice.Int(10, 120));
}

using Point = std::pair<double, double>;

}  // namespace

CaptchaPicture DrawCaptcha(const std::string& word) {
    Dice dice(4096);
    CaptchaPicture picture{
        PngImage(kWidth, kHeight, Rgb(dice.Int(225, 250), dice.Int(225, 250), dice.Int(225, 250))),
        {}};
    PngImage& image = picture.image;
    // Light speckles of every colour: a ground that is never one colour.
    for (int i = 0; i < 900; ++i) {
        image.Disc(dice.Between(0, kWidth), dice.Between(0, kHeight), dice.Between(0.5, 1.6),
                   Rgb(dice.Int(170, 235), dice.Int(170, 235), dice.Int(170, 235)));
    }
    const int count = static_cast<int>(word.size());
    const double cell = static_cast<double>(kWidth - 2 * kMargin) / std::max(1, count);
    std::vector<std::uint32_t> inks;
    for (int i = 0; i < count; ++i) {
        const char letter = word[static_cast<std::size_t>(i)];
        const double spacing = dice.Between(5.2, 7.2);  // between the font's dots
        const double stretchX = dice.Between(0.8, 1.15);
        const double angle = dice.Between(-0.38, 0.38);
        const double shear = dice.Between(-0.25, 0.25);
        const double radius = dice.Between(1.6, 2.9);
        const std::uint32_t ink = InkColour(dice);
        inks.push_back(ink);
        // Every dot of the letter, moved a little, turned about its middle.
        Point dots[7][5];
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                const double x = (col - 2) * spacing * stretchX + dice.Between(-1.2, 1.2);
                const double y = (row - 3) * spacing + dice.Between(-1.2, 1.2);
                const double sx = x + shear * y;
                dots[row][col] = {sx * std::cos(angle) - y * std::sin(angle),
                                  sx * std::sin(angle) + y * std::cos(angle)};
            }
        }
        double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
        for (const auto& row : dots) {
            for (const auto& [x, y] : row) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        // Centred in its cell, give or take, and kept inside the picture.
        double cx = kMargin + cell * (i + 0.5) + dice.Between(-cell * 0.12, cell * 0.12);
        double cy = kHeight / 2.0 + dice.Between(-8, 8);
        cx = std::clamp(cx, kMargin - left + radius, kWidth - kMargin - right - radius);
        cy = std::clamp(cy, kMargin - top + radius, kHeight - kMargin - bottom - radius);
        // Strokes between neighbouring dots of the font draw the letter's lines.
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (!PngImage::GlyphDot(letter, row, col)) continue;
                const auto [x0, y0] = dots[row][col];
                bool alone = true;
                constexpr int kNext[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
                for (const auto& step : kNext) {
                    const int r = row + step[0], c = col + step[1];
                    if (!PngImage::GlyphDot(letter, r, c)) continue;
                    // A diagonal only where no straight path already joins them.
                    if (step[0] == 1 && step[1] != 0 &&
                        (PngImage::GlyphDot(letter, row, c) ||
                         PngImage::GlyphDot(letter, r, col))) {
                        continue;
                    }
                    const auto [x1, y1] = dots[r][c];
                    image.Stroke(cx + x0, cy + y0, cx + x1, cy + y1, radius, ink);
                    alone = false;
                }
                if (alone) image.Disc(cx + x0, cy + y0, radius, ink);
            }
        }
        picture.letters.push_back(
            {cx + left - radius, cy + top - radius, cx + right + radius, cy + bottom + radius});
    }
    // Lines in the letters' own colours across the word, thinner than its strokes.
    for (int i = 0; i < 5; ++i) {
        const std::uint32_t ink =
            inks.empty()
                ? InkColour(dice)
                : inks[static_cast<std::size_t>(dice.Int(0, static_cast<int>(inks.size()) - 1))];
        double x = 0, y = dice.Between(10, kHeight - 10);
        const double slope = dice.Between(-0.3, 0.3);
        const double wave = dice.Between(2, 9), period = dice.Between(25, 70);
        const double phase = dice.Between(0, 6.3);
        const double thickness = dice.Between(0.6, 1.1);
        double lastX = x, lastY = y;
        for (x = 0; x <= kWidth; x += 3) {
            const double yy = y + slope * x + wave * std::sin(x / period + phase);
            image.Stroke(lastX, lastY, x, yy, thickness, ink);
            lastX = x;
            lastY = yy;
        }
    }
    return picture;
}

}  // namespace tallowdesk::server
