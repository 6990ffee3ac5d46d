#pragma once

#include <string>
#include <vector>

#include "PngImage.h"

namespace tallowdesk::server {

// The picture of a CAPTCHA word: every letter drawn in strokes of its own
// size, slant, rotation, thickness and colour, its dots moved a little, over
// speckles and crossed by lines of the same colours, so that no fixed font
// or colour picks the letters out, while a person still reads them. Every
// letter lies wholly inside the picture.
struct CaptchaPicture {
    struct Box {
        double left, top, right, bottom;  // where a letter's ink lies
    };
    PngImage image;
    std::vector<Box> letters;
};

CaptchaPicture DrawCaptcha(const std::string& word);

}  // namespace tallowdesk::server
