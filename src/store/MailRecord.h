#pragma once

#include <optional>
#include <string>

namespace tarn {

// One known message. Every field is absent until set: an absent boolean counts as false, an
// absent integer as 0, an absent text as empty and an absent Date as 0.
struct MailRecord {
    std::optional<long long> Count;
    std::optional<std::string> Subject; // width 128
    std::optional<std::string> Sender;  // width 128
    std::optional<long long> Size;
    std::optional<int> Account;
    std::optional<bool> Delete;
    std::optional<std::string> Header;
    std::optional<std::string> Body; // absent while not fetched
    std::optional<std::string> UID;  // width 128
    std::optional<double> Date;
    std::optional<bool> Ignore;
    std::optional<std::string> Soundfile; // width 256
    std::optional<bool> RetrieveMail;
    std::optional<int> icon;
    std::optional<bool> New;

    bool operator==(const MailRecord&) const = default;
};

} // namespace tarn
