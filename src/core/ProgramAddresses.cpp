#include "core/ProgramAddresses.h"

#include <cstdlib>

namespace tarn {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

std::string ProgramAddresses::updateServer() {
    const std::string v = env("TARNWICK_UPDATE_SERVER");
    return v.empty() ? std::string(UpdateServer) : v;
}

bool ProgramAddresses::usableHomePage(const std::string& address) {
    if (!startsWith(address, "http://") && !startsWith(address, "https://"))
        return false;
    if (address.size() <= 8 || address.size() > 2000)
        return false;
    for (unsigned char c : address) {
        if (c < 0x20 || c == 0x7f || c == '"')
            return false;
    }
    return true;
}

std::string ProgramAddresses::homePage() {
    const std::string v = env("TARNWICK_HOMEPAGE");
    return usableHomePage(v) ? v : std::string(HomePage);
}

} // namespace tarn
