#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

// What one untagged line on an idle connection means to the watch: a new message count
// (EXISTS), a message gone (EXPUNGE), the server leaving (BYE), or nothing the watch needs.
struct IdleAnnouncement {
    enum class Kind { Nothing, Exists, Expunge, Bye };
    Kind kind = Kind::Nothing;
    std::uint64_t number = 0; // the message number or count of EXISTS and EXPUNGE
    std::string text;         // BYE: what the server said, cut to 80 bytes and marked so

    // text: the untagged line without "* " and its line end.
    static IdleAnnouncement read(std::string_view text);
};

} // namespace tarn
