#include "audio-hardware/PulseAudio/NotificationThread.h"

namespace audiohw {

NotificationThread::NotificationThread(ChangeWatchers& watchers)
    : watchers_(watchers), thread_([this] { run(); }) {}

NotificationThread::~NotificationThread() { stop(); }

void NotificationThread::post(Notification notification) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(notification));
    }
    wake_.notify_one();
}

void NotificationThread::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void NotificationThread::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Notification next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        for (const HardwareChange change : next) watchers_.deliver(change);
        lock.lock();
    }
}

}  // namespace audiohw
