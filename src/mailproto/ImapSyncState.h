#pragma once

#include "mailproto/MailboxClient.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

// What the last check of an IMAP4 mailbox saw, kept beside the mail list so that the next
// check asks the server only for what changed. Messages never change in IMAP4 once they
// exist (only their flags do), so a message's UID stands for its size and envelope for as
// long as the mailbox keeps its UIDVALIDITY.
struct ImapSyncState {
    struct Message {
        std::int64_t uid = 0;
        std::int64_t size = 0;
        IdentityFields fields;
    };

    // Which mailbox of which server this is; a state for another one is not used.
    std::string key;
    std::int64_t uidValidity = 0;
    std::int64_t uidNext = 0;       // 0 when the server did not say
    std::int64_t highestModSeq = 0; // 0 without CONDSTORE
    // The messages in mailbox order (message number k is messages[k - 1]); UIDs ascend.
    std::vector<Message> messages;
    // What the file's first lines say of the messages: enough to tell that nothing changed
    // without reading them all.
    std::size_t count = 0;
    std::int64_t totalSize = 0;

    std::int64_t total() const;

    // The file's text; parse gives back what serialize wrote, and nullopt for anything else
    // (a truncated, edited or damaged file).
    std::string serialize() const;
    static std::optional<ImapSyncState> parse(const std::string& text);

    // nullopt when the file is missing, unreadable, damaged or larger than maxBytes.
    static std::optional<ImapSyncState> load(const std::string& path, std::size_t maxBytes);
    // The first lines only (messages stays empty; count and totalSize are filled): nullopt
    // when they are missing or damaged. The rest is read, and checked, by load.
    static std::optional<ImapSyncState> loadHeader(const std::string& path);
    // Replaces the file at once (a new file beside it, renamed over it), private to its
    // owner. Throws a TarnError when it cannot be written.
    void save(const std::string& path) const;
};

// The file name (no folder) of the state of mailbox at user@host:port: the same account
// settings give the same name, other settings another one.
std::string imapSyncStateFileName(const std::string& host, int port, const std::string& user,
                                  const std::string& mailbox);

} // namespace tarn
