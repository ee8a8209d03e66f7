// The platform's pipe end to end: the server logic over the real endpoint (a Unix socket here,
// the named pipe under Wine) with real clients.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
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

TEST(PipeEndpoint, AnIdleClientIsDroppedAndTheNextOneServed) {
    ServedPipe pipe;
    PipeClientConnection idle;
    ASSERT_EQ(idle.Open(pipe.Name()), 0u);
    const auto start = Clock::now();
    // Blocks (or queues) behind the idle client until the server gives up on it.
    ASSERT_EQ(SendPipeRecord(pipe.Name(), Record(2, 0x2019, "after idle")), 0u);
    ASSERT_TRUE(pipe.WaitForApplied(2));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(kPipeReadTimeoutMs - 300));
    EXPECT_LT(waited, milliseconds(kPipeReadTimeoutMs + 2500));
    EXPECT_STREQ(pipe.Applied()[1].text, "after idle");
    // Whatever the idle client writes later goes nowhere.
    const PipeMessage late = Record(3, 1, "");
    idle.Write(&late, sizeof late);
    idle.Close();
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(pipe.Applied().size(), 2u);
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
