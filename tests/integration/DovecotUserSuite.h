#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "integration/fixture/DovecotFixture.h"

namespace tarn::test {

// One Dovecot for a test suite: starting it costs about a second. Each test gets its own user,
// named after the test with the given prefix, whose mailbox holds the two given messages.
class DovecotUserSuite : public ::testing::Test {
protected:
    DovecotUserSuite(std::string userPrefix, std::string first, std::string second)
        : m_userPrefix(std::move(userPrefix)), m_firstText(std::move(first)),
          m_secondText(std::move(second)) {}

    static void SetUpTestSuite() {
        if (DovecotFixture::available())
            s_dovecot = std::make_unique<DovecotFixture>();
    }
    static void TearDownTestSuite() { s_dovecot.reset(); }

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_user = m_userPrefix + info->name();
        s_dovecot->addUser(m_user, "pw-" + m_user);
        m_first = s_dovecot->addMessage(m_user, m_firstText);
        m_second = s_dovecot->addMessage(m_user, m_secondText);
    }

    static inline std::unique_ptr<DovecotFixture> s_dovecot;
    std::string m_user;
    DovecotFixture::StoredMessage m_first, m_second;

private:
    std::string m_userPrefix;
    std::string m_firstText;
    std::string m_secondText;
};

} // namespace tarn::test
