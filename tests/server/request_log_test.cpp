#include "support/fake_server.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

// A request that fails leaves one line with its opcode, the reason and no
// more than the first 200 bytes the client sent; one that goes well, none.
TEST(RequestLog, AFailedRequestLeavesOneLineAndOneThatGoesWellNone)
{
    FakeServer server;
    server.connectClient();
    const struct { const char* name; std::string block; int level; std::vector<QString> said; } rows[] = {
        {"a shuffle argument that is no Boolean", "07yes", -600, {"request 07 failed", "no Boolean", "07yes"}},
        {"louder at the loudest", "05", 0, {"request 05 failed", "out of range"}},
        {"quieter when silent", "06", -10000, {"request 06 failed", "out of range"}},
        {"unprintable bytes", std::string("07\x01\xff", 4), -600, {"07\\x01\\xff"}},
        {"a long block", "07" + std::string(5000, 'y'), -600, {QString(198, 'y') + "... (5002 bytes)"}},
        {"louder", "05", -600, {}}, {"a shuffle that is one", "07True", -600, {}}, {"an opcode nobody knows", "99", -600, {}}};
    for (const auto& row : rows) {
        server.media.level = row.level;
        LogCapture log;
        server.winsock.answer(row.block);
        const auto lines = log.warnings("tallowcrest.server");
        ASSERT_EQ(lines.size(), row.said.empty() ? 0u : 1u) << row.name;
        for (const QString& words : row.said)
            EXPECT_TRUE(lines[0].text.contains(words)) << row.name << ": " << lines[0].text.toStdString();
        EXPECT_LE(lines.empty() ? 0 : lines[0].text.count('y'), 200) << row.name;
    }
}

}  // namespace
}  // namespace tallowcrest::testing
