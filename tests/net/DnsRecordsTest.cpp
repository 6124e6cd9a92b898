#include "net/DnsRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {
namespace {

// A DNS answer message built byte by byte, as a name server sends it.
class Message {
public:
    Message(const std::string& question, std::uint16_t type, std::uint16_t answers) {
        put16(0x1234);
        put16(0x8180); // a response, recursion available, no error
        put16(1);
        put16(answers);
        put16(0);
        put16(0);
        m_questionAt = m_bytes.size();
        putName(question);
        put16(type);
        put16(1); // IN
    }
    // A record for the question's name (a compression pointer to it).
    void record(std::uint16_t type, const std::vector<std::uint16_t>& numbers,
                const std::string& target) {
        put16(static_cast<std::uint16_t>(0xC000 | m_questionAt));
        put16(type);
        put16(1);
        put16(0);
        put16(300); // TTL
        std::vector<unsigned char> data;
        std::swap(data, m_bytes);
        for (std::uint16_t n : numbers)
            put16(n);
        putName(target);
        std::swap(data, m_bytes);
        put16(static_cast<std::uint16_t>(data.size()));
        m_bytes.insert(m_bytes.end(), data.begin(), data.end());
    }
    const std::vector<unsigned char>& bytes() const { return m_bytes; }

private:
    void put16(std::uint16_t v) {
        m_bytes.push_back(static_cast<unsigned char>(v >> 8));
        m_bytes.push_back(static_cast<unsigned char>(v & 0xFF));
    }
    void putName(const std::string& name) {
        std::size_t start = 0;
        while (start < name.size() && name != ".") {
            const std::size_t dot = name.find('.', start);
            const std::string label = name.substr(start, dot - start);
            m_bytes.push_back(static_cast<unsigned char>(label.size()));
            m_bytes.insert(m_bytes.end(), label.begin(), label.end());
            if (dot == std::string::npos)
                break;
            start = dot + 1;
        }
        m_bytes.push_back(0);
    }
    std::vector<unsigned char> m_bytes;
    std::size_t m_questionAt = 0;
};

constexpr std::uint16_t kSrv = 33;
constexpr std::uint16_t kMx = 15;

TEST(DnsRecords, SrvAndMxAnswersAreRead) {
    Message srv("_imaps._tcp.example.test", kSrv, 2);
    srv.record(kSrv, {10, 60, 993}, "Mail.Example.test");
    srv.record(kSrv, {0, 0, 0}, ".");
    const DnsAnswer a = parseDnsAnswer(srv.bytes().data(), srv.bytes().size());
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.srv.size(), 2u);
    EXPECT_EQ(a.srv[0].priority, 10);
    EXPECT_EQ(a.srv[0].weight, 60);
    EXPECT_EQ(a.srv[0].port, 993);
    EXPECT_EQ(a.srv[0].target, "Mail.Example.test");
    EXPECT_EQ(a.srv[1].target, ".");
    EXPECT_TRUE(a.mx.empty());

    Message mx("example.test", kMx, 1);
    mx.record(kMx, {5}, "aspmx.l.google.com");
    const DnsAnswer m = parseDnsAnswer(mx.bytes().data(), mx.bytes().size());
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.mx.size(), 1u);
    EXPECT_EQ(m.mx[0].preference, 5);
    EXPECT_EQ(m.mx[0].host, "aspmx.l.google.com");
}

TEST(DnsRecords, DamagedMessagesAreRefusedWhole) {
    Message srv("_imaps._tcp.example.test", kSrv, 1);
    srv.record(kSrv, {10, 60, 993}, "mail.example.test");
    const std::vector<unsigned char>& whole = srv.bytes();
    // Cut inside the record's data, inside the header, and a header promising more records.
    for (std::size_t cut : {whole.size() - 4, std::size_t{7}}) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(parseDnsAnswer(whole.data(), cut).ok);
    }
    std::vector<unsigned char> promising = whole;
    promising[7] = 3;
    EXPECT_FALSE(parseDnsAnswer(promising.data(), promising.size()).ok);
}

TEST(DnsRecords, SrvOrderIsPriorityThenWeight) {
    const std::vector<SrvRecord> ordered =
        orderSrvRecords({{20, 90, 1, "c"}, {10, 5, 1, "b"}, {10, 50, 1, "a"}, {20, 90, 1, "d"}});
    std::string names;
    for (const SrvRecord& r : ordered)
        names += r.target;
    EXPECT_EQ(names, "abcd");
}

} // namespace
} // namespace tarn
