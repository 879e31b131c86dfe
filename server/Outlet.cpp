#include "Outlet.h"

#include <sys/socket.h>

namespace rhserver {

size_t Outlet::sendNow(std::string_view bytes) {
    // Held while sending: the descriptor cannot be closed, and taken by another connection,
    // under the worker's feet.
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0 || m_queued) return 0;
    const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    return n > 0 ? size_t(n) : 0;
}

void Outlet::setQueued(bool queued) {
    const std::lock_guard lock(m_mutex);
    m_queued = queued;
}

void Outlet::close() {
    const std::lock_guard lock(m_mutex);
    m_fd = -1;
}

} // namespace rhserver
