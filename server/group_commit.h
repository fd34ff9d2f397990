#pragma once
// One thread writes every accepted result. Whatever arrived while the previous commit
// was running goes into the next transaction together, so each commit (and its fsync)
// serves many submissions. A caller's future is fulfilled only after the commit that
// holds its row.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "server/store.h"

class GroupCommitWriter {
public:
    // onAdded runs on the writer thread for each newly stored result, after its commit
    // and before its caller hears of it.
    using AddedCallback = std::function<void(const NewResult&)>;
    explicit GroupCommitWriter(ResultStore& store, AddedCallback onAdded = {}, std::size_t maxBatch = 1024);
    ~GroupCommitWriter();  // stores what is queued, then stops
    GroupCommitWriter(const GroupCommitWriter&) = delete;
    GroupCommitWriter& operator=(const GroupCommitWriter&) = delete;

    // The future holds the identifier once committed, or the store's exception.
    std::future<std::string> submit(NewResult result);

private:
    struct Pending {
        NewResult result;
        std::promise<std::string> promise;
    };
    void run();

    ResultStore& store_;
    AddedCallback onAdded_;
    std::size_t maxBatch_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    std::thread thread_;
};
