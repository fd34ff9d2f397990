#pragma once
// HTTP and HTTPS servers whose connections are held to bounds that cpp-httplib 0.11.4 does
// not set. The library's time-out is per read, so a client that sends one byte of its head
// now and then keeps a worker for ever; it takes any number of header lines; and it reads
// any body it is sent before routing. These subclasses run the connection loop themselves
// over a stream of their own that gives each request's head a deadline and a byte and line
// budget, and a body only the budget the pre-routing handler grants it (none, unless the
// route reads one); a connection refused with part of its request unread is closed after
// the reply with a short, bounded lingering close, so that the client still reads it.

#include <httplib.h>

#include <chrono>
#include <cstddef>

struct RequestBounds {
    // From the start of the wait for a request to the end of its head, TLS handshake included
    // for a connection's first request.
    std::chrono::milliseconds headDeadline{10000};
    // From the end of the head to the end of a body the route reads.
    std::chrono::milliseconds bodyDeadline{10000};
    std::size_t maxHeadBytes = 16 * 1024;
    std::size_t maxHeaderLines = 100;
};

// What the handlers say to the connection of the request they run for (they run on its
// thread). Outside such a thread these do nothing.
namespace bounded {
// The head is read; the body may bring this many bytes (chunk framing included) before the
// connection ends.
void headEnded(std::size_t bodyBudget);
// The reply is the connection's last: part of the request may be unread.
void closeAfterReply();
// Why the head of the current request could not be read: not at all.
enum class HeadFault { None, TooLarge, TooSlow };
HeadFault headFault();
}  // namespace bounded

class BoundedServer : public httplib::Server {
public:
    explicit BoundedServer(const RequestBounds& bounds) : bounds_(bounds) {}

private:
    bool process_and_close_socket(socket_t sock) override;
    RequestBounds bounds_;
};

class BoundedSslServer : public httplib::SSLServer {
public:
    BoundedSslServer(const char* certFile, const char* keyFile, const RequestBounds& bounds)
        : httplib::SSLServer(certFile, keyFile), bounds_(bounds) {}

private:
    bool process_and_close_socket(socket_t sock) override;
    RequestBounds bounds_;
};
