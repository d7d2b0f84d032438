#pragma once

#include "core/base/conversion_error.h"
#include "core/base/task.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace TestSupport {

// The fake performer of the runners' tests: each call is recorded, then waits until the test
// says how it ends (an outcome letter for its key); a call whose job is cancelled meanwhile
// throws a cancellation, as the real engines do. Calls come from the runners' job threads.
class HeldCalls {
public:
    void record(const std::string& call)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    // Records `call`, then waits for `key`'s outcome.
    char await(const std::string& call, const std::filesystem::path& key)
    {
        std::unique_lock lock(mutex_);
        calls_.push_back(call);
        while (!outcomes_.count(key)) {
            if (Task::isCancelled())
                throw CancellationError();
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
        return outcomes_[key];
    }
    void release(const std::filesystem::path& key, char outcome = 'o')
    {
        std::lock_guard lock(mutex_);
        outcomes_[key] = outcome;
        changed_.notify_all();
    }
    std::vector<std::string> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::filesystem::path, char> outcomes_;
    std::vector<std::string> calls_;
};

}
