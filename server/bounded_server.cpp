#include "server/bounded_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

// A refused client is given this long, and this many bytes, to finish sending what it had
// in flight and read the reply before the connection is closed under it.
constexpr auto kLingerTime = std::chrono::seconds(2);
constexpr auto kLingerQuiet = std::chrono::milliseconds(500);
constexpr std::size_t kLingerBytes = 8 * 1024 * 1024;

// Rounded up, so that a wait that ends at the deadline ends past it.
int millisUntil(Clock::time_point deadline, std::chrono::milliseconds cap) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, std::min(left, cap).count()));
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    if ((peer ? getpeername(fd, a, &len) : getsockname(fd, a, &len)) != 0) return;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(a, len, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

// One connection, plain or TLS, on a non-blocking socket. Every read waits at most the
// library's read time-out and never past the current deadline, and takes no more than the
// current budget; the head's line count is kept as its bytes go by (the library reads a
// head one byte at a time).
class BoundedStream final : public httplib::Stream {
public:
    BoundedStream(int fd, SSL* ssl, const RequestBounds& bounds, std::chrono::milliseconds readTimeout,
                  std::chrono::milliseconds writeTimeout)
        : fd_(fd), ssl_(ssl), bounds_(bounds), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

    void beginRequest(Clock::time_point waitStart) {
        inHead_ = true;
        budget_ = bounds_.maxHeadBytes;
        lines_ = 0;
        deadline_ = waitStart + bounds_.headDeadline;
        fault_ = bounded::HeadFault::None;
    }
    void endHead(std::size_t bodyBudget) {
        inHead_ = false;
        budget_ = bodyBudget;
        deadline_ = Clock::now() + bounds_.bodyDeadline;
    }
    void closeAfterReply() { closeAfterReply_ = true; }
    bool closingAfterReply() const { return closeAfterReply_; }
    bounded::HeadFault fault() const { return fault_; }

    // Waits up to `wait` for the first byte of a next request; false when none came or the
    // server stops.
    bool waitForRequest(std::chrono::milliseconds wait, const std::atomic<socket_t>& listener) {
        if (ssl_ && SSL_pending(ssl_) > 0) return true;
        const auto until = Clock::now() + wait;
        while (listener != INVALID_SOCKET) {
            const int ms = millisUntil(until, std::chrono::milliseconds(100));
            if (waitFor(fd_, POLLIN, ms)) return true;
            if (ms == 0) return false;
        }
        return false;
    }

    bool handshake(Clock::time_point deadline) {
        for (;;) {
            const int rc = SSL_accept(ssl_);
            if (rc == 1) return true;
            const int err = SSL_get_error(ssl_, rc);
            if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) return false;
            const int ms = millisUntil(deadline, readTimeout_);
            if (ms == 0 || !waitFor(fd_, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, ms)) return false;
        }
    }

    bool is_readable() const override { return (ssl_ && SSL_pending(ssl_) > 0) || waitFor(fd_, POLLIN, 0); }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, int(writeTimeout_.count())); }

    ssize_t read(char* ptr, size_t size) override {
        if (budget_ == 0) {
            if (inHead_) fault_ = bounded::HeadFault::TooLarge;
            return -1;
        }
        size = std::min(size, budget_);
        for (;;) {
            ssize_t n;
            short wanted = POLLIN;
            if (ssl_) {
                n = SSL_read(ssl_, ptr, int(std::min<size_t>(size, 1 << 30)));
                if (n <= 0) {
                    const int err = SSL_get_error(ssl_, int(n));
                    if (err == SSL_ERROR_ZERO_RETURN) return 0;
                    if (err == SSL_ERROR_WANT_WRITE) {
                        wanted = POLLOUT;
                    } else if (err != SSL_ERROR_WANT_READ) {
                        return -1;
                    }
                }
            } else {
                n = recv(fd_, ptr, size, MSG_DONTWAIT);
                if (n == 0) return 0;
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            }
            if (n > 0) return counted(ptr, std::size_t(n));
            const bool deadlineFirst = deadline_ - Clock::now() < readTimeout_;
            const int ms = millisUntil(deadline_, readTimeout_);
            if (ms == 0 || !waitFor(fd_, wanted, ms)) {
                if (inHead_ && deadlineFirst) fault_ = bounded::HeadFault::TooSlow;
                return -1;
            }
        }
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            ssize_t n;
            short wanted = POLLOUT;
            if (ssl_) {
                n = SSL_write(ssl_, ptr, int(std::min<size_t>(size, 1 << 30)));
                if (n <= 0) {
                    const int err = SSL_get_error(ssl_, int(n));
                    if (err == SSL_ERROR_WANT_READ) {
                        wanted = POLLIN;
                    } else if (err != SSL_ERROR_WANT_WRITE) {
                        return -1;
                    }
                }
            } else {
                n = send(fd_, ptr, size, MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            }
            if (n > 0) return n;
            if (!waitFor(fd_, wanted, int(writeTimeout_.count()))) return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    ssize_t counted(const char* ptr, std::size_t n) {
        budget_ -= n;
        if (inHead_) {
            lines_ += std::size_t(std::count(ptr, ptr + n, '\n'));
            // The request line and the blank line that ends the head come on top.
            if (lines_ > bounds_.maxHeaderLines + 2) {
                fault_ = bounded::HeadFault::TooLarge;
                return -1;
            }
        }
        return ssize_t(n);
    }

    int fd_;
    SSL* ssl_;
    const RequestBounds& bounds_;
    std::chrono::milliseconds readTimeout_;
    std::chrono::milliseconds writeTimeout_;
    bool inHead_ = true;
    std::size_t budget_ = 0;
    std::size_t lines_ = 0;
    Clock::time_point deadline_;
    bounded::HeadFault fault_ = bounded::HeadFault::None;
    bool closeAfterReply_ = false;
};

thread_local BoundedStream* tCurrent = nullptr;

std::chrono::milliseconds toMillis(time_t sec, time_t usec) {
    return std::chrono::milliseconds(std::int64_t(sec) * 1000 + std::int64_t(usec) / 1000);
}

// Lets the client's data in flight arrive and be dropped while the reply, followed by the
// end of our side, reaches it; closing with unread data would reset the connection and
// could take the reply with it.
void lingeringClose(int fd) {
    shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + kLingerTime;
    std::size_t drained = 0;
    char scrap[4096];
    while (drained < kLingerBytes) {
        const int ms = millisUntil(until, kLingerQuiet);
        if (ms == 0 || !waitFor(fd, POLLIN, ms)) break;
        const ssize_t n = recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
        if (n > 0) drained += std::size_t(n);
    }
}

struct CurrentStream {
    explicit CurrentStream(BoundedStream& s) { tCurrent = &s; }
    ~CurrentStream() { tCurrent = nullptr; }
};

// The library's keep-alive loop, over a bounded stream. `serve` runs one request.
template <typename Serve>
bool serveConnection(BoundedStream& stream, const std::atomic<socket_t>& listener, std::size_t keepAliveMax,
                     std::chrono::milliseconds keepAliveWait, Serve serve) {
    CurrentStream current(stream);
    bool ok = false;
    for (std::size_t left = keepAliveMax; left > 0 && listener != INVALID_SOCKET; --left) {
        const auto waitStart = Clock::now();
        if (!stream.waitForRequest(keepAliveWait, listener)) break;
        stream.beginRequest(waitStart);
        bool closed = false;
        ok = serve(left == 1, closed);
        if (!ok || closed || stream.closingAfterReply()) break;
    }
    return ok;
}

}  // namespace

