// A thread of its own that runs jobs one after another, in the order they were
// posted. The dialog releases the update disks through it, so that the window
// stays responsive while a slow or absent calculator is waited for.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class SerialJobs {
public:
    SerialJobs() = default;
    // Runs what was posted to the end, then ends the thread.
    ~SerialJobs();
    SerialJobs(const SerialJobs&) = delete;
    SerialJobs& operator=(const SerialJobs&) = delete;

    // Queues job behind every job posted before it. Any thread.
    void post(std::function<void()> job);
    // Blocks until every job posted so far has ended. Any thread but the jobs' own.
    void waitIdle();
    // True while a job is queued or running.
    [[nodiscard]] bool busy() const;

private:
    void run();

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false; // a job has been taken and has not ended
    bool quit_ = false;
    std::thread thread_; // started by the first post
};
