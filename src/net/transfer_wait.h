#pragma once

#include <functional>
#include <memory>

namespace tamberly {

/// How the caller's thread waits while one request runs on a thread of its own. The Qt front end runs the window's
/// event loop meanwhile, so the window keeps painting and answering.
class TransferWait {
public:
    virtual ~TransferWait() = default;
    /// Waits until wake() has been called, or until the caller's loop is told to end (the program quits); true when
    /// woken.
    virtual bool run() = 0;
    /// Ends run(); called once, from the request's thread, possibly before run() has begun.
    virtual void wake() = 0;
};

/// Makes a fresh wait for each request.
using TransferWaitFactory = std::function<std::unique_ptr<TransferWait>()>;

} // namespace tamberly
