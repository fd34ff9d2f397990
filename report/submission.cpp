#include "report/submission.h"

#include "core/protocol.h"
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
    if (!response || response->tooLarge) return {false, kSubmitFailedText};
    // The address goes to the browser, so it holds nothing the service would not have
    // made: not even a line break around the identifier.
    if (response->statusCode == 201) {
        if (!isResultIdentifier(response->body)) return {false, kNotAnIdentifierText};
        return {true, resultPageAddress(host, port, response->body)};
    }
    // The message is handed on as a C string, so a zero byte ends it; cutting here keeps
    // both platforms alike and never shows an empty error box.
    const std::string_view body = std::string_view(response->body).substr(0, response->body.find('\0'));
    if (!body.empty()) return {false, std::string(body)};
    return {false, kSubmitFailedText};
}

SubmissionOutcome postInventory(const SystemInventory& inventory, const HttpsClient& client) {
    const std::string body = buildResultDocument(inventory).dump();
    const auto response = client.post(kSubmitPath, body, kSubmitHeader);
    return interpretResponse(response, client.host, client.port);
}
