// The service's routes: the submission, the result pages and browsing, and how each
// request is logged.
#include "server/service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <charconv>
#include <chrono>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/bounded_server.h"
#include "server/browse_routes.h"
#include "server/history.h"
#include "server/identifier.h"
#include "server/pages.h"
#include "server/recheck.h"
#include "server/service_log.h"
#include "server/submission.h"

namespace {

// What a submission's body may bring in all, chunk framing included, before its connection
// ends; the handler stops at kMaxBodyBytes of content first unless the chunks are tiny.
constexpr std::size_t kMaxBodyFramedBytes = 8 * kMaxBodyBytes;

constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kHtmlType = "text/html; charset=utf-8";
constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kUnknownResult = "No benchmark result has this identifier.";

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}


void sendText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, kTextType);
}

void sendPage(httplib::Response& res, int status, const std::string& html) {
    res.status = status;
    res.set_header("Content-Security-Policy", pageContentSecurityPolicy());
    res.set_content(html, kHtmlType);
}

bool isApiPath(const std::string& path) { return path.rfind("/api/", 0) == 0; }

bool isSubmission(const httplib::Request& req) { return req.method == "POST" && req.path == "/api/benchmarks"; }

// Only the submission reads a body, and only up to the limit: any other body, or one that
// announces more, is refused before a byte of it is read.
bool refusesBody(const httplib::Request& req) {
    if (req.has_header("Transfer-Encoding")) return !isSubmission(req);
    if (!req.has_header("Content-Length")) return false;
    const std::string text = req.get_header_value("Content-Length");
    std::size_t length = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (ec != std::errc() || end != text.data() + text.size()) return true;
    return length > 0 && (!isSubmission(req) || length > kMaxBodyBytes);
}

void refuseBody(httplib::Response& res) {
    res.status = 413;
    res.set_header("Connection", "close");
    bounded::closeAfterReply();
}
// Seconds a client (or nginx's next try) should wait while the database is away: about
// what a restart of PostgreSQL takes.
constexpr const char* kRetryAfterSeconds = "5";

}  // namespace

void ResultService::installRoutes() {
    httplib::Server& s = *server_;

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        requestLog_.begin(req);
        if (refusesBody(req)) {
            refuseBody(res);
            requestLog_.note(req, "body over the size limit");
            sendText(res, 413, refusal::kTooLarge);
            return httplib::Server::HandlerResponse::Handled;
        }
        bounded::headEnded(isSubmission(req) ? kMaxBodyFramedBytes : 0);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    // A client that waits for leave to send its body is told no at once.
    s.set_expect_100_continue_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!refusesBody(req)) return 100;
        refuseBody(res);
        return 413;
    });

    // A reply that ends its connection says so and only so; a refusal that ends it may leave
    // part of the request unread, so the connection lingers before it closes.
    s.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.get_header_value("Connection") != "close") return;
        res.headers.erase("Keep-Alive");
        if (res.status >= 400) bounded::closeAfterReply();
    });

    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        logLine(requestLog_.finish(req, res));
    });

    // Fills in a body for refusals that the HTTP layer produced itself (oversized body,
    // unknown path, malformed request), in the form the caller expects.
    s.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        // The library says 400 for a head it could not read; the connection says why.
        if (res.status == 400) {
            const bounded::HeadFault fault = bounded::headFault();
            if (fault == bounded::HeadFault::TooLarge) {
                requestLog_.note(req, "header over the size limit");
                res.set_header("Connection", "close");
                sendText(res, 431, "The request's header is too large.");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (fault == bounded::HeadFault::TooSlow) {
                requestLog_.note(req, "header not received in time");
                res.set_header("Connection", "close");
                sendText(res, 408, "The request took too long to arrive.");
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        if (res.status == 413) {
            requestLog_.note(req, "body over the size limit");
            sendText(res, 413, refusal::kTooLarge);
        } else if (res.status == 404) {
            if (isApiPath(req.path)) {
                sendText(res, 404, kUnknownResult);
            } else {
                sendPage(res, 404, renderNotFoundPage());
            }
        } else if (res.status >= 500) {
            sendText(res, res.status, "Something went wrong on our side, please try again later.");
        } else {
            sendText(res, res.status, "This request could not be understood.");
        }
        return httplib::Server::HandlerResponse::Handled;
    }));

    // The database out of reach is a refusal to come back later (503); anything else is
    // a fault of ours (500).
    s.set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        bool unavailable = false;
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const StoreUnavailable& e) {
            unavailable = true;
            requestLog_.note(req, std::string("database unavailable: ") + e.what());
        } catch (const std::exception& e) {
            requestLog_.note(req, e.what());
        } catch (...) {
            requestLog_.note(req, "unknown exception");
        }
        // What the handler set for its own answer must not ride on the refusal.
        for (const char* name : {"Cache-Control", "Content-Security-Policy", "Location"}) res.headers.erase(name);
        if (unavailable) {
            res.set_header("Retry-After", kRetryAfterSeconds);
            res.set_header("Cache-Control", "no-store");
            if (isApiPath(req.path)) {
                sendText(res, 503, refusal::kUnavailable);
            } else {
                sendPage(res, 503, renderUnavailablePage());
            }
        } else if (isApiPath(req.path)) {
            sendText(res, 500, "Something went wrong on our side, please try again later.");
        } else {
            sendPage(res, 500, renderErrorPage());
        }
    });

    s.Post("/api/benchmarks", [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& readContent) {
        requestLog_.note(req, acceptSubmission(req, res, readContent));
    });

    s.Get("/api/benchmarks/([0-9A-Za-z]{12})", [this](const httplib::Request& req, httplib::Response& res) {
        const auto found = store_.find(req.matches[1]);
        if (!found) return sendText(res, 404, kUnknownResult);
        res.set_header("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        res.set_header("Cache-Control", "public, max-age=86400, immutable");
        res.set_content(publicDocument(found->document), kJsonType);
    });

    s.Get("/api/benchmarks/([0-9A-Za-z]{12})/checks", [this](const httplib::Request& req, httplib::Response& res) {
        const auto found = store_.find(req.matches[1]);
        if (!found) return sendText(res, 404, kUnknownResult);
        const auto document = nlohmann::json::parse(found->document, nullptr, false);
        const auto parsed = document.is_discarded() ? std::nullopt : parseResultDocument(document);
        if (!parsed) throw std::runtime_error("stored document " + found->id + " does not parse");
        nlohmann::json names = nlohmann::json::array();
        for (const ResultCheck* c : checksOf(parsed->inventory)) names.push_back(c->name);
        res.set_header("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        res.set_header("Cache-Control", "public, max-age=60");
        res.set_content(names.dump(), kJsonType);
    });

    s.Get("/methodology", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "public, max-age=3600");
        sendPage(res, 200, renderMethodologyPage());
    });

    s.Get("/benchmarks/([0-9A-Za-z]{12})", [this](const httplib::Request& req, httplib::Response& res) {
        const auto found = store_.find(req.matches[1]);
        if (!found) return sendPage(res, 404, renderNotFoundPage());
        std::string whyNot;
        const auto document = nlohmann::json::parse(found->document, nullptr, false);
        auto parsed = document.is_discarded() ? std::nullopt : parseResultDocument(document, &whyNot);
        if (!parsed) throw std::runtime_error("stored document " + found->id + " does not parse: " + whyNot);
        ResultView view;
        view.id = found->id;
        view.receivedAtMs = found->receivedAtMs;
        view.figures = rankFiguresOf(parsed->inventory.score);
        view.standing = ranks_.standing(view.figures);
        view.checks = checksOf(parsed->inventory);
        if (!view.checks.empty()) {
            // Not among the ranked results itself: count it in, as a ranked one is.
            for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
                if (view.figures.values[i]) ++view.standing.total[i];
            }
        }
        view.models = modelStandingOf(models_, parsed->inventory, view.figures, !view.checks.empty());
        view.history = machineHistory(store_, machineKey_, parsed->inventory, view.id);
        view.inventory = std::move(parsed->inventory);
        res.set_header("Cache-Control", "public, max-age=60");
        sendPage(res, 200, renderResultPage(view));
    });

    installBrowseRoutes(s, store_, models_, storedCount_);

    // Liveness: the process answers. Readiness: it can also reach its database, so a
    // load balancer or a deploy script may send it traffic.
    s.Get("/healthz", [](const httplib::Request&, httplib::Response& res) { sendText(res, 200, "ok"); });
    s.Get("/readyz", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        const std::string whyNot = databaseUnreachable();
        if (whyNot.empty()) return sendText(res, 200, "ok");
        requestLog_.note(req, "database unavailable: " + whyNot);
        res.set_header("Retry-After", kRetryAfterSeconds);
        sendText(res, 503, "The database cannot be reached.");
    });

    s.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/benchmarks"); });
}

