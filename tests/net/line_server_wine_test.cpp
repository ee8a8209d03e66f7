// The line server's Winsock sockets under Wine: a client over the IPv4 loopback gets its lines
// split and answered, a send from another thread wakes the server, and a stop closes the client.
#include <gtest/gtest.h>

#include <thread>

#include "service/net/line_server.h"
#include "tests/net/recording_line_handler.h"
#include "tests/net/test_client.h"

namespace zelk {
namespace {

TEST(LineServerWinsock, ServesALoopbackClientUntilStopped) {
    RecordingLineHandler handler;
    LineServerOptions options;
    options.addresses = {"127.0.0.1"};
    options.port = 0;
    LineServer server(handler, options);
    handler.link = &server;
    ASSERT_TRUE(server.Open()) << server.FailureText();
    ASSERT_NE(server.Port(), 0);
    server.Start();

    TestClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    ASSERT_TRUE(client.Write("hel"));
    ASSERT_TRUE(client.Write("lo\r\nworld\n"));
    EXPECT_EQ(client.ReadLine(), "hello");
    EXPECT_EQ(client.ReadLine(), "world");

    ASSERT_TRUE(handler.WaitCount(LineEvent::kConnect, 1));
    const LineClientId id = handler.Events()[0].client;
    std::thread([&] { server.Send(id, "notice"); }).join();
    EXPECT_EQ(client.ReadLine(), "notice");

    // The port is held: a second server on it fails with a reason.
    LineServerOptions same = options;
    same.port = server.Port();
    LineServer second(handler, same);
    EXPECT_FALSE(second.Open());
    EXPECT_FALSE(second.FailureText().empty());

    server.Stop();
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_EQ(RecordingLineHandler::Count(handler.Events(), LineEvent::kDisconnect), 1u);
}

}  // namespace
}  // namespace zelk
