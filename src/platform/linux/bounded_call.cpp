#include "platform/linux/bounded_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace tamberly {

std::optional<std::string> runBounded(std::function<std::string()> work, std::chrono::milliseconds limit) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<std::string> answer;
    };
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work = std::move(work)] {
            std::string answer = work();
            const std::lock_guard lock(shared->mutex);
            shared->answer = std::move(answer);
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        return std::string("no thread could be started: ") + e.what();
    }
    std::unique_lock lock(shared->mutex);
    shared->done.wait_for(lock, limit, [&] { return shared->answer.has_value(); });
    return shared->answer;
}

} // namespace tamberly
