#pragma once

#include <memory>
#include <string>

#include "PgDb.h"
#include "Store.h"

namespace tallowdesk::server {

// The store in a PostgreSQL database, for several service processes that
// share one database and one content folder. Tables live in the first schema
// of the connection's search_path. Each call takes a connection of the pool;
// changes take the store's write lock in their transaction (PgTransaction),
// so they happen one at a time across processes, as in SQLite.
class PgStore final : public StoreBackend {
public:
    PgStore(const std::string& dataDir, int passwordIterations, const std::string& conninfo);
    ~PgStore() override;
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

    void AddAccount(const std::string& email, std::string_view password,
                    const std::string& displayName) override;
    bool AccountExists(const std::string& email) override;
    bool CreateAccount(const std::string& email, std::string_view password,
                       const std::string& displayName) override;
    std::string DisplayName(const std::string& email) override;
    std::string IssueAddressProof(const std::string& email) override;
    std::optional<std::string> ProveAddress(const std::string& token) override;
    bool ConfirmAccount(const std::string& email) override;
    bool AccountConfirmed(const std::string& email) override;
    PasswordCheck CheckPassword(const std::string& email, std::string_view password) override;
    void SetDisabled(const std::string& email, bool disabled) override;
    void RecordFailure(const std::string& email) override;
    void ClearFailures(const std::string& email) override;
    bool CaptchaRequired(const std::string& email) override;
    void SetCaptchaRequired(const std::string& email, bool required) override;
    std::string IssueToken(const std::string& email, const std::string& service) override;
    std::optional<std::string> TokenOwner(const std::string& token,
                                          const std::string& service) override;
    Session CreateSession(const std::string& email) override;
    std::optional<std::string> SessionOwner(const std::string& sid,
                                            const std::string& hsid) override;
    void EndSession(const std::string& sid) override;
    void AgeSecretsForTest(std::int64_t millis) override;
    std::optional<StoredEntry> GetEntry(const std::string& id) override;
    std::optional<StoredEntry> GetEntryFor(const std::string& viewer,
                                           const std::string& id) override;
    Access AccessOf(const std::string& user, const std::string& id) override;
    ListResult List(const ListQuery& query) override;
    StoredEntry Create(const std::string& owner, const NewEntry& entry) override;
    std::optional<StoredEntry> ReplaceContent(const std::string& id, const std::string& editor,
                                              const std::string& contentFile,
                                              const std::string& ifMatch) override;
    std::optional<StoredEntry> Update(const std::string& id, const std::string& editor,
                                      const std::optional<std::string>& title,
                                      const std::optional<bool>& starred,
                                      const std::string& ifMatch) override;
    bool IsSelfOrBelow(const std::string& id, const std::string& candidate) override;
    void SetWritersCanInvite(const std::string& id, bool allowed) override;
    StoredEntry AddParent(const std::string& id, const std::string& folderId) override;
    bool RemoveParent(const std::string& id, const std::string& folderId) override;
    void Trash(const std::string& id) override;
    void Restore(const std::string& id) override;
    void Delete(const std::string& id) override;
    std::string ContentPath(const std::string& id) const override;
    void AddAclRule(const std::string& id, const std::string& scopeType, const std::string& scope,
                    const std::string& role) override;
    std::vector<AclRow> AclRules(const std::string& id) override;
    std::optional<AclRow> FindAclRule(const std::string& id, const std::string& scopeType,
                                      const std::string& scope) override;
    bool RemoveAclRule(const std::string& id, const std::string& scopeType,
                       const std::string& scope) override;
    void AddGroupMember(const std::string& group, const std::string& member) override;
    std::int64_t UsageBytes(const std::string& owner) override;
    const Reconciliation& LastReconciliation() const override { return m_reconciliation; }
    std::vector<std::string> CheckConsistency() override;
    const std::string& PageKeySecret() const override { return m_pageKeySecret; }
    std::optional<std::string> Meta(const std::string& key) override;
    void SetMeta(const std::string& key, const std::string& value) override;

private:
    void Migrate();
    void Reconcile();

    std::string m_dataDir;
    int m_passwordIterations;
    PgPool m_pool;
    Reconciliation m_reconciliation;
    std::string m_pageKeySecret;
};

}  // namespace tallowdesk::server
