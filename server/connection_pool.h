#pragma once
// Connections handed to one thread at a time and kept for reuse. A connection that saw
// an error can be discarded instead of returned.

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

template <typename Connection>
class ConnectionPool {
public:
    using Factory = std::function<std::unique_ptr<Connection>()>;

    explicit ConnectionPool(Factory factory, std::size_t keepAtMost = 64)
        : factory_(std::move(factory)), keepAtMost_(keepAtMost) {}

    class Lease {
    public:
        Lease(ConnectionPool* pool, std::unique_ptr<Connection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        Lease(Lease&& other) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (connection_) pool_->giveBack(std::move(connection_));
        }
        Connection& operator*() { return *connection_; }
        Connection* operator->() { return connection_.get(); }
        void discard() { connection_.reset(); }

    private:
        ConnectionPool* pool_;
        std::unique_ptr<Connection> connection_;
    };

    // Throws whatever the factory throws when a new connection cannot be made.
    Lease acquire() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                auto connection = std::move(idle_.back());
                idle_.pop_back();
                return Lease(this, std::move(connection));
            }
        }
        return Lease(this, factory_());
    }

private:
    void giveBack(std::unique_ptr<Connection> connection) {
        std::lock_guard lock(mutex_);
        if (idle_.size() < keepAtMost_) idle_.push_back(std::move(connection));
    }

    Factory factory_;
    std::size_t keepAtMost_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};
