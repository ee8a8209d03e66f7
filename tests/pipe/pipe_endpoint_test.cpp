// The platform's pipe end to end: the server logic over the real endpoint (a Unix socket here,
// the named pipe under Wine) with real clients.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/win_codes.h"
#include "common/pipe_client.h"
#include "service/pipe/pipe_server.h"

namespace zelk {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string UniquePipeName() {
    static std::atomic<int> counter{0};
    std::random_device random;
    return "ZELK_TEST_PIPE_" + std::to_string(random()) + "_" + std::to_string(counter++);
}

PipeMessage Record(std::int32_t session, std::int32_t tag, const char* text) {
    return MakePipeMessage(session, tag, text, std::strlen(text));
}

// A server thread over the system endpoint, collecting what it applies. It is serving once
// the constructor returns.
class ServedPipe {
  public:
    ServedPipe()
        : endpoint_(CreateSystemPipeEndpoint()),
          server_(*endpoint_, name_, [this](const PipeMessage& m) {
              std::lock_guard<std::mutex> guard(lock_);
              applied_.push_back(m);
          }) {
        thread_ = std::thread([this] { server_.Serve(); });
        std::uint32_t r = kErrorFileNotFound;
        for (int i = 0; i < 500 && r == kErrorFileNotFound; ++i) {
            r = SendPipeRecord(name_, Record(1, 1, ""));
            if (r == kErrorFileNotFound) std::this_thread::sleep_for(milliseconds(10));
        }
        EXPECT_EQ(r, 0u);
        EXPECT_TRUE(WaitForApplied(1));
    }
    ~ServedPipe() { Stop(); }

    void Stop() {
        endpoint_->Close();
        if (thread_.joinable()) thread_.join();
    }
    const std::string& Name() const { return name_; }
    std::vector<PipeMessage> Applied() {
        std::lock_guard<std::mutex> guard(lock_);
        return applied_;
    }
    bool WaitForApplied(std::size_t count) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Applied().size() < count && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(2));
        }
        return Applied().size() >= count;
    }

  private:
    std::string name_ = UniquePipeName();
    std::unique_ptr<PipeEndpoint> endpoint_;
    std::mutex lock_;
    std::vector<PipeMessage> applied_;
    PipeServer server_;
    std::thread thread_;
};

TEST(PipeEndpoint, ShortEmptyAndOversizedWritesKeepTheServerGoing) {
    ServedPipe pipe;
    const unsigned char shortRecord[5] = {9, 0, 0, 0, 1};
    EXPECT_EQ(SendPipeBytes(pipe.Name(), shortRecord, sizeof shortRecord), 0u);
    EXPECT_EQ(SendPipeBytes(pipe.Name(), nullptr, 0), 0u);  // connects and leaves
    std::vector<unsigned char> big(5000, 'a');
    const PipeMessage head = Record(7, 0x2017, "");
    std::memcpy(big.data(), &head, 8);
    EXPECT_EQ(SendPipeBytes(pipe.Name(), big.data(), big.size()), 0u);
    ASSERT_EQ(SendPipeRecord(pipe.Name(), Record(2, 0x2019, "Blue in Green")), 0u);
    ASSERT_TRUE(pipe.WaitForApplied(3));
    const auto applied = pipe.Applied();
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_EQ(applied[1].sessionNumber, 7);
    EXPECT_EQ(std::string(applied[1].text), std::string(255, 'a'));  // cut at 255 bytes
    EXPECT_EQ(applied[2].sessionNumber, 2);
    EXPECT_EQ(applied[2].tag, 0x2019);
    EXPECT_STREQ(applied[2].text, "Blue in Green");
}

TEST(PipeEndpoint, ASecondServerOfTheSameNameIsRefused) {
    ServedPipe pipe;
    auto second = CreateSystemPipeEndpoint();
    EXPECT_EQ(second->Create(pipe.Name()), PipeCreateResult::kCreateFailed);
    // The first one still serves.
    ASSERT_EQ(SendPipeRecord(pipe.Name(), Record(2, 1, "")), 0u);
    EXPECT_TRUE(pipe.WaitForApplied(2));
}

// Silent clients connected ahead of a writer, held open until the object ends.
std::vector<std::unique_ptr<PipeClientConnection>> SilentClients(const std::string& name,
                                                                 int count) {
    std::vector<std::unique_ptr<PipeClientConnection>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<PipeClientConnection>());
        EXPECT_EQ(clients.back()->Open(name), 0u);
    }
    return clients;
}

TEST(PipeEndpoint, AWriterIsServedAtOnceBehindSilentClientsThatAreDroppedLater) {
    ServedPipe pipe;
    auto silent = SilentClients(pipe.Name(), 50);
    const auto start = Clock::now();
    ASSERT_EQ(SendPipeRecord(pipe.Name(), Record(2, 0x2019, "past the silent")), 0u);
    ASSERT_TRUE(pipe.WaitForApplied(2));
    // One served at a time, the writer would wait out the silent clients' time.
    EXPECT_LT(Clock::now() - start, milliseconds(kPipeReadTimeoutMs / 2));
    EXPECT_STREQ(pipe.Applied()[1].text, "past the silent");

    // Past their time the silent clients are dropped: what they write later goes nowhere.
    std::this_thread::sleep_for(milliseconds(kPipeReadTimeoutMs + 500));
    const PipeMessage late = Record(3, 1, "");
    for (auto& client : silent) client->Write(&late, sizeof late);
    silent.clear();
    ASSERT_EQ(SendPipeRecord(pipe.Name(), Record(4, 1, "")), 0u);
    ASSERT_TRUE(pipe.WaitForApplied(3));
    EXPECT_EQ(pipe.Applied().size(), 3u);
    EXPECT_EQ(pipe.Applied()[2].sessionNumber, 4);
}

TEST(PipeEndpoint, EachClientsRecordsArriveInTheOrderItSentThem) {
    ServedPipe pipe;
    auto silent = SilentClients(pipe.Name(), 10);
    constexpr int kWriters = 4;
    constexpr int kRecords = 100;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&pipe, w] {
            for (int i = 0; i < kRecords; ++i) {
                const std::string text = std::to_string(i);
                EXPECT_EQ(SendPipeRecord(pipe.Name(), Record(10 + w, 0x2019, text.c_str())), 0u);
            }
        });
    }
    for (std::thread& t : writers) t.join();
    ASSERT_TRUE(pipe.WaitForApplied(1 + kWriters * kRecords));
    int next[kWriters] = {};
    for (const PipeMessage& m : pipe.Applied()) {
        if (m.sessionNumber < 10) continue;
        const int w = m.sessionNumber - 10;
        ASSERT_EQ(std::atoi(m.text), next[w]) << "writer " << w;
        ++next[w];
    }
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(next[w], kRecords);
}

TEST(PipeEndpoint, ClosingEndsAServerWaitingForClients) {
    ServedPipe pipe;
    const auto start = Clock::now();
    pipe.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(SendPipeRecord(pipe.Name(), Record(1, 1, "")), kErrorFileNotFound);
}

}  // namespace
}  // namespace zelk
