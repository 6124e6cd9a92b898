// What the settings search reads from the network: a configuration document and a DNS answer.
#include "mailproto/AutoconfigDocument.h"
#include "net/DnsRecords.h"

#include <cstdint>
#include <string_view>

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const AutoconfigResult document = parseAutoconfig(text, "ann@example.test");
    for (const FoundServer& s : document.servers)
        if (s.host.empty() || s.port < 1 || s.port > 65535)
            __builtin_trap(); // only valid entries may come out
    const DnsAnswer answer = parseDnsAnswer(data, size);
    for (const SrvRecord& r : orderSrvRecords(answer.srv))
        if (r.target.empty())
            __builtin_trap();
    return 0;
}
