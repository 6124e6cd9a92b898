#pragma once

#include "platform/NamedMutex.h"
#include "store/MailRecord.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <unistd.h>

namespace tarn {

// Readable failure output for records.
inline void PrintTo(const MailRecord& r, std::ostream* os) {
    auto text = [](const std::optional<std::string>& t) {
        return t ? "\"" + (t->size() > 40 ? t->substr(0, 40) + "..." : *t) + "\"" : "null";
    };
    auto num = [](const auto& v) { return v ? std::to_string(*v) : std::string("null"); };
    *os << "{Count=" << num(r.Count) << " Subject=" << text(r.Subject)
        << " Sender=" << text(r.Sender) << " Size=" << num(r.Size) << " Account=" << num(r.Account)
        << " Delete=" << num(r.Delete) << " Header=" << text(r.Header) << " Body=" << text(r.Body)
        << " UID=" << text(r.UID) << " Date=" << num(r.Date) << " Ignore=" << num(r.Ignore)
        << " Soundfile=" << text(r.Soundfile) << " RetrieveMail=" << num(r.RetrieveMail)
        << " icon=" << num(r.icon) << " New=" << num(r.New) << "}";
}

} // namespace tarn

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
