#pragma once

#include <string>

#include "HttpMessage.h"

namespace tallowdesk::server {

// Publishes program updates: GET "/updatefiles/<name>" answers the file of
// that name from the update folder ("update.txt", the program, its ".sig"
// signature, "readme.txt"). Without a folder nothing is published. The folder
// is set before the server starts and only read afterwards.
class UpdateFiles {
public:
    void SetFolder(std::string folder) { m_folder = std::move(folder); }
    HttpResponse Serve(const HttpRequest& request) const;

private:
    std::string m_folder;
};

}  // namespace tallowdesk::server
