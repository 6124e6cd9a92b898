#include "net/DnsRecords.h"

#include <algorithm>
#include <memory>

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

namespace tarn {

namespace {

// An answer message larger than this is cut by the resolver and read as far as it goes.
constexpr int kMaxMessageBytes = 16 * 1024;

std::string withoutTrailingDot(std::string name) {
    if (name.size() > 1 && name.back() == '.')
        name.pop_back();
    return name;
}

DnsAnswer query(const std::string& name, int type) {
    DnsAnswer answer;
    auto state = std::make_unique<struct __res_state>();
    if (res_ninit(state.get()) != 0) {
        answer.error = "the resolver could not be set up";
        return answer;
    }
    // Bounded on its own as well: the caller's deadline only stops waiting for it.
    state->retrans = 3;
    state->retry = 2;
    std::vector<unsigned char> buffer(kMaxMessageBytes);
    const int n = res_nquery(state.get(), name.c_str(), ns_c_in, type, buffer.data(),
                             static_cast<int>(buffer.size()));
    const int herr = state->res_h_errno;
    res_nclose(state.get());
    if (n < 0) {
        switch (herr) {
        case HOST_NOT_FOUND:
            answer.error = name + ": no such name";
            break;
        case NO_DATA:
            answer.ok = true; // the name exists without records of this type
            break;
        case TRY_AGAIN:
            answer.error = name + ": no answer from the name server";
            break;
        default:
            answer.error = name + ": the DNS query failed";
            break;
        }
        return answer;
    }
    answer = parseDnsAnswer(buffer.data(), static_cast<std::size_t>(std::min(n, kMaxMessageBytes)));
    if (!answer.ok && answer.error.empty())
        answer.error = name + ": the DNS answer could not be read";
    return answer;
}

} // namespace

DnsAnswer parseDnsAnswer(const unsigned char* message, std::size_t length) {
    DnsAnswer answer;
    ns_msg msg;
    if (length > kMaxMessageBytes || ns_initparse(message, static_cast<int>(length), &msg) != 0)
        return answer;
    const int count = ns_msg_count(msg, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&msg, ns_s_an, i, &rr) != 0)
            return DnsAnswer{};
        if (ns_rr_class(rr) != ns_c_in)
            continue;
        const unsigned char* data = ns_rr_rdata(rr);
        const std::size_t size = ns_rr_rdlen(rr);
        char name[NS_MAXDNAME];
        if (ns_rr_type(rr) == ns_t_srv) {
            if (size < 7 ||
                dn_expand(ns_msg_base(msg), ns_msg_end(msg), data + 6, name, sizeof name) < 0)
                return DnsAnswer{};
            SrvRecord r;
            r.priority = ns_get16(data);
            r.weight = ns_get16(data + 2);
            r.port = ns_get16(data + 4);
            r.target = name[0] ? withoutTrailingDot(name) : ".";
            answer.srv.push_back(std::move(r));
        } else if (ns_rr_type(rr) == ns_t_mx) {
            if (size < 3 ||
                dn_expand(ns_msg_base(msg), ns_msg_end(msg), data + 2, name, sizeof name) < 0)
                return DnsAnswer{};
            MxRecord r;
            r.preference = ns_get16(data);
            r.host = name[0] ? withoutTrailingDot(name) : ".";
            answer.mx.push_back(std::move(r));
        }
    }
    answer.ok = true;
    return answer;
}

std::vector<SrvRecord> orderSrvRecords(std::vector<SrvRecord> records) {
    std::stable_sort(records.begin(), records.end(), [](const SrvRecord& a, const SrvRecord& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
    return records;
}

DnsResolver systemDnsResolver() {
    DnsResolver r;
    r.srv = [](const std::string& name) { return query(name, ns_t_srv); };
    r.mx = [](const std::string& domain) { return query(domain, ns_t_mx); };
    return r;
}

} // namespace tarn
