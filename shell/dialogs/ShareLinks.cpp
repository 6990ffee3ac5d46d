#include "ShareLinks.h"

#include <tinyxml2.h>

namespace tallowdesk::shell {

ShareLinkHosts ReadShareLinkHosts(const std::filesystem::path& configFile) {
    ShareLinkHosts hosts;
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(configFile.c_str()) != tinyxml2::XML_SUCCESS) return hosts;
    const tinyxml2::XMLElement* configure = doc.FirstChildElement("configure");
    if (!configure) return hosts;
    const auto read = [configure](const char* name, std::string& value) {
        const auto* element = configure->FirstChildElement(name);
        const char* text = element ? element->GetText() : nullptr;
        if (text && *text) value = text;
    };
    read("mailhost", hosts.mail);
    read("buzzhost", hosts.buzz);
    read("facebookhost", hosts.facebook);
    read("twitterhost", hosts.twitter);
    return hosts;
}

std::string PercentEncode(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

ShareLinks BuildShareLinks(const std::string& title, const std::string& webAddress,
                           const ShareLinkHosts& hosts) {
    const std::string address = PercentEncode(webAddress);
    const std::string name = PercentEncode(title);
    ShareLinks links;
    links.gmail = "https://" + hosts.mail +
                  "/mail/?view=cm&ui=2&cmid=0&fs=1&tearoff=1&body=" + name + "%20-%20" + address;
    links.buzz = "http://" + hosts.buzz + "/buzz/post?message=" + name + "%20-%20" + address +
                 "&url=" + address;
    links.facebook = "http://" + hosts.facebook + "/share.php?u=" + address + "&t=" + name;
    links.twitter = "http://" + hosts.twitter + "/home?status=" + name + "%20-%20" + address;
    return links;
}

}  // namespace tallowdesk::shell
