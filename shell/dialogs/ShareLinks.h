#pragma once

#include <filesystem>
#include <string>

namespace tallowdesk::shell {

// Hosts of the mail and social-network share pages. Defaults are the public
// services; Config.xml may override each with an element under its root
// "configure" ("mailhost", "buzzhost", "facebookhost", "twitterhost").
struct ShareLinkHosts {
    std::string mail = "mail.google.com";
    std::string buzz = "www.google.com";
    std::string facebook = "www.facebook.com";
    std::string twitter = "twitter.com";
};

ShareLinkHosts ReadShareLinkHosts(const std::filesystem::path& configFile);

// The four share addresses of an entry.
struct ShareLinks {
    std::string gmail;
    std::string buzz;
    std::string facebook;
    std::string twitter;
};

// The entry's web address and its title are both percent-encoded (UTF-8,
// everything but letters, digits and "-._~"): a title with "&" or "#" would
// otherwise cut or rewrite the link.
ShareLinks BuildShareLinks(const std::string& title, const std::string& webAddress,
                           const ShareLinkHosts& hosts);

// curl_easy_escape's encoding, done here so the shell needs no libcurl.
std::string PercentEncode(const std::string& text);

}  // namespace tallowdesk::shell
