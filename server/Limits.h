#pragma once

#include <cstddef>
#include <cstdint>

namespace tallowdesk::server {

// The service's limits in one place; server/README.md lists them for users.

// Request bodies other than file uploads: sign-in forms, Atom entries,
// sharing rules, upload session requests.
inline constexpr std::uint64_t kMaxSmallBody = 64 * 1024;
// Titles of entries and names of uploaded files, in characters.
inline constexpr std::size_t kMaxTitleChars = 1000;
// Entries on one feed page at most, whatever the page size option says.
inline constexpr std::size_t kMaxPageSize = 1000;
// A search (the q parameter): words and characters.
inline constexpr std::size_t kMaxSearchWords = 32;
inline constexpr std::size_t kMaxSearchChars = 1000;
// Failed sign-ins within kFailureWindowMs after which a CAPTCHA comes first:
// for one account from one source, for one account from anywhere, and for
// every account tried from one source.
inline constexpr int kPairFailuresForCaptcha = 3;
inline constexpr int kAccountFailuresForCaptcha = 10;
inline constexpr int kMaxAddressFailures = 20;
inline constexpr std::int64_t kFailureWindowMs = 15 * 60 * 1000;
// From the third failure on, an account's attempts are answered this far
// apart, doubling with each failure up to the maximum; an attempt that
// would wait longer than kMaxSignInWaitMs is refused with a new picture.
inline constexpr std::int64_t kSignInSpacingStartMs = 250;
inline constexpr std::int64_t kSignInSpacingMaxMs = 8000;
inline constexpr std::int64_t kMaxSignInWaitMs = 30000;
// Connections from one source, and from all sources together, that may sit
// between accepting and their first request; the oldest makes way for a
// new one.
inline constexpr int kMaxPendingPerSource = 32;
// Sign-in tokens and browser sessions end this long after their last use.
inline constexpr std::int64_t kTokenLifetimeMs = 14ll * 24 * 60 * 60 * 1000;
// The link that confirms the address of an account made by open sign-up.
inline constexpr std::int64_t kAddressProofLifetimeMs = 3ll * 24 * 60 * 60 * 1000;

// Browser upload sessions: at most this many open per account, and each ends
// unused this long after it was opened.
inline constexpr std::size_t kMaxOpenUploadSessions = 100;
inline constexpr std::int64_t kUploadSessionLifetimeMs = 24ll * 60 * 60 * 1000;

}  // namespace tallowdesk::server
