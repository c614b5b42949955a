// Values handed from one thread to another in the order they were posted,
// each taken once. A queued signal says that one is waiting; the value itself
// goes through here, under a lock every thread checker can see (Qt's own
// queue is invisible to one that does not instrument Qt).
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <utility>

template <typename T> class Mailbox {
public:
    void post(T value) {
        std::lock_guard<std::mutex> hold(lock_);
        values_.push_back(std::move(value));
    }
    // The oldest value not taken yet; none when every one was taken.
    [[nodiscard]] std::optional<T> take() {
        std::lock_guard<std::mutex> hold(lock_);
        if (values_.empty())
            return std::nullopt;
        T value = std::move(values_.front());
        values_.pop_front();
        return value;
    }

private:
    std::mutex lock_;
    std::deque<T> values_;
};
