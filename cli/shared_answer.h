// The one question before update mode for several instruments at once: each
// instrument's run waits at its say until every one has either reached its
// own or ended, then all that wait take the same answer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace meterload::cli {

class SharedAnswer {
public:
    explicit SharedAnswer(std::size_t runs) : states_(runs, State::Running) {}

    // Run `who` is ready for update mode: waits for the answer.
    bool Await(std::size_t who);
    // Run `who` will not ask (it ended before its say); nothing once it asked.
    void Leave(std::size_t who);

    // Waits until every run has asked or left; the runs that asked, in order.
    std::vector<std::size_t> Gather();
    // The answer for every run that asked, and for any that asks later; only
    // the first one given counts.
    void Give(bool yes);

private:
    enum class State { Running, Waiting, Left };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<State> states_;
    std::optional<bool> answer_;
};

}  // namespace meterload::cli
