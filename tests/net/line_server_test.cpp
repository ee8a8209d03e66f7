// The line server over real loopback sockets: how input becomes lines, what reaches the
// clients, and every bound a hostile client meets, with a recording handler behind it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/net/line_server.h"
#include "tests/net/recording_line_handler.h"
#include "tests/net/test_client.h"

namespace zelk {
namespace {

LineServerOptions FreePort() {
    LineServerOptions options;
    options.port = 0;
    return options;
}

// A started server on a free port of both loopback addresses, with its recording handler.
struct Served {
    explicit Served(LineServerOptions options = FreePort()) : server(handler, std::move(options)) {
        handler.link = &server;
        EXPECT_TRUE(server.Open()) << server.FailureText();
        server.Start();
    }
    std::unique_ptr<TestClient> Client(const char* address = "127.0.0.1", int receiveBuffer = 0) {
        auto c = std::make_unique<TestClient>();
        EXPECT_TRUE(c->Connect(server.Port(), address, receiveBuffer));
        return c;
    }
    RecordingLineHandler handler;
    LineServer server;
};

std::vector<std::string> LinesOf(const std::vector<LineEvent>& events, LineClientId client) {
    std::vector<std::string> lines;
    for (const LineEvent& e : events) {
        if (e.kind == LineEvent::kLine && e.client == client) lines.push_back(e.line);
    }
    return lines;
}

TEST(LineServer, SplitsInputIntoLinesWhateverTheReadsAndLineEnds) {
    Served s;
    auto c = s.Client();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 1));
    // Pieces that cut a line, a CRLF and an empty line, each its own write.
    for (const char* piece : {"hel", "lo\r", "\nwor", "ld\n\nlast\r\n", "a\rb\n"}) {
        ASSERT_TRUE(c->Write(piece));
        std::this_thread::yield();
    }
    for (const char* expected : {"hello", "world", "", "last", "a\rb"}) {
        bool ok = false;
        EXPECT_EQ(c->ReadLine(&ok), expected);
        EXPECT_TRUE(ok);
    }
    const auto events = s.handler.Events();
    EXPECT_EQ(LinesOf(events, events[0].client),
              (std::vector<std::string>{"hello", "world", "", "last", "a\rb"}));
}

TEST(LineServer, ServesManyClientsOnBothLoopbackAddresses) {
    Served s;
    ASSERT_EQ(s.server.Listening().size(), 2u) << s.server.FailureText();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(s.Client(i % 2 == 0 ? "127.0.0.1" : "::1"));
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(clients[i]->Write("client " + std::to_string(i) + "\n"));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(clients[i]->ReadLine(), "client " + std::to_string(i));
    clients.clear();
    EXPECT_TRUE(s.handler.WaitCount(LineEvent::kDisconnect, 40));
    // Every connection had its own id.
    std::vector<LineClientId> ids;
    for (const LineEvent& e : s.handler.Events()) {
        if (e.kind == LineEvent::kConnect) ids.push_back(e.client);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
}

TEST(LineServer, ClientsPastTheBoundAreClosedAtOnceAndASlotFreesForTheNext) {
    LineServerOptions options = FreePort();
    options.maxClients = 3;
    Served s(options);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(s.Client());
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 3));
    auto extra = s.Client();
    EXPECT_TRUE(extra->WaitClosed());
    // The others are served as before.
    ASSERT_TRUE(clients[2]->Write("still here\n"));
    EXPECT_EQ(clients[2]->ReadLine(), "still here");
    clients[0].reset();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kDisconnect, 1));
    auto next = s.Client();
    ASSERT_TRUE(next->Write("in\n"));
    EXPECT_EQ(next->ReadLine(), "in");
    EXPECT_EQ(RecordingLineHandler::Count(s.handler.Events(), LineEvent::kConnect), 4u);
}

TEST(LineServer, ALineLongerThanTheBoundCutsThatClientOnly) {
    LineServerOptions options = FreePort();
    options.maxLineBytes = 8192;
    Served s(options);
    auto fits = s.Client();
    auto other = s.Client();
    // A line at the bound, with a CRLF, is a line.
    ASSERT_TRUE(fits->Write(std::string(8192, 'x') + "\r\n"));
    EXPECT_EQ(fits->ReadLine().size(), 8192u);
    // Past it the client goes, whether the line end comes or not.
    auto longLine = s.Client();
    ASSERT_TRUE(longLine->Write(std::string(8193, 'y') + "\n"));
    EXPECT_TRUE(longLine->WaitClosed());
    auto endless = s.Client();
    endless->Write(std::string(100000, 'z'));
    EXPECT_TRUE(endless->WaitClosed());
    ASSERT_TRUE(other->Write("fine\n"));
    EXPECT_EQ(other->ReadLine(), "fine");
    for (const LineEvent& e : s.handler.Events()) {
        if (e.kind == LineEvent::kLine) {
            EXPECT_LE(e.line.size(), 8192u);
        }
    }
}

