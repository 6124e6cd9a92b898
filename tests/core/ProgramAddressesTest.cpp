#include "core/ProgramAddresses.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using tarn::ProgramAddresses;

namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        m_had = std::getenv(name) != nullptr;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(ProgramAddresses, EnvironmentOverridesTheDefaults) {
    {
        ScopedEnv server("TARNWICK_UPDATE_SERVER", nullptr);
        ScopedEnv home("TARNWICK_HOMEPAGE", nullptr);
        EXPECT_EQ(ProgramAddresses::updateServer(), ProgramAddresses::UpdateServer);
        EXPECT_EQ(ProgramAddresses::homePage(), ProgramAddresses::HomePage);
    }
    ScopedEnv server("TARNWICK_UPDATE_SERVER", "127.0.0.1:8080");
    ScopedEnv home("TARNWICK_HOMEPAGE", "http://127.0.0.1:8080/home");
    EXPECT_EQ(ProgramAddresses::updateServer(), "127.0.0.1:8080");
    EXPECT_EQ(ProgramAddresses::homePage(), "http://127.0.0.1:8080/home");
}

TEST(ProgramAddresses, HomePageOverrideMustBeAWebAddress) {
    const struct {
        const char* value;
        bool usable;
    } cases[] = {
        {"http://a.example.org/", true},
        {"https://a.example.org/x?y=1", true},
        {"ftp://a.example.org/", false},
        {"a.example.org", false},
        {"http://", false},
        {"http://a\"; rm -rf ~; \"", false},
        {"http://a.example.org/\nnext", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgramAddresses::usableHomePage(c.value), c.usable) << c.value;
        ScopedEnv home("TARNWICK_HOMEPAGE", c.value);
        EXPECT_EQ(ProgramAddresses::homePage(), c.usable ? c.value : ProgramAddresses::HomePage);
    }
}

} // namespace
