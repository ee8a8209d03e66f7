// A LineLink that keeps what was sent and closed, per client, for the tests to take.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/line_link.h"

namespace zelk::test {

class FakeLineLink final : public LineLink {
  public:
    void Send(LineClientId client, std::string_view line) override {
        std::lock_guard<std::mutex> guard(lock_);
        sent_[client].emplace_back(line);
    }
    void Close(LineClientId client) override {
        std::lock_guard<std::mutex> guard(lock_);
        closed_.insert(client);
    }

    // The lines sent to `client` since the last Take.
    std::vector<std::string> Take(LineClientId client) {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(sent_[client], {});
    }
    bool Closed(LineClientId client) {
        std::lock_guard<std::mutex> guard(lock_);
        return closed_.count(client) != 0;
    }

  private:
    std::mutex lock_;
    std::map<LineClientId, std::vector<std::string>> sent_;
    std::set<LineClientId> closed_;
};

}  // namespace zelk::test
