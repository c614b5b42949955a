#include "ui/serial_jobs.h"

SerialJobs::~SerialJobs() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SerialJobs::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(std::move(job));
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
}

void SerialJobs::waitIdle() {
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return jobs_.empty() && !running_; });
}

bool SerialJobs::busy() const {
    std::lock_guard<std::mutex> hold(lock_);
    return running_ || !jobs_.empty();
}

void SerialJobs::run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // quit, and nothing is left to run
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        hold.unlock();
        job();
        hold.lock();
        running_ = false;
        if (jobs_.empty())
            idle_.notify_all();
    }
}
