#pragma once
// The submission after the measurements, in pieces that work without an OpenGL context.

#include <optional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "report/https_client.h"

inline constexpr const char* kUserAgent = "Tallyforge_Benchmark/1.0";
inline constexpr const char* kSubmitPath = "/api/benchmarks";
inline constexpr const char* kSubmitHeader = "Content-Type: application/json; charset=utf-8";
inline constexpr const char* kSubmitFailedText =
    "An error occurred when submitting the benchmark results, please check your Internet "
    "connection and try again.";
// A 201 whose body is not an identifier the service makes: no page is opened for it.
inline constexpr const char* kNotAnIdentifierText =
    "The result service's reply is not a result identifier, so no result page was opened.";

// The result service this build talks to: host, port and trusted authorities come from
// the build configuration, the time-outs are the defaults.
HttpsClient resultServiceClient();

// "https://" + host (+ ":" + port unless 443) + "/benchmarks/" + identifier, unchanged;
// the caller has checked the identifier (isResultIdentifier).
std::string resultPageAddress(const std::string& host, std::uint16_t port, std::string_view id);

// What the reply means for the user. Only a 201 whose body is exactly an identifier
// (core/protocol.h) is a success; a reply past kMaxReplyBytes is a failure with the
// standard text whatever its status.
struct SubmissionOutcome {
    bool success = false;
    std::string text;  // success: the result page address; failure: the message to show
};
SubmissionOutcome interpretResponse(const std::optional<HttpResponse>& response,
                                    const std::string& host, std::uint16_t port);

// Builds and posts the document for the inventory and says what the reply means; what
// to do about it (open the page, or end the program) is the caller's.
SubmissionOutcome postInventory(const SystemInventory& inventory, const HttpsClient& client);