// The body is read here rather than by the library, which caps a body sent with a length
// but would keep the whole of one sent in chunks. Returns what the log line adds: why the
// submission was refused, or nothing.
std::string ResultService::acceptSubmission(const httplib::Request& req, httplib::Response& res,
                                            const httplib::ContentReader& readContent) {
    // Reading stops at the limit; the rest is not read, the connection ends after the
    // refusal (with a short lingering close, so that the client hears it).
    std::string body;
    std::size_t received = 0;
    const bool complete = readContent([&](const char* data, std::size_t length) {
        received += length;
        if (received > kMaxBodyBytes) return false;
        body.append(data, length);
        return true;
    });
    if (received > kMaxBodyBytes || res.status == 413) {
        if (!complete) res.set_header("Connection", "close");
        sendText(res, 413, refusal::kTooLarge);
        return "body over the size limit";
    }
    if (!complete) {
        res.set_header("Connection", "close");
        sendText(res, 400, refusal::kNotJson);
        return "body not received";
    }

    const std::size_t forwarded = req.get_header_value_count("X-Forwarded-For");
    const std::string address = clientAddress(
        req.remote_addr, forwarded ? req.get_header_value("X-Forwarded-For", forwarded - 1) : std::string(),
        options_.trustedProxies);
    if (!limiter_.allow(rateLimitKey(address))) {
        res.set_header("Retry-After", "60");
        sendText(res, 429, refusal::kRateLimited);
        return "rate limit for " + address;
    }
    SubmissionCheck check = checkSubmission(req.get_header_value("Content-Type"), body, options_.salt);
    if (check.status != 0) {
        sendText(res, check.status, check.sentence);
        return check.detail;
    }
    std::future<std::string> stored =
        writer_.submit(NewResult{check.digest, std::move(body), nowMs(), rankedFiguresOf(check.inventory),
                                 kChecksVersion, derivedColumnsOf(check.inventory, machineKey_), kDerivedVersion});
    std::string id;
    try {
        id = stored.get();
    } catch (const StoreUnavailable& e) {
        res.set_header("Retry-After", kRetryAfterSeconds);
        sendText(res, 503, refusal::kNotStored);
        return std::string("database unavailable, not stored: ") + e.what();
    } catch (const std::exception& e) {
        sendText(res, 503, refusal::kNotStored);
        return std::string("store failed: ") + e.what();
    }
    addModelNames(check.inventory, models_);  // after the writer counted the figures in
    // The body is the bare identifier: the client appends it to the page address as is.
    res.status = 201;
    res.set_header("Location", "/benchmarks/" + id);
    res.set_content(id, kTextType);
    return {};
}
