#pragma once
// Connections handed to one thread at a time and kept for reuse. At most maxInUse are out
// at once, so a burst of requests cannot open more connections than the database allows;
// a caller waits a bounded time for one and is then told the database is unavailable. A
// connection that saw its link fail is discarded instead of returned.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "server/store.h"

template <typename Connection>
class ConnectionPool {
public:
    using Factory = std::function<std::unique_ptr<Connection>()>;
    // False for an idle connection that is known to be dead; it is dropped on acquire.
    using Usable = std::function<bool(Connection&)>;

    explicit ConnectionPool(Factory factory, std::size_t maxInUse = 64,
                            std::chrono::milliseconds maxWait = std::chrono::seconds(5), Usable usable = {})
        : factory_(std::move(factory)), usable_(std::move(usable)), maxInUse_(maxInUse), maxWait_(maxWait) {}

    class Lease {
    public:
        Lease(ConnectionPool* pool, std::unique_ptr<Connection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        Lease(Lease&& other) noexcept : pool_(other.pool_), connection_(std::move(other.connection_)) {
            other.pool_ = nullptr;
        }
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (pool_) pool_->giveBack(std::move(connection_));
        }
        Connection& operator*() { return *connection_; }
        Connection* operator->() { return connection_.get(); }
        void discard() { connection_.reset(); }

    private:
        ConnectionPool* pool_;
        std::unique_ptr<Connection> connection_;
    };

    // Throws StoreUnavailable when none is free within the wait, and whatever the factory
    // throws when a new connection cannot be made.
    Lease acquire() {
        std::unique_ptr<Connection> connection;
        {
            std::unique_lock lock(mutex_);
            if (!freed_.wait_for(lock, maxWait_, [this] { return inUse_ < maxInUse_; })) {
                throw StoreUnavailable("all " + std::to_string(maxInUse_) + " database connections stayed busy for " +
                                       std::to_string(maxWait_.count()) + " ms");
            }
            ++inUse_;
            while (!idle_.empty() && !connection) {
                connection = std::move(idle_.back());
                idle_.pop_back();
                if (usable_ && !usable_(*connection)) connection.reset();
            }
        }
        if (connection) return Lease(this, std::move(connection));
        try {
            return Lease(this, factory_());
        } catch (...) {
            giveBack(nullptr);
            throw;
        }
    }

    // Drops every idle connection: once one is found broken, the others made before the
    // same failure most likely are too, and each would cost a request to find out.
    void discardIdle() {
        std::vector<std::unique_ptr<Connection>> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(idle_);
        }
    }

private:
    void giveBack(std::unique_ptr<Connection> connection) {
        {
            std::lock_guard lock(mutex_);
            --inUse_;
            if (connection) idle_.push_back(std::move(connection));
        }
        freed_.notify_one();
    }

    Factory factory_;
    Usable usable_;
    std::size_t maxInUse_;
    std::chrono::milliseconds maxWait_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t inUse_ = 0;
    std::vector<std::unique_ptr<Connection>> idle_;
};
