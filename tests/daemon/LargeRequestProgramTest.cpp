// The daemon program answering requests near its 256 KiB message limit, one after the other on
// one connection: each gets its reply at once, not when the client leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "DaemonProgramFixture.h"
#include "ProtocolClient.h"

namespace telvo::testing {
namespace {

using testclient::ProtocolClient;

class DaemonLargeRequestsTest : public DaemonProgramFixture {};

TEST_F(DaemonLargeRequestsTest, EveryLargeRequestIsAnsweredInTurn) {
    ASSERT_NO_FATAL_FAILURE(start());
    ProtocolClient client;
    ASSERT_NO_FATAL_FAILURE(logIn(client, "5C1B2E0A-0000-4000-8000-00000000B16A"));
    for (size_t size : {100000, 240000, 261000}) {
        const std::string request = ProtocolClient::statRequest("cpu", "0", {{"processes", "cpu," + std::string(size, 'x')}});
        ASSERT_LE(request.size(), 262144u);
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(client.send(request));
            auto reply = client.readStatReply(60);
            ASSERT_TRUE(reply) << "no reply to request " << i + 1 << " of " << request.size() << " bytes\n" << logText();
            EXPECT_NE(reply->payload.find("<stat type=\"cpu\""), std::string::npos);
        }
    }
    EXPECT_FALSE(client.waitForClose(0.1));
}

// The protocol client program as a user runs it: 100000 bytes of keys, asked three times.
TEST_F(DaemonLargeRequestsTest, TheClientProgramGetsEveryReply) {
    const std::string program = TELVO_BINARY_DIR "/tests/programs/telvo-client/telvo-client";
    ASSERT_TRUE(std::filesystem::exists(program)) << program;
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string output =
        commandOutput("timeout 60 '" + program + "' --port " + std::to_string(port_) + " --passcode '" + passcode() +
                      "' --keys processes=cpu," + std::string(100000, 'x') + " --repeat 3 2>&1");
    size_t replies = 0;
    for (size_t at = output.find("payload ("); at != std::string::npos; at = output.find("payload (", at + 1)) ++replies;
    EXPECT_EQ(replies, 3u) << output.substr(0, 2000);
}

}  // namespace
}  // namespace telvo::testing
