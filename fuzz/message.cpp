// Message decoding: a message as a POP3 server sends it after "+OK", header only or whole.
#include "mime/MailMessage.h"

#include <cstdint>

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool headersOnly = data[0] & 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const FixedClock clock(Clock::TimePoint{}, (data[0] >> 1) * 15 - 960);
    const MailMessage m = decodeMessage(splitReceivedLines(bytes), headersOnly, clock);
    m.headerText();
    m.bodyText();
    m.senderText();
    return 0;
}
