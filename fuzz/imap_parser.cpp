// The IMAP4 response parser on one logical response line.
#include "mailproto/ImapResponseParser.h"

#include "core/TarnError.h"

#include <cstdint>

using namespace tarn;

namespace {

void walk(const ImapValue& v) {
    if (v.isList() && v.items.size() >= 10)
        ImapResponseParser::parseEnvelope(v).firstFrom().address();
    for (const ImapValue& item : v.items)
        walk(item);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ImapResponseParser::trailingLiteralSize(text);
    try {
        for (const ImapValue& v : ImapResponseParser::parseValues(text))
            walk(v);
    } catch (const TarnError&) {
    }
    try {
        if (const auto fetch = ImapResponseParser::parseFetch(text)) {
            for (const auto& [name, value] : fetch->items)
                walk(value);
            if (const ImapValue* envelope = fetch->find("ENVELOPE"))
                ImapResponseParser::parseEnvelope(*envelope);
        }
    } catch (const TarnError&) {
    }
    return 0;
}
