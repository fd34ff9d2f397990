#include "report/https_client.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Returning less than was handed over makes libcurl end the transfer.
std::size_t appendToBody(char* data, std::size_t size, std::size_t count, void* target) {
    HttpResponse& response = *static_cast<HttpResponse*>(target);
    const std::size_t n = size * count;
    if (n > kMaxReplyBytes - response.body.size()) {
        response.body.append(data, kMaxReplyBytes - response.body.size());
        response.tooLarge = true;
        return 0;
    }
    response.body.append(data, n);
    return n;
}

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string authority(const std::string& host, std::uint16_t port) {
    const bool ipv6Literal = host.find(':') != std::string::npos;
    return (ipv6Literal ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::optional<HttpResponse> HttpsClient::post(const std::string& path, const std::string& body,
                                              const std::string& header) const {
    initialiseCurlOnce();
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return std::nullopt;
    CURL* h = curl.get();

    std::unique_ptr<curl_slist, ListDeleter> headers;
    // Only our own header: no "Accept", and no "Expect: 100-continue" pause for larger bodies.
    for (const std::string& line : {header, std::string("Accept:"), std::string("Expect:")}) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (!grown) return std::nullopt;
        headers.release();
        headers.reset(grown);
    }

    HttpResponse response;
    const std::string url = "https://" + authority(host, port) + path;
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "https");
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_USERAGENT, userAgent.c_str());
    set(CURLOPT_HTTPHEADER, headers.get());
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDS, body.data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    set(CURLOPT_WRITEFUNCTION, &appendToBody);
    set(CURLOPT_WRITEDATA, &response);
    // A redirect would send the document, machine identifier and all, wherever the
    // reply points.
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caPem.empty()) {
        curl_blob blob{const_cast<char*>(caPem.data()), caPem.size(), CURL_BLOB_COPY};
        set(CURLOPT_CAINFO_BLOB, &blob);
        // Trust only the given authorities, not the built-in bundle as well.
        set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
        set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeout.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeout.count()));
    set(CURLOPT_NOSIGNAL, 1L);
    if (!ok) return std::nullopt;

    // A transfer error after the status line (the reply's limit included) still yields
    // the response with what arrived.
    curl_easy_perform(h);
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0) {
        return std::nullopt;
    }
    response.statusCode = static_cast<std::uint32_t>(status);
    return response;
}
