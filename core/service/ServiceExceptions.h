#pragma once

#include <stdexcept>

namespace tallowdesk {

// The service asked for a CAPTCHA; the message is the whole ClientLogin error
// body, from which the caller reads "CaptchaToken=" and "CaptchaUrl=".
class CaptchaRequiredException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The service refused to take a file of this type.
class GDocsUnsupportTypeException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file was uploaded but its entry could not be read back.
class UploadedFileGetInfoException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tallowdesk
