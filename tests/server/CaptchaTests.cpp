#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CaptchaPicture.h"
#include "Crypto.h"
#include "PngImage.h"

namespace tallowdesk::server::test {
namespace {

constexpr char kLetters[] = "ACDEFHJKLMNPRTUVWXY";

std::string RandomWord() {
    std::string word;
    for (unsigned char b : RandomBytes(6)) word += kLetters[b % (sizeof kLetters - 1)];
    return word;
}

// What a script does with a picture drawn in one fixed font: take the most
// common dark colour as the ink, cut the ink into letters at empty columns,
// and match each letter against the font's 5x7 glyphs.
std::string ReadByTemplate(const PngImage& image) {
    std::map<std::uint32_t, int> dark;
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const std::uint32_t c = image.Pixel(x, y);
            if (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) < 3 * 128) ++dark[c];
        }
    }
    if (dark.empty()) return {};
    const std::uint32_t ink = std::max_element(dark.begin(), dark.end(), [](auto& a, auto& b) {
                                  return a.second < b.second;
                              })->first;
    auto inked = [&](int x, int y) { return image.Pixel(x, y) == ink; };
    std::string read;
    for (int x = 0; x < image.Width();) {
        int top = image.Height(), bottom = -1, right = x;
        for (; right < image.Width(); ++right) {
            bool any = false;
            for (int y = 0; y < image.Height(); ++y) {
                if (!inked(right, y)) continue;
                any = true;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
            if (!any) break;
        }
        if (right == x) {
            ++x;
            continue;
        }
        const double cell = (bottom - top + 1) / 7.0;
        char best = '?';
        int bestScore = -1;
        for (const char* c = kLetters; *c; ++c) {
            int score = 0;
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    const bool on = inked(x + static_cast<int>((col + 0.5) * cell),
                                          top + static_cast<int>((row + 0.5) * cell));
                    score += on == PngImage::GlyphDot(*c, row, col);
                }
            }
            if (score > bestScore) bestScore = score, best = *c;
        }
        read += best;
        x = right;
    }
    return read;
}

// The old picture: the font stamped in one colour over thin grey lines.
PngImage StampedPicture(const std::string& word) {
    PngImage image(240, 70, 0xF4F1E8);
    const auto noise = RandomBytes(24);
    for (std::size_t i = 0; i + 3 < noise.size(); i += 4) {
        image.Line(noise[i] % 240, noise[i + 1] % 70, noise[i + 2] % 240, noise[i + 3] % 70,
                   0x9AA5B1);
    }
    image.Text(14, 14, word, 6, 0x1F3A5F);
    return image;
}

TEST(CaptchaPictureTest, AFixedFontTemplateMatchNoLongerReadsIt) {
    constexpr int kChallenges = 50;
    struct Case {
        const char* drawing;
        PngImage (*draw)(const std::string&);
        int minRead, maxRead;
    };
    const std::vector<Case> cases = {
        // The script is a real one: it reads the stamped font nearly always.
        {"stamped font", StampedPicture, kChallenges * 9 / 10, kChallenges},
        {"drawn letters", [](const std::string& w) { return DrawCaptcha(w).image; }, 0, 0},
    };
    for (const auto& c : cases) {
        int read = 0;
        for (int i = 0; i < kChallenges; ++i) {
            const std::string word = RandomWord();
            read += ReadByTemplate(c.draw(word)) == word;
        }
        EXPECT_GE(read, c.minRead) << c.drawing;
        EXPECT_LE(read, c.maxRead) << c.drawing;
    }
}

// Regression: the sixth letter was cut off after its first column.
TEST(CaptchaPictureTest, EveryLetterLiesWhollyInsideThePicture) {
    for (int i = 0; i < 200; ++i) {
        const std::string word = RandomWord();
        const CaptchaPicture picture = DrawCaptcha(word);
        ASSERT_EQ(picture.letters.size(), word.size());
        double lastLeft = -1;
        for (const auto& box : picture.letters) {
            EXPECT_GE(box.left, 0);
            EXPECT_GE(box.top, 0);
            EXPECT_LE(box.right, picture.image.Width());
            EXPECT_LE(box.bottom, picture.image.Height());
            // Left to right, so a person reads the word in order.
            EXPECT_GT(box.left, lastLeft);
            lastLeft = box.left;
        }
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
