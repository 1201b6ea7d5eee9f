#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace tamberly {

/// What became of work run by runBounded: its answer; or none, having taken too long; or none, with why no thread
/// could be started for it.
template <typename Answer> struct BoundedAnswer {
    std::optional<Answer> answer;
    std::string noThread;
};

/// Runs work on a thread of its own and waits for it at most limit. A late thread finishes alone, so work must own
/// everything it touches.
template <typename Answer>
BoundedAnswer<Answer> runBounded(std::function<Answer()> work, std::chrono::milliseconds limit) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Answer> answer;
    };
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work = std::move(work)] {
            Answer answer = work();
            const std::lock_guard lock(shared->mutex);
            shared->answer = std::move(answer);
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        return {std::nullopt, std::string("no thread could be started: ") + e.what()};
    }
    std::unique_lock lock(shared->mutex);
    shared->done.wait_for(lock, limit, [&] { return shared->answer.has_value(); });
    return {std::move(shared->answer), {}};
}

} // namespace tamberly
