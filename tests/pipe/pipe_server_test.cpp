// The serving logic over a scripted endpoint: which results end the server, what is applied,
// the traces, and the halt gate between read and apply.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "common/debug_print.h"
#include "common/halt_gate.h"
#include "service/pipe/pipe_server.h"

namespace zelk {
namespace {

// One scripted connection that wrote: its bytes, and whether its disconnect works.
struct Connection {
    std::vector<unsigned char> bytes;
    bool disconnects = true;
};

class ScriptedEndpoint : public PipeEndpoint {
  public:
    PipeCreateResult createResult = PipeCreateResult::kCreated;
    std::deque<Connection> connections;
    PipeReceiveResult afterScript = PipeReceiveResult::kFailed;
    std::string createdName;
    int receives = 0, releases = 0;
    std::vector<PipeConnectionId> disconnected;

    PipeCreateResult Create(const std::string& name) override {
        createdName = name;
        return createResult;
    }
    PipeReceiveResult Receive(void* buffer, std::size_t size, std::size_t& count,
                              PipeConnectionId& connection) override {
        ++receives;
        if (connections.empty()) return afterScript;
        current_ = connections.front();
        connections.pop_front();
        count = std::min(size, current_.bytes.size());
        if (count != 0) std::memcpy(buffer, current_.bytes.data(), count);
        connection = static_cast<PipeConnectionId>(100 + receives);
        return PipeReceiveResult::kRecord;
    }
    bool Disconnect(PipeConnectionId connection) override {
        disconnected.push_back(connection);
        return current_.disconnects;
    }
    void Release() override { ++releases; }
    void Close() override {}

  private:
    Connection current_;
};

std::vector<unsigned char> RecordBytes(std::int32_t session, std::int32_t tag, const char* text) {
    const PipeMessage m = MakePipeMessage(session, tag, text, std::strlen(text));
    const auto* p = reinterpret_cast<const unsigned char*>(&m);
    return {p, p + sizeof m};
}

// Collects what the server applies. The gate test reads it only while the server waits at the
// gate or after it has ended, so it needs no lock.
std::function<void(const PipeMessage&)> Into(std::vector<PipeMessage>& applied) {
    return [&applied](const PipeMessage& m) { applied.push_back(m); };
}

TEST(PipeServer, CreationFailuresEndTheServerWithTheirTraces) {
    const std::pair<PipeCreateResult, const char*> cases[] = {
        {PipeCreateResult::kCreateFailed, "Failed to create ZELK Named pipe\n"},
        {PipeCreateResult::kDescriptorFailed, "BuildRestrictedSD() failed\n"}};
    for (const auto& [result, trace] : cases) {
        SCOPED_TRACE(trace);
        ScopedDebugCapture capture;
        ScriptedEndpoint endpoint;
        endpoint.createResult = result;
        std::vector<PipeMessage> applied;
        PipeServer(endpoint, "ZELK_FRONTPANEL_PIPE", Into(applied)).Serve();
        EXPECT_EQ(endpoint.createdName, "ZELK_FRONTPANEL_PIPE");
        EXPECT_EQ(endpoint.receives, 0);
        EXPECT_EQ(endpoint.releases, 1);
        EXPECT_EQ(capture.Lines(), std::vector<std::string>{trace});
    }
}

TEST(PipeServer, ServesOneRecordPerConnectionAndSkipsWhatIsNoRecord) {
    ScopedDebugCapture capture;
    ScriptedEndpoint endpoint;
    std::vector<unsigned char> noNul = RecordBytes(2, 0x2019, "");
    noNul.resize(8);
    noNul.resize(8 + 20, 'x');  // text without its NUL within the bytes read
    endpoint.connections = {
        {RecordBytes(1, 1, ""), true},
        {{1, 0, 0, 0, 2, 0, 0}, true},           // 7 bytes: no record
        {{5, 0, 0, 0, 0x01, 0x10, 0, 0}, true},  // header only
        {noNul, true},
        {RecordBytes(1, 0x2019, "Track"), true},
    };
    std::vector<PipeMessage> applied;
    PipeServer server(endpoint, "p", Into(applied));
    server.Serve();

    ASSERT_EQ(applied.size(), 4u);
    EXPECT_EQ(applied[0].tag, 1);
    EXPECT_EQ(applied[1].sessionNumber, 5);
    EXPECT_EQ(applied[1].tag, 0x1001);
    EXPECT_STREQ(applied[1].text, "");
    EXPECT_EQ(std::string(applied[2].text), std::string(20, 'x'));
    EXPECT_STREQ(applied[3].text, "Track");
    // Every connection was disconnected by its own id; the sixth wait failed and ended the
    // server quietly.
    EXPECT_EQ(endpoint.disconnected, (std::vector<PipeConnectionId>{101, 102, 103, 104, 105}));
    EXPECT_EQ(endpoint.receives, 6);
    EXPECT_EQ(server.Received(), 5u);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(PipeServer, AFailedDisconnectOrAClosedEndpointEndsTheServer) {
    {
        ScopedDebugCapture capture;
        ScriptedEndpoint endpoint;
        endpoint.connections = {{RecordBytes(1, 1, ""), false}, {RecordBytes(1, 1, ""), true}};
        std::vector<PipeMessage> applied;
        PipeServer(endpoint, "p", Into(applied)).Serve();
        EXPECT_EQ(applied.size(), 1u);
        EXPECT_EQ(endpoint.receives, 1);
        EXPECT_EQ(endpoint.releases, 1);
        EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Failed to disconnect client.\n"});
    }
    // Closed while waiting: nothing is disconnected.
    ScriptedEndpoint waiting;
    waiting.afterScript = PipeReceiveResult::kClosed;
    std::vector<PipeMessage> applied;
    PipeServer(waiting, "p", Into(applied)).Serve();
    EXPECT_EQ(waiting.receives, 1);
    EXPECT_TRUE(waiting.disconnected.empty());
    EXPECT_EQ(waiting.releases, 1);
}

TEST(PipeServer, AHaltedGateHoldsTheReadRecordUntilOpenedOrShut) {
    for (bool open : {true, false}) {
        SCOPED_TRACE(open ? "opened" : "shut");
        ScriptedEndpoint endpoint;
        endpoint.connections = {{RecordBytes(3, 0x1001, "True"), true}};
        std::vector<PipeMessage> applied;
        HaltGate gate;
        gate.Halt();
        PipeServer server(endpoint, "p", Into(applied), &gate);
        std::thread serving([&] { server.Serve(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (gate.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        EXPECT_EQ(gate.Waiting(), 1);
        EXPECT_EQ(applied.size(), 0u);  // read, but not applied while halted
        if (open) {
            gate.Open();
        } else {
            gate.Shutdown();
        }
        serving.join();
        ASSERT_EQ(applied.size(), open ? 1u : 0u);
        if (open) {
            EXPECT_EQ(applied[0].sessionNumber, 3);
        }
        EXPECT_EQ(endpoint.disconnected.size(), open ? 1u : 0u);
        EXPECT_EQ(endpoint.receives, open ? 2 : 1);
    }
}

}  // namespace
}  // namespace zelk
