#include "SignInGuard.h"

#include <algorithm>

#include "Limits.h"
#include "Store.h"

namespace tallowdesk::server {

namespace {

// Entries per map at most: a flood of made-up addresses evicts the oldest
// counts instead of growing without end.
constexpr std::size_t kMaxCounted = 20000;
// How long a successful sign-in exempts its pair from its source's count.
constexpr std::int64_t kTrustMs = 24ll * 60 * 60 * 1000;

std::string PairKey(const std::string& account, const std::string& source) {
    return account + '\n' + source;
}

}  // namespace

std::int64_t SignInGuard::SpacingMs(int failures) {
    if (failures < kPairFailuresForCaptcha) return 0;
    const int doublings = std::min(failures - kPairFailuresForCaptcha, 16);
    return std::min<std::int64_t>(kSignInSpacingStartMs << doublings, kSignInSpacingMaxMs);
}

void SignInGuard::ExpireLocked(std::int64_t now) {
    // Once a second is enough: the window is minutes long.
    if (now - m_lastExpiry < 1000) return;
    m_lastExpiry = now;
    for (auto* counts : {&m_accounts, &m_pairs, &m_sources}) {
        for (auto it = counts->begin(); it != counts->end();) {
            const bool old = now - it->second.since > kFailureWindowMs && it->second.nextSlot < now;
            it = old ? counts->erase(it) : std::next(it);
        }
    }
    for (auto it = m_trusted.begin(); it != m_trusted.end();) {
        it = now - it->second > kTrustMs ? m_trusted.erase(it) : std::next(it);
    }
}

void SignInGuard::Bump(std::map<std::string, Count>& counts, const std::string& key,
                       std::int64_t now) {
    if (counts.size() >= kMaxCounted && !counts.count(key)) counts.erase(counts.begin());
    Count& count = counts[key];
    if (count.failures == 0) count.since = now;
    ++count.failures;
}

bool SignInGuard::CaptchaDue(const std::string& account, const std::string& source) {
    std::lock_guard lock(m_mutex);
    ExpireLocked(NowMillis());
    auto failures = [](const std::map<std::string, Count>& counts, const std::string& key) {
        const auto it = counts.find(key);
        return it == counts.end() ? 0 : it->second.failures;
    };
    const std::string pair = PairKey(account, source);
    return failures(m_pairs, pair) >= kPairFailuresForCaptcha ||
           failures(m_accounts, account) >= kAccountFailuresForCaptcha ||
           (failures(m_sources, source) >= kMaxAddressFailures && !m_trusted.count(pair));
}

std::optional<std::int64_t> SignInGuard::Reserve(const std::string& account, bool solvedCaptcha) {
    std::lock_guard lock(m_mutex);
    const auto now = NowMillis();
    ExpireLocked(now);
    const auto it = m_accounts.find(account);
    if (it == m_accounts.end()) return 0;
    Count& count = it->second;
    const std::int64_t spacing = SpacingMs(count.failures);
    const std::int64_t slot = std::max(now, count.nextSlot);
    if (slot - now > kMaxSignInWaitMs) {
        if (!solvedCaptcha) return std::nullopt;
        return kMaxSignInWaitMs;
    }
    count.nextSlot = slot + spacing;
    return slot - now;
}

bool SignInGuard::Trusted(const std::string& account, const std::string& source) {
    std::lock_guard lock(m_mutex);
    ExpireLocked(NowMillis());
    return m_trusted.count(PairKey(account, source)) != 0;
}

void SignInGuard::RecordFailure(const std::string& account, const std::string& source) {
    std::lock_guard lock(m_mutex);
    const auto now = NowMillis();
    ExpireLocked(now);
    Bump(m_accounts, account, now);
    Bump(m_pairs, PairKey(account, source), now);
    Bump(m_sources, source, now);
    m_trusted.erase(PairKey(account, source));
}

void SignInGuard::Clear(const std::string& account, const std::string& source) {
    std::lock_guard lock(m_mutex);
    m_accounts.erase(account);
    m_pairs.erase(PairKey(account, source));
    if (m_trusted.size() >= kMaxCounted) m_trusted.erase(m_trusted.begin());
    m_trusted[PairKey(account, source)] = NowMillis();
}

}  // namespace tallowdesk::server
