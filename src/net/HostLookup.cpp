#include "net/HostLookup.h"

#include "core/TarnError.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <thread>

namespace tarn {

HostLookup systemHostLookup() {
    return [](const std::string& host, int port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        const int gai = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        if (gai != 0)
            throw TarnError(ErrorKind::HostNotFound,
                            "Host " + host + " not found: " + ::gai_strerror(gai));
        std::vector<ResolvedAddress> out;
        for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
            if (ai->ai_addrlen > sizeof(sockaddr_storage))
                continue;
            ResolvedAddress a;
            a.family = ai->ai_family;
            a.socktype = ai->ai_socktype;
            a.protocol = ai->ai_protocol;
            std::memcpy(&a.addr, ai->ai_addr, ai->ai_addrlen);
            a.length = ai->ai_addrlen;
            out.push_back(a);
        }
        ::freeaddrinfo(list);
        return out;
    };
}

namespace {

// Shared by the waiting caller and the helper thread, so whichever finishes last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<ResolvedAddress> addresses;
    // A failure crosses over as kind and text, not as the exception object itself, which
    // the helper would otherwise still share with the caller that throws it.
    bool failed = false;
    ErrorKind errorKind = ErrorKind::Other;
    std::string errorText;
};

} // namespace

std::vector<ResolvedAddress> resolveWithin(const HostLookup& lookup, const std::string& host,
                                           int port, std::chrono::milliseconds timeout) {
    auto state = std::make_shared<Lookup>();
    try {
        std::thread([state, lookup, host, port] {
            std::vector<ResolvedAddress> found;
            bool failed = false;
            ErrorKind kind = ErrorKind::Other;
            std::string text;
            try {
                found = lookup(host, port);
            } catch (const TarnError& e) {
                failed = true;
                kind = e.kind();
                text = e.what();
            } catch (const std::exception& e) {
                failed = true;
                kind = ErrorKind::HostNotFound;
                text = "Host " + host + " not found: " + e.what();
            }
            std::lock_guard<std::mutex> lock(state->mutex);
            state->addresses = std::move(found);
            state->failed = failed;
            state->errorKind = kind;
            state->errorText = std::move(text);
            state->finished = true;
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        throw TarnError(ErrorKind::LocalError,
                        std::string("Could not start the name lookup: ") + e.what());
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    if (!state->done.wait_for(lock, timeout, [&] { return state->finished; }))
        throw TarnError(ErrorKind::TimedOut, "Looking up " + host + " timed out after " +
                                                 std::to_string(timeout.count()) + " ms.");
    if (state->failed)
        throw TarnError(state->errorKind, state->errorText);
    if (state->addresses.empty())
        throw TarnError(ErrorKind::HostNotFound, "Host " + host + " not found: no address.");
    return std::move(state->addresses);
}

} // namespace tarn
