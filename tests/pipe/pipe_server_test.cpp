// The serving logic over a scripted endpoint: which results end the server, what is applied,
// the traces, and the halt gate between read and apply.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/debug_print.h"
#include "service/core/run_loop.h"
#include "service/pipe/pipe_server.h"

namespace zelk {
namespace {

// One scripted connection: what the read returns, and whether the disconnect works.
struct Connection {
    PipeReadResult read = PipeReadResult::kRead;
    std::vector<unsigned char> bytes;
    bool disconnects = true;
};

class ScriptedEndpoint : public PipeEndpoint {
  public:
    PipeCreateResult createResult = PipeCreateResult::kCreated;
    std::deque<Connection> connections;
    PipeWaitResult afterScript = PipeWaitResult::kFailed;
    std::string createdName;
    int waits = 0;
    int disconnects = 0;
    std::uint32_t lastTimeout = 0;

    PipeCreateResult Create(const std::string& name) override {
        createdName = name;
        return createResult;
    }
    PipeWaitResult WaitForClient() override {
        ++waits;
        if (connections.empty()) return afterScript;
        current_ = connections.front();
        connections.pop_front();
        return PipeWaitResult::kConnected;
    }
    PipeReadResult Read(void* buffer, std::size_t size, std::size_t& count,
                        std::uint32_t timeoutMs) override {
        lastTimeout = timeoutMs;
        count = 0;
        if (current_.read != PipeReadResult::kRead) return current_.read;
        count = std::min(size, current_.bytes.size());
        std::memcpy(buffer, current_.bytes.data(), count);
        return PipeReadResult::kRead;
    }
    bool Disconnect() override {
        ++disconnects;
        return current_.disconnects;
    }
    void Release() override { ++releases; }
    void Close() override {}
    int releases = 0;

