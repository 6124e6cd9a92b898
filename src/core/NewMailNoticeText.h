#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// A new message as its notice shows it: the bytes the mail list keeps.
struct NoticeMessage {
    std::string sender;
    std::string subject;
};

// The words of a desktop notice about an account's new messages, as UTF-8.
struct NewMailNoticeText {
    std::string summary; // plain text
    std::string body;    // the notification service's markup
};

// "1 new Mail", "N new Mails".
std::string newMailCountText(long long count);

// Summary "N new Mails - account name"; body: "sender: subject" of up to kMaxLines messages
// (the last ones given), one per line. Whatever a server sent is made safe first: bytes that
// are not UTF-8 are read as Windows-1252, line breaks, tabs and other control characters become
// blanks, a sender is cut to kMaxSenderChars characters and a line to kMaxLineChars (with "…"),
// and only then are &, < and > escaped, so no cut ever splits a character or an entity.
NewMailNoticeText composeNewMailNotice(std::string_view accountName, long long count,
                                       const std::vector<NoticeMessage>& messages);

inline constexpr std::size_t kNoticeMaxLines = 5;
inline constexpr std::size_t kNoticeMaxSenderChars = 40;
inline constexpr std::size_t kNoticeMaxLineChars = 100;

// Text as one line of at most maxChars characters (UTF-8), "…" marking a cut.
std::string noticeLine(std::string_view bytes, std::size_t maxChars);
// &, < and > as entities.
std::string escapeNoticeMarkup(std::string_view text);

} // namespace tarn
