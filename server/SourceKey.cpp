#include "SourceKey.h"

#include <boost/asio/ip/address.hpp>

namespace tallowdesk::server {

std::string SourceKey(const std::string& address) {
    boost::system::error_code ec;
    auto parsed = boost::asio::ip::make_address(address, ec);
    if (ec) return address;
    if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
        parsed = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6());
    }
    if (parsed.is_loopback()) return "loopback";
    if (parsed.is_v4()) return parsed.to_string();
    auto bytes = parsed.to_v6().to_bytes();
    for (std::size_t i = 8; i < bytes.size(); ++i) bytes[i] = 0;
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

}  // namespace tallowdesk::server
