// The IMAP4 client through the whole dialogue of a check, fed the server's side from the input.
// Its tags are C1, C2, ... in command order.
#include "ReplayTransport.h"

#include "mailproto/Imap4Client.h"
#include "mime/MailMessage.h"

#include <memory>

using namespace tarn;
using fuzz::step;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Imap4Client client(std::make_unique<fuzz::ReplayTransport>(bytes.substr(size ? 1 : 0),
                                                               fuzz::chunkSizeOf(data, size)));
    client.setHost("127.0.0.1");
    client.setUser("user");
    client.setPassword("secret");
    const FixedClock clock(Clock::TimePoint{}, 60);

    step([&] { client.Connect(); });
    step([&] { client.SelectMailbox("INBOX"); });
    step([&] { client.MessageCount(); });
    step([&] { client.MailboxTotal(); });
    step([&] { client.MessageSize(1); });
    step([&] { client.FetchEnvelope(1).firstFrom().address(); });
    step([&] {
        const ImapFetchedMessage m = client.FetchMessage(1);
        decodeFetchedMessage(m.headerLines, m.hasBody, m.bodyLines, clock);
    });
    step([&] { client.AddFlag(1, "\\Seen"); });
    step([&] { client.DeleteMessage(2); });
    step([&] { client.Expunge(); });
    step([&] { client.ListMailboxes({"", "INBOX"}); });
    step([&] { client.Disconnect(); });
    return 0;
}
