#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tallowdesk::server {

// Counts failed sign-ins and decides when a CAPTCHA is due and how long an
// attempt waits. Addresses with and without an account are counted alike,
// so no answer tells which exist. Three counts, each forgotten
// kFailureWindowMs after its first failure:
//  - per account and source: a few failures make that pair solve a picture;
//  - per account from anywhere: more failures make every source solve one,
//    and space the account's attempts further apart each time (the answer
//    waits, the password check is not refused), so guessing from many
//    addresses gains nothing;
//  - per source over all accounts: many failures make that source solve a
//    picture for every account it tries.
// Nothing here refuses the right password for good: the owner can always
// solve the picture. Kept in memory; a restart starts the counts afresh.
// Thread-safe.
class SignInGuard {
public:
    // Whether this attempt must solve a picture before its password is checked.
    bool CaptchaDue(const std::string& account, const std::string& source);
    // Milliseconds the answer to this attempt waits; nullopt when the
    // account already has as many attempts waiting as it may, and the
    // attempt is to be refused unchecked. One that solved a picture always
    // gets a place.
    std::optional<std::int64_t> Reserve(const std::string& account, bool solvedCaptcha);
    void RecordFailure(const std::string& account, const std::string& source);
    // A successful sign-in forgets the account's failures, and lets that
    // account through from that source however many failures the source
    // has with other accounts: strangers sharing an address cannot lock
    // its owner out.
    void Clear(const std::string& account, const std::string& source);
    // Whether this account signed in from this source lately (see Clear).
    bool Trusted(const std::string& account, const std::string& source);

    // How far apart an account's attempts are spaced after `failures` failures.
    static std::int64_t SpacingMs(int failures);

private:
    struct Count {
        int failures = 0;
        std::int64_t since = 0;
        std::int64_t nextSlot = 0;  // accounts only: when the next attempt may be answered
    };
    void ExpireLocked(std::int64_t now);
    static void Bump(std::map<std::string, Count>& counts, const std::string& key,
                     std::int64_t now);

    std::mutex m_mutex;
    std::map<std::string, Count> m_accounts;
    std::map<std::string, Count> m_pairs;  // account + '\n' + source
    std::map<std::string, Count> m_sources;
    std::map<std::string, std::int64_t> m_trusted;  // pair -> when it last signed in
    std::int64_t m_lastExpiry = 0;
};

}  // namespace tallowdesk::server
