#include "platform/keyring/SecretServiceStore.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarn {

namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {SecretServiceStore::kSchemaName,
                                   SECRET_SCHEMA_NONE,
                                   {
                                       {"folder", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   },
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

// One call's state, shared by the caller and the helper thread, whichever ends last.
struct Call {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    GCancellable* cancellable = g_cancellable_new();
    SecretAnswer answer;
    ~Call() { g_object_unref(cancellable); }
};

std::string errorText(GError* error) {
    std::string text = error && error->message ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    return text;
}

std::string timedOutText(std::chrono::milliseconds limit) {
    return "the keyring did not answer within " + std::to_string(limit.count()) +
           " ms (it may be locked)";
}

// Runs work(cancellable) on a helper thread; after limit the call is cancelled and the
// caller goes on with a failure. The helper ends when libsecret notices the cancellation.
SecretAnswer bounded(std::chrono::milliseconds limit,
                     std::function<SecretAnswer(GCancellable*)> work) {
    auto call = std::make_shared<Call>();
    try {
        std::thread([call, work = std::move(work)] {
            SecretAnswer a = work(call->cancellable);
            std::lock_guard lock(call->mutex);
            call->answer = std::move(a);
            call->finished = true;
            call->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {SecretAnswer::Status::Failed, {}, "no thread could be started for the keyring"};
    }
    std::unique_lock lock(call->mutex);
    if (!call->done.wait_for(lock, limit, [&] { return call->finished; })) {
        g_cancellable_cancel(call->cancellable);
        return {SecretAnswer::Status::Failed, {}, timedOutText(limit)};
    }
    return call->answer;
}

SecretAnswer failure(GError* error) {
    return {SecretAnswer::Status::Failed, {}, errorText(error)};
}

} // namespace

bool SecretServiceStore::available(std::chrono::milliseconds limit) {
    const int ms = static_cast<int>(limit.count());
    const SecretAnswer a = bounded(limit, [ms](GCancellable* cancel) -> SecretAnswer {
        GError* error = nullptr;
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancel, &error);
        if (!bus)
            return failure(error);
        // Running, or started on demand by the bus.
        bool found = false;
        GVariant* owner = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, ms, cancel, nullptr);
        if (owner) {
            gboolean has = FALSE;
            g_variant_get(owner, "(b)", &has);
            found = has;
            g_variant_unref(owner);
        }
        if (!found) {
            GVariant* names = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, ms,
                cancel, nullptr);
            if (names) {
                GVariantIter* iter = nullptr;
                const gchar* name = nullptr;
                g_variant_get(names, "(as)", &iter);
                while (g_variant_iter_next(iter, "&s", &name))
                    found = found || g_strcmp0(name, "org.freedesktop.secrets") == 0;
                g_variant_iter_free(iter);
                g_variant_unref(names);
            }
        }
        g_object_unref(bus);
        return {found ? SecretAnswer::Status::Found : SecretAnswer::Status::NotFound, {}, {}};
    });
    return a.status == SecretAnswer::Status::Found;
}

SecretAnswer SecretServiceStore::read(const SecretKey& key, std::chrono::milliseconds limit) {
    return bounded(limit, [key](GCancellable* cancel) -> SecretAnswer {
        GError* error = nullptr;
        SecretValue* value = secret_password_lookup_binary_sync(
            schema(), cancel, &error, "folder", key.folder.c_str(), "account", key.account.c_str(),
            "kind", secretKindName(key.kind), nullptr);
        if (error)
            return failure(error);
        if (!value)
            return {SecretAnswer::Status::NotFound, {}, {}};
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        SecretAnswer found{SecretAnswer::Status::Found, std::string(bytes, length), {}};
        secret_value_unref(value);
        return found;
    });
}

std::string SecretServiceStore::write(const SecretKey& key, const std::string& label,
                                      const std::string& secret, std::chrono::milliseconds limit) {
    const SecretAnswer a = bounded(limit, [key, label, secret](GCancellable* cancel) {
        GError* error = nullptr;
        SecretValue* value =
            secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
        const gboolean stored = secret_password_store_binary_sync(
            schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, cancel, &error, "folder",
            key.folder.c_str(), "account", key.account.c_str(), "kind", secretKindName(key.kind),
            nullptr);
        secret_value_unref(value);
        if (!stored)
            return failure(error);
        return SecretAnswer{SecretAnswer::Status::Found, {}, {}};
    });
    return a.status == SecretAnswer::Status::Found ? std::string() : a.error;
}

std::string SecretServiceStore::remove(const SecretKey& key, std::chrono::milliseconds limit) {
    const SecretAnswer a = bounded(limit, [key](GCancellable* cancel) {
        GError* error = nullptr;
        secret_password_clear_sync(schema(), cancel, &error, "folder", key.folder.c_str(),
                                   "account", key.account.c_str(), "kind", secretKindName(key.kind),
                                   nullptr);
        if (error)
            return failure(error);
        return SecretAnswer{SecretAnswer::Status::Found, {}, {}};
    });
    return a.status == SecretAnswer::Status::Found ? std::string() : a.error;
}

} // namespace tarn