TEST(LineServer, AClientThatNeverReadsIsCutAndDoesNotStallAnother) {
    Served s;
    auto reader = s.Client();
    auto deaf = s.Client("127.0.0.1", 4096);
    ASSERT_TRUE(deaf->Write("quiet\n"));
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kLine, 1));
    const LineClientId deafId = s.handler.Events().back().client;
    // Another thread sends to the deaf client until the server gives up on it.
    const std::string block(1000, 'o');
    std::size_t sent = 0;
    bool cut = false;
    while (!cut && sent < 64u * 1024 * 1024) {
        s.server.Send(deafId, block);
        sent += block.size() + 1;
        if (sent % (64 * 1024) < block.size() + 1) {
            ASSERT_TRUE(reader->Write("ping\n"));
            ASSERT_EQ(reader->ReadLine(), "ping");
            cut = RecordingLineHandler::Count(s.handler.Events(), LineEvent::kDisconnect) == 1;
        }
    }
    EXPECT_TRUE(cut) << sent << " bytes sent without a cut";
    EXPECT_TRUE(deaf->WaitClosed());
    // Sending to a client that has gone does nothing.
    s.server.Send(deafId, "late");
    ASSERT_TRUE(reader->Write("after\n"));
    EXPECT_EQ(reader->ReadLine(), "after");
}

TEST(LineServer, AFloodingClientDoesNotStarveAnother) {
    LineServerOptions options = FreePort();
    options.linesPerPass = 8;
    Served s(options);
    auto flooder = s.Client("127.0.0.1", 0);
    auto quiet = s.Client();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 2));
    // The server's thread is held while the flood and the other client's line queue up.
    ASSERT_TRUE(flooder->Write("hold\n"));
    ASSERT_TRUE(s.handler.WaitHeld());
    std::string flood;
    for (int i = 0; i < 20000; ++i) flood += "quiet\n";
    std::thread writer([&] { flooder->Write(flood); });
    ASSERT_TRUE(quiet->Write("ping\n"));
    s.handler.Release();
    EXPECT_EQ(quiet->ReadLine(), "ping");
    writer.join();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kLine, 20002));
    // The ping was handled while most of the flood still waited.
    const auto events = s.handler.Events();
    std::size_t floodBefore = 0;
    for (const LineEvent& e : events) {
        if (e.kind != LineEvent::kLine) continue;
        if (e.line == "ping") break;
        ++floodBefore;
    }
    EXPECT_LT(floodBefore, 1000u);
}

TEST(LineServer, SendFromAnotherThreadWakesTheServerAndCloseEndsAfterTheQueuedOutput) {
    Served s;
    auto c = s.Client();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 1));
    const LineClientId id = s.handler.Events()[0].client;
    std::thread([&] {
        s.server.Send(id, "notice 1");
        s.server.Send(id, "notice 2");
    }).join();
    EXPECT_EQ(c->ReadLine(), "notice 1");
    EXPECT_EQ(c->ReadLine(), "notice 2");
    // A close from the handler comes after its reply; from another thread likewise.
    ASSERT_TRUE(c->Write("bye\n"));
    EXPECT_EQ(c->ReadLine(), "bye");
    EXPECT_TRUE(c->WaitClosed());
    auto d = s.Client();
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 2));
    const LineClientId second = s.handler.Events().back().client;
    std::thread([&] {
        s.server.Send(second, "last words");
        s.server.Close(second);
    }).join();
    EXPECT_EQ(d->ReadLine(), "last words");
    EXPECT_TRUE(d->WaitClosed());
    EXPECT_TRUE(s.handler.WaitCount(LineEvent::kDisconnect, 2));
}

TEST(LineServer, AClientThatEndsItsSideGetsItsLastLineAndReplies) {
    Served s;
    auto c = s.Client();
    ASSERT_TRUE(c->Write("one\nunterminated"));
    c->ShutdownWrite();
    EXPECT_EQ(c->ReadLine(), "one");
    EXPECT_EQ(c->ReadLine(), "unterminated");
    EXPECT_TRUE(c->WaitClosed());
    EXPECT_TRUE(s.handler.WaitCount(LineEvent::kDisconnect, 1));
}

TEST(LineServer, StopClosesConnectedClientsAndTellsTheHandler) {
    Served s;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(s.Client());
    ASSERT_TRUE(s.handler.WaitCount(LineEvent::kConnect, 3));
    s.server.Stop();
    EXPECT_EQ(RecordingLineHandler::Count(s.handler.Events(), LineEvent::kDisconnect), 3u);
    for (auto& c : clients) EXPECT_TRUE(c->WaitClosed());
    // Nobody listens any more.
    TestClient late;
    EXPECT_FALSE(late.Connect(s.server.Port()));
    s.server.Stop();
}

TEST(LineServer, OpenReportsAddressesThatCannotListenAndRunsOnTheOthers) {
    RecordingLineHandler handler;
    LineServer first(handler, FreePort());
    ASSERT_TRUE(first.Open());
    ASSERT_NE(first.Port(), 0);

    LineServerOptions taken;
    taken.addresses = {"127.0.0.1"};
    taken.port = first.Port();
    LineServer second(handler, taken);
    EXPECT_FALSE(second.Open());
    ASSERT_EQ(second.Failures().size(), 1u);
    EXPECT_EQ(second.Failures()[0].failure.error, NetListenError::kAddressInUse);
    EXPECT_NE(second.FailureText().find("127.0.0.1 port"), std::string::npos);
    second.Start();  // nothing to serve: no thread
    second.Stop();

    LineServerOptions mixed = FreePort();
    mixed.addresses = {"localhost", "192.0.2.1", "127.0.0.1"};
    LineServer third(handler, mixed);
    EXPECT_TRUE(third.Open());
    ASSERT_EQ(third.Failures().size(), 2u);
    EXPECT_EQ(third.Failures()[0].failure.error, NetListenError::kBadAddress);
    EXPECT_EQ(third.Failures()[1].failure.error, NetListenError::kAddressNotLocal);
    EXPECT_EQ(third.Listening(), std::vector<std::string>{"127.0.0.1"});
}

}  // namespace
}  // namespace zelk
