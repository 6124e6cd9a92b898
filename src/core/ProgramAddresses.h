#pragma once

#include <string>

namespace tarn {

// Where the program looks for news of newer releases and where its home page is. Neutral
// addresses until the project has a site of its own; the environment variables
// TARNWICK_UPDATE_SERVER ("host" or "host:port") and TARNWICK_HOMEPAGE (an http or https
// address) override them, which is also how tests point them at a local server.
struct ProgramAddresses {
    static constexpr const char* UpdateServer = "www.example.org";
    static constexpr const char* UpdatePath = "/pub/upd_19.txt";
    static constexpr const char* HomePage = "http://www.example.org/tarnwick/";

    // The update server as "host" or "host:port".
    static std::string updateServer();
    // The home page address. An override that is not an http(s) address, or that holds a
    // double quote or a control character (it ends up quoted on a command line), is ignored.
    static std::string homePage();
    static bool usableHomePage(const std::string& address);
};

} // namespace tarn
