// The POP3 client through the whole dialogue of a check, fed the server's side from the input.
#include "ReplayTransport.h"

#include "mailproto/Pop3Client.h"
#include "mime/MailMessage.h"

#include <memory>

using namespace tarn;
using fuzz::step;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto connection = std::make_unique<LineConnection>(std::make_unique<fuzz::ReplayTransport>(
        bytes.substr(size ? 1 : 0), fuzz::chunkSizeOf(data, size)));
    Pop3Client client(std::move(connection));
    client.setHost("127.0.0.1");
    client.setUser("user");
    client.setPassword("secret");
    const FixedClock clock(Clock::TimePoint{}, 60);

    step([&] { client.Connect(); });
    step([&] { client.MessageCount(); });
    step([&] { client.MailboxTotal(); });
    step([&] { client.UniqueIdListing(); });
    step([&] { client.MessageSize(1); });
    step([&] {
        const auto header = client.FetchHeader(1);
        decodeFetchedMessage(header, false, {}, clock);
    });
    step([&] {
        if (const auto m = client.FetchMessage(2))
            decodeFetchedMessage(m->headerLines, m->hasBody, m->bodyLines, clock);
    });
    step([&] { client.DeleteMessage(1); });
    step([&] { client.Disconnect(); });
    return 0;
}
