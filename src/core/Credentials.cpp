#include "core/Credentials.h"

namespace tarn {

namespace {

bool breaksALine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

} // namespace

std::optional<std::string> credentialProblem(std::string_view user, std::string_view password) {
    const char* const why =
        " cannot contain a line break or a NUL character: the server would receive it cut in "
        "two. Please type it again without them.";
    if (breaksALine(user))
        return std::string("The user name") + why;
    if (breaksALine(password))
        return std::string("The password") + why;
    return std::nullopt;
}

} // namespace tarn
