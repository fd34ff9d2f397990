#include "server/group_commit.h"

#include <stdexcept>
#include <vector>

#include "server/service_log.h"

GroupCommitWriter::GroupCommitWriter(ResultStore& store, AddedCallback onAdded, std::size_t maxBatch)
    : store_(store), onAdded_(std::move(onAdded)), maxBatch_(maxBatch), thread_([this] { run(); }) {}

GroupCommitWriter::~GroupCommitWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

std::future<std::string> GroupCommitWriter::submit(NewResult result) {
    Pending pending{std::move(result), {}};
    auto future = pending.promise.get_future();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(pending));
    }
    wake_.notify_one();
    return future;
}

void GroupCommitWriter::run() {
    std::vector<Pending> batch;
    std::vector<NewResult> rows;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, nothing left
            while (!queue_.empty() && batch.size() < maxBatch_) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        rows.clear();
        for (Pending& p : batch) rows.push_back(std::move(p.result));
        std::vector<InsertOutcome> outcomes;
        try {
            outcomes = store_.insertBatch(rows);
            if (outcomes.size() != batch.size()) throw std::logic_error("the store answered for a different number of rows");
        } catch (...) {
            for (Pending& p : batch) p.promise.set_exception(std::current_exception());
            batch.clear();
            continue;
        }
        // Committed: each caller hears its identifier whatever the callback does, and a
        // callback that throws must not end this thread, which every later submission needs.
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (outcomes[i].added && onAdded_) {
                try {
                    onAdded_(rows[i]);
                } catch (const std::exception& e) {
                    logLine(timestamp() + " after storing result " + outcomes[i].id + ": " + oneLine(e.what()));
                } catch (...) {
                    logLine(timestamp() + " after storing result " + outcomes[i].id + ": unknown exception");
                }
            }
            batch[i].promise.set_value(outcomes[i].id);
        }
        batch.clear();
    }
}
