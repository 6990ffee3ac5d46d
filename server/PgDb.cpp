#include "PgDb.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>

namespace tallowdesk::server {

namespace {

constexpr Oid kTextOid = 25;

[[noreturn]] void Fail(PGconn* conn, const std::string& what) {
    std::string message = conn ? PQerrorMessage(conn) : "no connection";
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
        message.pop_back();
    }
    throw std::runtime_error("PostgreSQL: " + what + ": " + message);
}

// ?N becomes $N outside quoted text; `referenced` collects every N.
std::string DollarPlaceholders(std::string_view sql, std::set<int>& referenced) {
    std::string out;
    out.reserve(sql.size());
    bool quoted = false;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (c == '\'') quoted = !quoted;
        if (!quoted && c == '?' && i + 1 < sql.size() &&
            std::isdigit(static_cast<unsigned char>(sql[i + 1]))) {
            int n = 0;
            std::size_t j = i + 1;
            while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) {
                n = n * 10 + (sql[j] - '0');
                ++j;
            }
            referenced.insert(n);
            out += '$';
            out += std::to_string(n);
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

// What a text column can hold: UTF-8 without NUL.
bool PgQuery::Storable(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) return false;
        std::size_t length = c < 0x80         ? 1
                             : (c >> 5) == 6  ? 2
                             : (c >> 4) == 14 ? 3
                             : (c >> 3) == 30 ? 4
                                              : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t code = length == 1 ? c : c & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kLeast[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        i += length;
    }
    return true;
}

namespace {

bool IsQuery(std::string_view sql) {
    return sql.rfind("SELECT", 0) == 0 || sql.rfind("WITH", 0) == 0 || sql.rfind("(SELECT", 0) == 0;
}

}  // namespace

PgConnection::PgConnection(const std::string& conninfo) {
    m_conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        std::string message = PQerrorMessage(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
            message.pop_back();
        }
        throw std::runtime_error("Cannot connect to the PostgreSQL database: " + message);
    }
    // Messages of the server (NOTICE: relation exists...) stay out of our output.
    Exec("SET client_min_messages = warning");
}

PgConnection::~PgConnection() {
    if (m_conn) PQfinish(m_conn);
}

void PgConnection::Exec(const std::string& sql) {
    PGresult* r = PQexec(m_conn, sql.c_str());
    const auto status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        PQclear(r);
        Fail(m_conn, "statement failed");
    }
    PQclear(r);
}

bool PgConnection::Healthy() const {
    return m_conn && PQstatus(m_conn) == CONNECTION_OK &&
           PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

PgQuery::PgQuery(PgConnection& db, std::string_view sql) : m_db(db), m_sql(sql) {}

PgQuery::~PgQuery() {
    if (m_result) PQclear(m_result);
}

PgQuery& PgQuery::Bind(int index, std::string_view text) {
    if (!Storable(text)) m_unstorable = true;
    m_params[index] = std::string(text);
    return *this;
}

PgQuery& PgQuery::Bind(int index, std::int64_t value) {
    m_params[index] = std::to_string(value);
    return *this;
}

PgQuery& PgQuery::BindBlob(int index, const std::vector<unsigned char>& blob) {
    static const char kHex[] = "0123456789abcdef";
    std::string text = "\\x";
    for (const unsigned char b : blob) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    m_params[index] = std::move(text);
    return *this;
}

void PgQuery::Execute() {
    // SQLite keeps any bytes; a PostgreSQL text column only UTF-8. No stored
    // row can equal such a value, so a lookup finds nothing (as it would in
    // SQLite); a change that would store it is refused.
    if (m_unstorable) {
        if (!IsQuery(m_sql)) {
            throw std::invalid_argument(
                "Text that is not UTF-8, or holds a NUL, cannot be stored in PostgreSQL");
        }
        m_empty = true;
        return;
    }
    std::set<int> referenced;
    const std::string sql = DollarPlaceholders(m_sql, referenced);
    int count = referenced.empty() ? 0 : *referenced.rbegin();
    if (!m_params.empty()) count = std::max(count, m_params.rbegin()->first);
    // Parameters the text does not name (a listing binds all it may use)
    // still need a type.
    std::vector<Oid> types(static_cast<std::size_t>(count), 0);
    std::vector<const char*> values(static_cast<std::size_t>(count), nullptr);
    for (int i = 1; i <= count; ++i) {
        const auto it = m_params.find(i);
        if (it != m_params.end()) values[static_cast<std::size_t>(i - 1)] = it->second.c_str();
        if (!referenced.count(i) || it == m_params.end()) {
            types[static_cast<std::size_t>(i - 1)] = kTextOid;
        }
    }
    m_result = PQexecParams(m_db.Handle(), sql.c_str(), count, types.data(), values.data(), nullptr,
                            nullptr, 0);
    const auto status = PQresultStatus(m_result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::string message = PQresultErrorMessage(m_result);
        while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
            message.pop_back();
        }
        PQclear(m_result);
        m_result = nullptr;
        throw std::runtime_error("PostgreSQL: " + message);
    }
}

