#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarn {

// One SRV record (RFC 2782): where a service is offered.
struct SrvRecord {
    std::uint16_t priority = 0;
    std::uint16_t weight = 0;
    std::uint16_t port = 0;
    std::string target; // "." when the service is decidedly not offered
};

// One MX record: the host that takes a domain's mail.
struct MxRecord {
    std::uint16_t preference = 0;
    std::string host;
};

// What one query brought: records, or why none (worded for a log).
struct DnsAnswer {
    bool ok = false; // the name answered; it may still have no records of the type
    std::string error;
    std::vector<SrvRecord> srv;
    std::vector<MxRecord> mx;
};

// The DNS queries the settings search makes; tests bind stand-ins. Both are blocking: a caller
// that needs a deadline runs them on a thread it can stop waiting for.
struct DnsResolver {
    std::function<DnsAnswer(const std::string& name)> srv;
    std::function<DnsAnswer(const std::string& domain)> mx;
};

// res_nquery() and ns_parse from the C library's resolver, a few seconds per try.
DnsResolver systemDnsResolver();

// The records of a DNS answer message, read with ns_parse; records of other types are skipped.
// ok is false for a message that does not parse.
DnsAnswer parseDnsAnswer(const unsigned char* message, std::size_t length);

// Lowest priority first; within one priority the heavier weight first (a settings search
// needs one server, and the weight says which one the domain prefers).
std::vector<SrvRecord> orderSrvRecords(std::vector<SrvRecord> records);

} // namespace tarn
