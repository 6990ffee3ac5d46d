#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ServiceHosts.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

namespace tallowdesk {

inline constexpr const char* kNoPrivateFolderMessage =
    "Neither HOME nor XDG_CONFIG_HOME is set, so there is no private folder for the settings. "
    "Set HOME and start again.";

// The user's settings file, Config.xml: the remembered account (password
// encrypted), the upload conversion and update check switches, and optional
// host overrides. Short-lived: load, ask or change, destroy. Every change is
// saved at once. Not shared between threads.
//
// A missing file is created with the empty layout so that settings can be
// stored; an unreadable or malformed file is left alone: reads give the
// defaults and writes are skipped.
class ConfigFile {
public:
    ConfigFile();  // DefaultPath()
    explicit ConfigFile(std::filesystem::path path);
    ~ConfigFile();
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    // $XDG_CONFIG_HOME/Tallowdesk/Config.xml, default ~/.config/Tallowdesk/Config.xml.
    // Throws std::runtime_error kNoPrivateFolderMessage when neither is set.
    static std::filesystem::path DefaultPath();
    const std::filesystem::path& Path() const { return m_path; }
    bool Loaded() const { return m_doc != nullptr; }

    std::optional<std::string> GetSavedEmail() const;
    // Throws std::runtime_error "Password Decryption failed.".
    std::optional<std::string> GetSavedPassword() const;
    // False when "user" or its "password" is missing or the save failed.
    // Throws std::runtime_error "Encryption failed.".
    bool SaveUser(std::string_view email, std::string_view password);
    void ClearUser();

    // Whether "user/password" holds a password (without decrypting it).
    bool HasSavedPassword() const;
    // Keeps the e-mail and drops the password ("user/password" left empty):
    // the form used while the password lives in the system keyring. False
    // when the save failed.
    bool ForgetPassword();
    // "passwordinkeyring": only "true" turns it on. Created in files that
    // lack it. False when the save failed.
    bool GetPasswordInKeyring() const;
    bool SetPasswordInKeyring(bool on);

    bool GetFileAutoConvert() const;  // only "true" turns it on
    bool GetAutoUpdateCheck() const;  // only "false" turns it off
    void SetFileAutoConvert(bool on);
    void SetAutoUpdateCheck(bool on);

    // The defaults, overridden by the optional elements "docshost",
    // "accountshost", "schemashost", "updatehost", "homehost",
    // "groupsmaildomain", "cafile" and "verifypeer" ("false" turns TLS peer
    // verification off) under "configure".
    ServiceHosts GetServiceHosts() const;

private:
    tinyxml2::XMLElement* Element(std::initializer_list<const char*> path) const;
    std::optional<std::string> Text(std::initializer_list<const char*> path) const;
    static void ReplaceText(tinyxml2::XMLElement& element, std::string_view text);
    bool Save();

    std::filesystem::path m_path;
    std::unique_ptr<tinyxml2::XMLDocument> m_doc;
};

}  // namespace tallowdesk
