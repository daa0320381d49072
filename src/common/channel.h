#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

// An unbounded first-in first-out channel with a timed receive. The receiver
// can tell a time-out from the end of the stream: queued items always come
// before the end is reported.
template <class T> class Channel {
  public:
    enum class Status { Item, Timeout, Closed };

    struct Received {
        Status status;
        std::optional<T> item;
    };

    // Returns false when the receiving end is gone; the item is dropped.
    bool send(T item) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!receiver_alive_)
                return false;
            queue_.push_back(std::move(item));
        }
        ready_.notify_one();
        return true;
    }

    Received receive_for(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        bool woken =
            ready_.wait_for(lock, timeout, [this] { return !queue_.empty() || !sender_alive_; });
        if (!queue_.empty()) {
            T item = std::move(queue_.front());
            queue_.pop_front();
            return {Status::Item, std::move(item)};
        }
        return {woken ? Status::Closed : Status::Timeout, std::nullopt};
    }

    void close_sender() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sender_alive_ = false;
        }
        ready_.notify_all();
    }

    void close_receiver() {
        std::lock_guard<std::mutex> lock(mutex_);
        receiver_alive_ = false;
        queue_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> queue_;
    bool sender_alive_ = true;
    bool receiver_alive_ = true;
};

template <class T> using ChannelPtr = std::shared_ptr<Channel<T>>;

// The receiving end of a channel: closes its side when dropped, so that
// later sends are discarded instead of piling up.
template <class T> class Receiver {
  public:
    Receiver() = default;
    explicit Receiver(ChannelPtr<T> channel) : channel_(std::move(channel)) {}
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        reset();
        channel_ = std::move(other.channel_);
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { reset(); }

    typename Channel<T>::Received receive_for(std::chrono::milliseconds timeout) {
        return channel_->receive_for(timeout);
    }

  private:
    void reset() {
        if (channel_)
            channel_->close_receiver();
        channel_.reset();
    }
    ChannelPtr<T> channel_;
};
