#pragma once
// One synchronous HTTPS POST. Windows goes through WinHTTP, Linux through libcurl; both
// always use TLS with certificate and host name checks, honour the system's proxy
// settings, follow no redirect (a 3xx is just its status) and read no more of a reply
// than kMaxReplyBytes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The result service answers with a 12-character identifier or a short sentence; a
// reply that goes on past this is not one of its answers, and is not kept in memory.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;

struct HttpResponse {
    std::uint32_t statusCode = 0;
    std::string body;  // exactly as received: no decoding, no trimming
    // The body went on past kMaxReplyBytes: reading stopped there, and body holds at most
    // that much of it.
    bool tooLarge = false;
};

struct HttpsClient {
    std::string userAgent;  // UTF-8; the Windows version widens it
    std::string host;
    std::uint16_t port = 443;
    // PEM text of the certificate authorities to trust instead of the system's roots;
    // empty means the system's roots.
    std::string caPem;
    // The same limits WinHTTP applies by default: 60 s to connect (TLS handshake
    // included), 30 s without progress while sending or receiving.
    std::chrono::seconds connectTimeout{60};
    std::chrono::seconds stallTimeout{30};

    // POSTs body to path with the one extra header line (no trailing line break). Empty
    // when no status code was received; once the status is known the response is
    // returned, even if reading its body broke off.
    std::optional<HttpResponse> post(const std::string& path, const std::string& body,
                                     const std::string& header) const;
};
