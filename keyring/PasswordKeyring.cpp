#include "PasswordKeyring.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tallowdesk {

namespace {

const SecretSchema* Schema() {
    static const SecretSchema schema = {"io.tallowdesk.Tallowdesk.Password",
                                        SECRET_SCHEMA_NONE,
                                        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"NULL", static_cast<SecretSchemaAttributeType>(0)}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

// Owners of the GLib objects a call leaves behind.
struct ErrorOwner {
    GError* error = nullptr;
    ErrorOwner() = default;
    ErrorOwner(const ErrorOwner&) = delete;
    ErrorOwner& operator=(const ErrorOwner&) = delete;
    ~ErrorOwner() {
        if (error) g_error_free(error);
    }
};

struct ObjectListOwner {
    GList* list = nullptr;
    ObjectListOwner() = default;
    ObjectListOwner(const ObjectListOwner&) = delete;
    ObjectListOwner& operator=(const ObjectListOwner&) = delete;
    ~ObjectListOwner() { g_list_free_full(list, g_object_unref); }
};

// Cancels the call in progress when it outlives the timeout: a keyring that
// waits for a prompt nobody answers must not hold the caller for ever.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds timeout)
        : m_cancellable(g_cancellable_new()), m_thread([this, timeout] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, timeout, [this] { return m_finished; }))
                  g_cancellable_cancel(m_cancellable);
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
        g_object_unref(m_cancellable);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    GCancellable* Cancellable() const { return m_cancellable; }

private:
    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

PasswordKeyring::Reply FromError(const GError* error) {
    const std::string detail = error->message ? error->message : "";
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
        return {PasswordKeyring::Status::Locked,
                {},
                "The system keyring is locked. Unlock it (for example by signing in to the desktop "
                "again) and try once more."};
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        return {PasswordKeyring::Status::Locked,
                {},
                "The system keyring did not answer in time; it may be waiting to be unlocked."};
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR ||
        error->domain == G_SPAWN_ERROR)
        return {PasswordKeyring::Status::Unavailable,
                {},
                "No system keyring is available (no Secret Service answers: " + detail + ")."};
    return {PasswordKeyring::Status::Failed, {}, "The system keyring reported an error: " + detail};
}

}  // namespace

PasswordKeyring::PasswordKeyring(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

PasswordKeyring::Reply PasswordKeyring::Store(const std::string& account,
                                              const std::string& password) const {
    Deadline deadline(m_timeout);
    ErrorOwner e;
    const std::string label = "Tallowdesk password for " + account;
    const gboolean stored = secret_password_store_sync(
        Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(),
        deadline.Cancellable(), &e.error, "account", account.c_str(), nullptr);
    if (e.error) return FromError(e.error);
    if (!stored) return {Status::Failed, {}, "The system keyring did not store the password."};
    return {Status::Ok, {}, {}};
}

PasswordKeyring::Reply PasswordKeyring::Read(const std::string& account) const {
    Deadline deadline(m_timeout);
    // Locked items are found too, so that a locked keyring is told apart
    // from a missing password without asking the user to unlock it.
    ObjectListOwner found;
    {
        ErrorOwner e;
        found.list =
            secret_password_search_sync(Schema(), SECRET_SEARCH_ALL, deadline.Cancellable(),
                                        &e.error, "account", account.c_str(), nullptr);
        if (e.error) return FromError(e.error);
    }
    if (!found.list) return {Status::NotFound, {}, {}};
    bool anyUnlocked = false;
    for (GList* i = found.list; i; i = i->next) {
        if (SECRET_IS_ITEM(i->data) && !secret_item_get_locked(SECRET_ITEM(i->data)))
            anyUnlocked = true;
    }
    if (!anyUnlocked)
        return {Status::Locked,
                {},
                "The system keyring that holds the password is locked. Unlock it to sign in "
                "without typing the password."};

    ErrorOwner e;
    gchar* secret = secret_password_lookup_sync(Schema(), deadline.Cancellable(), &e.error,
                                                "account", account.c_str(), nullptr);
    if (e.error) return FromError(e.error);
    if (!secret) return {Status::NotFound, {}, {}};
    Reply reply{Status::Ok, secret, {}};
    secret_password_free(secret);
    return reply;
}

PasswordKeyring::Reply PasswordKeyring::Remove(const std::string& account) const {
    Deadline deadline(m_timeout);
    ErrorOwner e;
    secret_password_clear_sync(Schema(), deadline.Cancellable(), &e.error, "account",
                               account.c_str(), nullptr);
    if (e.error) return FromError(e.error);
    return {Status::Ok, {}, {}};
}

}  // namespace tallowdesk
