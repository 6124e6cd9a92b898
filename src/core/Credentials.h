#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn {

// A user name or password goes on the wire inside one command line (POP3 USER/PASS, IMAP4
// LOGIN), so a line break or NUL in it would split or cut the command. The account page
// refuses such a value with the text returned here; nullopt when both are usable.
std::optional<std::string> credentialProblem(std::string_view user, std::string_view password);

} // namespace tarn
