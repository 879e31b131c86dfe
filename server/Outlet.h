#pragma once
// A connection's socket as the storage workers see it: answers go from the worker straight to
// the client when nothing waits before them, rather than through the network thread, which
// would have to wake up for them first.

#include <mutex>
#include <string_view>

namespace rhserver {

class Outlet {
public:
    explicit Outlet(int fd)
        : m_fd(fd) {}

    // From a worker: sends what the socket takes now, unless bytes already wait to go or the
    // connection is closing; how many bytes went. The network thread sends the rest.
    size_t sendNow(std::string_view bytes);
    // From the network thread: whether bytes wait in its buffer to go before anything else.
    void setQueued(bool queued);
    // From the network thread, before the socket closes: no worker writes to it from now on.
    void close();

private:
    std::mutex m_mutex;
    int m_fd;
    bool m_queued = false;
};

} // namespace rhserver