namespace bounded {
void headEnded(std::size_t bodyBudget) {
    if (tCurrent) tCurrent->endHead(bodyBudget);
}
void closeAfterReply() {
    if (tCurrent) tCurrent->closeAfterReply();
}
HeadFault headFault() { return tCurrent ? tCurrent->fault() : HeadFault::None; }
}  // namespace bounded

bool BoundedServer::process_and_close_socket(socket_t sock) {
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    BoundedStream stream(sock, nullptr, bounds_, toMillis(read_timeout_sec_, read_timeout_usec_),
                         toMillis(write_timeout_sec_, write_timeout_usec_));
    const bool ok = serveConnection(stream, svr_sock_, keep_alive_max_count_, std::chrono::seconds(keep_alive_timeout_sec_),
                                    [&](bool closeConnection, bool& closed) {
                                        return process_request(stream, closeConnection, closed, nullptr);
                                    });
    if (stream.closingAfterReply()) lingeringClose(sock);
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return ok;
}

bool BoundedSslServer::process_and_close_socket(socket_t sock) {
    const auto accepted = Clock::now();
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    bool ok = false;
    SSL* ssl = SSL_new(ssl_context());
    if (ssl && SSL_set_fd(ssl, sock) == 1) {
        BoundedStream stream(sock, ssl, bounds_, toMillis(read_timeout_sec_, read_timeout_usec_),
                             toMillis(write_timeout_sec_, write_timeout_usec_));
        if (stream.handshake(accepted + bounds_.headDeadline)) {
            ok = serveConnection(stream, svr_sock_, keep_alive_max_count_,
                                 std::chrono::seconds(keep_alive_timeout_sec_),
                                 [&](bool closeConnection, bool& closed) {
                                     return process_request(stream, closeConnection, closed,
                                                            [ssl](httplib::Request& req) { req.ssl = ssl; });
                                 });
            // One try at close_notify; a client that is gone is not waited for.
            if (ok || stream.closingAfterReply()) SSL_shutdown(ssl);
            if (stream.closingAfterReply()) lingeringClose(sock);
        }
    }
    if (ssl) SSL_free(ssl);
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return ok;
}
