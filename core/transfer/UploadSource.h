#pragma once

#include <filesystem>

namespace tallowdesk {

// One local file or folder chosen for upload (picked, pasted or dropped).
struct UploadSource {
    std::filesystem::path path;
    bool isDirectory = false;  // as the caller saw it when the source was chosen
};

}  // namespace tallowdesk
