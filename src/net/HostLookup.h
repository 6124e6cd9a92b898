#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace tarn {

// One address a server name stands for, ready for socket() and connect().
struct ResolvedAddress {
    int family = 0;
    int socktype = 0;
    int protocol = 0;
    sockaddr_storage addr{};
    socklen_t length = 0;
};

// A blocking name lookup (the system's resolver, or a stand-in in tests). Throws TarnError
// of kind HostNotFound when the name has no address.
using HostLookup = std::function<std::vector<ResolvedAddress>(const std::string& host, int port)>;

// getaddrinfo() for TCP, IPv4 and IPv6.
HostLookup systemHostLookup();

// Runs the lookup on a helper thread and waits at most timeout for it. A lookup that takes
// longer fails with a TarnError of kind TimedOut; the helper ends on its own whenever the
// resolver gives up, and its late answer is thrown away.
std::vector<ResolvedAddress> resolveWithin(const HostLookup& lookup, const std::string& host,
                                           int port, std::chrono::milliseconds timeout);

} // namespace tarn
