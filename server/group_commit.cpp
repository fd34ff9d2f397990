#include "server/group_commit.h"

#include <vector>

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
        } catch (...) {
            for (Pending& p : batch) p.promise.set_exception(std::current_exception());
            batch.clear();
            continue;
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (outcomes[i].added && onAdded_) onAdded_(rows[i]);
            batch[i].promise.set_value(outcomes[i].id);
        }
        batch.clear();
    }
}