  private:
    Connection current_;
};

std::vector<unsigned char> RecordBytes(std::int32_t session, std::int32_t tag, const char* text) {
    const PipeMessage m = MakePipeMessage(session, tag, text, std::strlen(text));
    const auto* p = reinterpret_cast<const unsigned char*>(&m);
    return {p, p + sizeof m};
}

struct Applied {
    std::mutex lock;
    std::vector<PipeMessage> messages;
    std::function<void(const PipeMessage&)> Sink() {
        return [this](const PipeMessage& m) {
            std::lock_guard<std::mutex> guard(lock);
            messages.push_back(m);
        };
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return messages.size();
    }
};

TEST(PipeServer, CreationFailuresEndTheServerWithTheirTraces) {
    struct Case {
        PipeCreateResult result;
        const char* trace;
    } cases[] = {{PipeCreateResult::kCreateFailed, "Failed to create ZELK Named pipe\n"},
                 {PipeCreateResult::kDescriptorFailed, "BuildRestrictedSD() failed\n"}};
    for (const Case& c : cases) {
        ScopedDebugCapture capture;
        ScriptedEndpoint endpoint;
        endpoint.createResult = c.result;
        Applied applied;
        PipeServer server(endpoint, "ZELK_FRONTPANEL_PIPE", applied.Sink());
        server.Serve();
        EXPECT_EQ(endpoint.createdName, "ZELK_FRONTPANEL_PIPE");
        EXPECT_EQ(endpoint.waits, 0);
        EXPECT_EQ(endpoint.releases, 1);
        EXPECT_EQ(capture.Lines(), std::vector<std::string>{c.trace});
    }
}

TEST(PipeServer, ServesOneRecordPerConnectionAndSkipsWhatIsNoRecord) {
    ScopedDebugCapture capture;
    ScriptedEndpoint endpoint;
    std::vector<unsigned char> shortRecord = {1, 0, 0, 0, 2, 0, 0};  // 7 bytes: no record
    std::vector<unsigned char> headerOnly = {5, 0, 0, 0, 0x01, 0x10, 0, 0};
    std::vector<unsigned char> noNul = RecordBytes(2, 0x2019, "");
    noNul.resize(8);
    noNul.resize(8 + 20, 'x');  // text without its NUL within the bytes read
    endpoint.connections = {
        {PipeReadResult::kRead, RecordBytes(1, 1, ""), true},
        {PipeReadResult::kFailed, {}, true},  // idle client dropped, or went away unwritten
        {PipeReadResult::kRead, shortRecord, true},
        {PipeReadResult::kRead, headerOnly, true},
        {PipeReadResult::kRead, noNul, true},
        {PipeReadResult::kRead, RecordBytes(1, 0x2019, "Track"), true},
    };
    Applied applied;
    PipeServer server(endpoint, "p", applied.Sink());
    server.Serve();

    ASSERT_EQ(applied.messages.size(), 4u);
    EXPECT_EQ(applied.messages[0].tag, 1);
    EXPECT_EQ(applied.messages[1].sessionNumber, 5);
    EXPECT_EQ(applied.messages[1].tag, 0x1001);
    EXPECT_STREQ(applied.messages[1].text, "");
    EXPECT_EQ(std::string(applied.messages[2].text), std::string(20, 'x'));
    EXPECT_STREQ(applied.messages[3].text, "Track");
    // Every connection was disconnected, the seventh wait failed and ended the server quietly.
    EXPECT_EQ(endpoint.disconnects, 6);
    EXPECT_EQ(endpoint.waits, 7);
    EXPECT_EQ(server.Connections(), 6u);
    EXPECT_EQ(endpoint.lastTimeout, kPipeReadTimeoutMs);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(PipeServer, AFailedDisconnectEndsTheServerWithItsTrace) {
    ScopedDebugCapture capture;
    ScriptedEndpoint endpoint;
    endpoint.connections = {{PipeReadResult::kRead, RecordBytes(1, 1, ""), false},
                            {PipeReadResult::kRead, RecordBytes(1, 1, ""), true}};
    Applied applied;
    PipeServer server(endpoint, "p", applied.Sink());
    server.Serve();
    EXPECT_EQ(applied.messages.size(), 1u);
    EXPECT_EQ(endpoint.waits, 1);
    EXPECT_EQ(endpoint.releases, 1);
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Failed to disconnect client.\n"});
}

TEST(PipeServer, ClosingTheEndpointEndsTheServer) {
    for (PipeWaitResult end : {PipeWaitResult::kClosed, PipeWaitResult::kFailed}) {
        ScriptedEndpoint endpoint;
        endpoint.afterScript = end;
        Applied applied;
        PipeServer server(endpoint, "p", applied.Sink());
        server.Serve();
        EXPECT_EQ(endpoint.waits, 1);
    }
    ScriptedEndpoint endpoint;
    endpoint.connections = {{PipeReadResult::kClosed, {}, true}};
    endpoint.afterScript = PipeWaitResult::kConnected;  // never reached
    Applied applied;
    PipeServer server(endpoint, "p", applied.Sink());
    server.Serve();
    EXPECT_EQ(endpoint.disconnects, 0);
    EXPECT_EQ(applied.Count(), 0u);
}

TEST(PipeServer, AHaltedGateHoldsTheReadRecordUntilOpened) {
    ScriptedEndpoint endpoint;
    endpoint.connections = {{PipeReadResult::kRead, RecordBytes(3, 0x1001, "True"), true}};
    Applied applied;
    HaltGate gate;
    gate.Halt();
    gate.Halt();  // halting twice is halting once
    PipeServer server(endpoint, "p", applied.Sink(), &gate);
    std::thread serving([&] { server.Serve(); });

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (gate.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_EQ(gate.Waiting(), 1);
    EXPECT_EQ(applied.Count(), 0u);  // read, but not applied while halted

    gate.Open();
    serving.join();
    ASSERT_EQ(applied.Count(), 1u);
    EXPECT_EQ(applied.messages[0].sessionNumber, 3);
}

TEST(PipeServer, ShuttingTheGateWhileHaltedEndsTheServerWithoutApplying) {
    ScriptedEndpoint endpoint;
    endpoint.connections = {{PipeReadResult::kRead, RecordBytes(3, 0x1001, "True"), true}};
    endpoint.afterScript = PipeWaitResult::kConnected;
    Applied applied;
    HaltGate gate;
    gate.Halt();
    PipeServer server(endpoint, "p", applied.Sink(), &gate);
    std::thread serving([&] { server.Serve(); });
    while (gate.Waiting() == 0) {
        std::this_thread::yield();
    }
    gate.Shutdown();
    serving.join();
    EXPECT_EQ(applied.Count(), 0u);
    EXPECT_EQ(endpoint.disconnects, 0);
}

}  // namespace
}  // namespace zelk
