#pragma once

#include "platform/NamedMutex.h"
#include "store/MailRecord.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <unistd.h>

namespace tarn::test {

// A lock name of the running test, so parallel test programs never share one.
inline std::string testLockName() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("TarnStoreTest_") + std::to_string(getpid()) + "_" +
           info->test_suite_name() + "_" + info->name();
}

inline MailRecord makeRecord(const std::string& uid, int account, long long count) {
    MailRecord r;
    r.UID = uid;
    r.Account = account;
    r.Count = count;
    return r;
}

// Removes the lock's system object when the test ends.
struct ScopedLockName {
    std::string name = testLockName();
    ScopedLockName() { NamedMutex::removeSystemObject(name); }
    ~ScopedLockName() { NamedMutex::removeSystemObject(name); }
};

} // namespace tarn::test
