#include "cli/shared_answer.h"

#include <algorithm>

namespace meterload::cli {

bool SharedAnswer::Await(std::size_t who)
{
    std::unique_lock<std::mutex> lock(mutex_);
    states_.at(who) = State::Waiting;
    changed_.notify_all();
    changed_.wait(lock, [this] { return answer_.has_value(); });
    return *answer_;
}

void SharedAnswer::Leave(std::size_t who)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (states_.at(who) == State::Running) {
        states_[who] = State::Left;
        changed_.notify_all();
    }
}

std::vector<std::size_t> SharedAnswer::Gather()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] {
        return std::none_of(states_.begin(), states_.end(), [](State state) { return state == State::Running; });
    });
    std::vector<std::size_t> waiting;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i] == State::Waiting) {
            waiting.push_back(i);
        }
    }
    return waiting;
}

void SharedAnswer::Give(bool yes)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!answer_) {
        answer_ = yes;
        changed_.notify_all();
    }
}

}  // namespace meterload::cli
