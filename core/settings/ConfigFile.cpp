#include "ConfigFile.h"

#include <fcntl.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "CPasswordEncryption.h"
#include "TextEncoding.h"

namespace tallowdesk {

namespace fs = std::filesystem;
using tinyxml2::XMLElement;

namespace {

constexpr char kEmptyLayout[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<configure>\n"
    "    <user>\n"
    "        <email></email>\n"
    "        <password></password>\n"
    "    </user>\n"
    "    <fileautoconvert>false</fileautoconvert>\n"
    "    <autoupdatecheck>true</autoupdatecheck>\n"
    "</configure>\n";

// Writes the whole text next to the target and renames it over, so a crash
// never leaves a half-written settings file. The temporary file has a name of
// its own: two programs saving at once (the window and the command line) must
// not write into the same one.
bool WriteFileAtomically(const fs::path& path, std::string_view text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::string pattern = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return false;
    const fs::path tmp = pattern;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace

fs::path ConfigFile::DefaultPath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".config";
    } else {
        // A shared folder such as /tmp would let another local user plant
        // hosts, "verifypeer" or a CA for us.
        throw std::runtime_error(kNoPrivateFolderMessage);
    }
    return base / "Tallowdesk" / "Config.xml";
}

ConfigFile::ConfigFile() : ConfigFile(DefaultPath()) {}

ConfigFile::ConfigFile(fs::path path) : m_path(std::move(path)) {
    auto doc = std::make_unique<tinyxml2::XMLDocument>();
    std::error_code ec;
    if (!fs::exists(m_path, ec) && !ec) {
        if (doc->Parse(kEmptyLayout) == tinyxml2::XML_SUCCESS) {
            m_doc = std::move(doc);
            Save();  // a failure leaves the defaults in memory; writes report it
        }
        return;
    }
    if (doc->LoadFile(m_path.c_str()) == tinyxml2::XML_SUCCESS) m_doc = std::move(doc);
}

ConfigFile::~ConfigFile() = default;

XMLElement* ConfigFile::Element(std::initializer_list<const char*> path) const {
    if (!m_doc) return nullptr;
    XMLElement* e = m_doc->FirstChildElement("configure");
    for (const char* name : path) {
        if (!e) return nullptr;
        e = e->FirstChildElement(name);
    }
    return e;
}

std::optional<std::string> ConfigFile::Text(std::initializer_list<const char*> path) const {
    const XMLElement* e = Element(path);
    const char* text = e ? e->GetText() : nullptr;
    if (!text) return std::nullopt;
    return ConfigTextToUtf8(text);
}

void ConfigFile::ReplaceText(XMLElement& element, std::string_view text) {
    element.DeleteChildren();
    element.InsertEndChild(element.GetDocument()->NewText(std::string(text).c_str()));
}

bool ConfigFile::Save() {
    if (!m_doc) return false;
    tinyxml2::XMLPrinter printer;
    m_doc->Print(&printer);
    // CStrSize counts the terminating zero.
    return WriteFileAtomically(m_path, std::string_view(printer.CStr(), printer.CStrSize() - 1));
}

std::optional<std::string> ConfigFile::GetSavedEmail() const {
    std::optional<std::string> email = Text({"user", "email"});
    if (email && email->empty()) return std::nullopt;
    return email;
}

std::optional<std::string> ConfigFile::GetSavedPassword() const {
    const XMLElement* e = Element({"user", "password"});
    const char* hex = e ? e->GetText() : nullptr;
    if (!hex) return std::nullopt;
    return ConfigTextToUtf8(CPasswordEncryption().Decrypt(hex));
}

bool ConfigFile::SaveUser(std::string_view email, std::string_view password) {
    if (!Element({"user"})) return false;
    if (XMLElement* e = Element({"user", "email"})) ReplaceText(*e, email);
    XMLElement* p = Element({"user", "password"});
    if (!p) return false;
    ReplaceText(*p, CPasswordEncryption().Encrypt(password));
    return Save();
}

void ConfigFile::ClearUser() {
    if (!Element({"user"})) return;
    if (XMLElement* e = Element({"user", "email"})) e->DeleteChildren();
    if (XMLElement* p = Element({"user", "password"})) p->DeleteChildren();
    Save();
}

bool ConfigFile::HasSavedPassword() const {
    const std::optional<std::string> hex = Text({"user", "password"});
    return hex && !hex->empty();
}

bool ConfigFile::ForgetPassword() {
    XMLElement* p = Element({"user", "password"});
    if (!p) return false;
    p->DeleteChildren();
    return Save();
}

bool ConfigFile::GetPasswordInKeyring() const {
    return Text({"passwordinkeyring"}) == "true";
}

bool ConfigFile::SetPasswordInKeyring(bool on) {
    XMLElement* root = m_doc ? m_doc->FirstChildElement("configure") : nullptr;
    if (!root) return false;
    XMLElement* e = root->FirstChildElement("passwordinkeyring");
    if (!e) e = root->InsertNewChildElement("passwordinkeyring");
    ReplaceText(*e, on ? "true" : "false");
    return Save();
}

bool ConfigFile::GetFileAutoConvert() const {
    return Text({"fileautoconvert"}) == "true";
}

bool ConfigFile::GetAutoUpdateCheck() const {
    return Text({"autoupdatecheck"}) != "false";
}

void ConfigFile::SetFileAutoConvert(bool on) {
    if (XMLElement* e = Element({"fileautoconvert"})) {
        ReplaceText(*e, on ? "true" : "false");
        Save();
    }
}

void ConfigFile::SetAutoUpdateCheck(bool on) {
    if (XMLElement* e = Element({"autoupdatecheck"})) {
        ReplaceText(*e, on ? "true" : "false");
        Save();
    }
}

ServiceHosts ConfigFile::GetServiceHosts() const {
    ServiceHosts h = ServiceHosts::Defaults();
    const auto override = [this](const char* name, std::string& field) {
        if (std::optional<std::string> v = Text({name}); v && !v->empty()) field = *v;
    };
    override("docshost", h.docsHost);
    override("accountshost", h.accountsHost);
    override("schemashost", h.schemasHost);
    override("updatehost", h.updateHost);
    override("homehost", h.homeHost);
    override("groupsmaildomain", h.groupsMailDomain);
    override("cafile", h.caFile);
    h.verifyPeer = Text({"verifypeer"}) != "false";
    return h;
}

}  // namespace tallowdesk