void PgQuery::Run() {
    if (!m_result && !m_empty) Execute();
}

bool PgQuery::Step() {
    if (!m_result && !m_empty) Execute();
    if (m_empty) return false;
    ++m_row;
    return m_row < PQntuples(m_result);
}

std::int64_t PgQuery::Changes() {
    if (!m_result && !m_empty) Execute();
    if (m_empty) return 0;
    const char* n = PQcmdTuples(m_result);
    return (n && *n) ? std::strtoll(n, nullptr, 10) : 0;
}

std::string PgQuery::Text(int column) const {
    return PQgetvalue(m_result, m_row, column);
}

std::optional<std::string> PgQuery::OptText(int column) const {
    if (PQgetisnull(m_result, m_row, column)) return std::nullopt;
    return Text(column);
}

std::int64_t PgQuery::Int(int column) const {
    const char* v = PQgetvalue(m_result, m_row, column);
    if (v[0] == 't' && v[1] == '\0') return 1;
    if (v[0] == 'f' && v[1] == '\0') return 0;
    return std::strtoll(v, nullptr, 10);
}

std::vector<unsigned char> PgQuery::Blob(int column) const {
    std::size_t length = 0;
    unsigned char* bytes = PQunescapeBytea(
        reinterpret_cast<const unsigned char*>(PQgetvalue(m_result, m_row, column)), &length);
    if (!bytes) throw std::runtime_error("PostgreSQL: unreadable bytes in a result");
    std::vector<unsigned char> blob(bytes, bytes + length);
    PQfreemem(bytes);
    return blob;
}

PgTransaction::PgTransaction(PgConnection& db, Kind kind) : m_db(db) {
    if (kind == Kind::Read) {
        // One snapshot for the statements of a read, as a SQLite reader has.
        m_db.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        return;
    }
    m_db.Exec("BEGIN");
    try {
        // Keyed by the schema, so stores in other schemas of the same
        // cluster do not wait for each other.
        m_db.Exec(kind == Kind::SharedState
                      ? "SELECT pg_advisory_xact_lock(hashtext(current_schema() || "
                        "'/shared-state'))"
                      : "SELECT pg_advisory_xact_lock(hashtext(current_schema()))");
    } catch (...) {
        PGresult* r = PQexec(m_db.Handle(), "ROLLBACK");
        PQclear(r);
        throw;
    }
}

PgTransaction::~PgTransaction() {
    if (!m_done) {
        PGresult* r = PQexec(m_db.Handle(), "ROLLBACK");
        PQclear(r);
    }
}

void PgTransaction::Commit() {
    m_db.Exec("COMMIT");
    m_done = true;
}

PgPool::PgPool(std::string conninfo, std::string setup)
    : m_conninfo(std::move(conninfo)), m_setup(std::move(setup)) {}

PgPool::~PgPool() = default;

PgPool::Lease::Lease(PgPool& owner, std::unique_ptr<PgConnection> db)
    : m_owner(owner), m_db(std::move(db)) {}

PgPool::Lease::~Lease() {
    m_owner.Give(std::move(m_db));
}

PgPool::Lease PgPool::Take() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            auto db = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(*this, std::move(db));
        }
    }
    auto db = std::make_unique<PgConnection>(m_conninfo);
    if (!m_setup.empty()) db->Exec(m_setup);
    return Lease(*this, std::move(db));
}

void PgPool::Give(std::unique_ptr<PgConnection> db) {
    if (!db || !db->Healthy()) return;
    std::lock_guard lock(m_mutex);
    if (m_idle.size() < kMaxIdle) m_idle.push_back(std::move(db));
}

}  // namespace tallowdesk::server
