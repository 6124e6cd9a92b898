// The idle connection's reading: the IMAP4 client through a watch's dialogue (log-in, the
// capability look under the watch tags, SELECT, rounds of IDLE, the goodbye), fed the server's
// side from the input, with every untagged line read as the watcher reads it. Tags: C1 LOGIN,
// I1 CAPABILITY, C2 SELECT, then I2, I3, I4 for the IDLEs.
#include "ReplayTransport.h"

#include "mailproto/Imap4Client.h"
#include "push/IdleAnnouncement.h"

#include <algorithm>
#include <chrono>
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

    // What the watcher keeps of the mailbox between lines; a goodbye ends the connection.
    long long exists = 0;
    const Imap4Client::UntaggedHandler untagged = [&](std::string_view text) {
        const IdleAnnouncement a = IdleAnnouncement::read(text);
        switch (a.kind) {
        case IdleAnnouncement::Kind::Bye:
            throw TarnError(ErrorKind::ConnectionClosed, "closed: " + a.text);
        case IdleAnnouncement::Kind::Exists:
            exists = static_cast<long long>(a.number);
            break;
        case IdleAnnouncement::Kind::Expunge:
            exists = std::max(0LL, exists - 1);
            break;
        case IdleAnnouncement::Kind::Nothing:
            break;
        }
    };
    // Small, so that a short input can flood the connection.
    constexpr std::size_t floodBudget = 4096;
    const auto renewal = std::chrono::minutes(10);

    step([&] { client.Connect(); });
    step([&] { client.HasCapability("IDLE", Imap4Client::Tags::Watch); });
    step([&] { exists = client.SelectMailbox("INBOX").exists; });
    // A round the server ends itself, then one ended by DONE, then one more of either.
    step([&] {
        if (client.IdleStart(untagged))
            client.IdleWait(renewal, floodBudget, untagged);
    });
    step([&] {
        if (client.IdleStart(untagged))
            client.IdleDone(untagged);
    });
    step([&] {
        if (client.IdleStart(untagged) &&
            client.IdleWait(renewal, floodBudget, untagged) == Imap4Client::IdleEnd::Renewal)
            client.IdleDone(untagged);
    });
    client.EndWatch();
    return 0;
}
