#include "report/submission.h"

#include "report/result_document.h"

#if TALLYFORGE_HAVE_RESULT_CA
extern const unsigned char resultServiceCa[];
extern const std::size_t resultServiceCaSize;
#endif

HttpsClient resultServiceClient() {
    HttpsClient client;
    client.userAgent = kUserAgent;
    client.host = TALLYFORGE_RESULT_HOST;
    client.port = TALLYFORGE_RESULT_PORT;
#if TALLYFORGE_HAVE_RESULT_CA
    client.caPem.assign(reinterpret_cast<const char*>(resultServiceCa), resultServiceCaSize);
#endif
    return client;
}

std::string resultPageAddress(const std::string& host, std::uint16_t port, std::string_view id) {
    std::string address = "https://" + host;
    if (port != 443) address += ":" + std::to_string(port);
    address += "/benchmarks/";
    address += id;
    return address;
}

SubmissionOutcome interpretResponse(const std::optional<HttpResponse>& response,
                                    const std::string& host, std::uint16_t port) {
    // The address and the message are handed on as C strings, so a zero byte ends them;
    // cutting here keeps both platforms alike and never shows an empty error box.
    const std::string_view body =
        response ? std::string_view(response->body).substr(0, response->body.find('\0'))
                 : std::string_view();
    if (response && response->statusCode == 201) {
        return {true, resultPageAddress(host, port, body)};
    }
    if (response && !body.empty()) return {false, std::string(body)};
    return {false, kSubmitFailedText};
}

SubmissionOutcome postInventory(const SystemInventory& inventory, const HttpsClient& client) {
    const std::string body = buildResultDocument(inventory).dump();
    const auto response = client.post(kSubmitPath, body, kSubmitHeader);
    return interpretResponse(response, client.host, client.port);
}
