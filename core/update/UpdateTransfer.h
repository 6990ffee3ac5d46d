#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tallowdesk::update_detail {

// How one GET of the update folder went.
struct FetchResult {
    bool opened = false;    // the server answered 200
    bool complete = false;  // ... and the whole body reached the sink
};

// GETs url over the client's TLS rules and hands the body to sink block by
// block (only for a 200 answer). sink returns false to stop the transfer.
FetchResult FetchUrl(const std::string& url,
                     const std::function<bool(const char* data, std::size_t size)>& sink);

}  // namespace tallowdesk::update_detail
