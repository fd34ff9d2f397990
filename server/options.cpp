#include "server/options.h"

#include "server/database_url.h"
#include "server/rate_limiter.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>

std::string usageText() {
    return R"(Usage: tallyforge-results [options]

Receives Tallyforge Benchmark results, checks their checksum, stores them and serves their pages.

Options:
  --listen HOST:PORT   Address to listen on (default 127.0.0.1:8443). Use [ADDR]:PORT
                       for IPv6; port 0 lets the system choose one (it is logged).
  --tls-cert FILE      PEM certificate chain served for HTTPS.
  --tls-key FILE       PEM private key of that certificate.
  --plain-http         Serve plain HTTP instead of HTTPS, for running behind a reverse
                       proxy that terminates TLS.
  --trusted-proxy ADDR The address of a reverse proxy whose X-Forwarded-For header names
                       the client (its last entry, which the proxy itself wrote). May be
                       given more than once. From any other peer the header is ignored,
                       and the peer is the client.
  --database URL       Where results are stored: sqlite:PATH (default
                       sqlite:tallyforge-results.db), postgresql://USER@HOST:PORT/DB or
                       libpq keywords ('host=... dbname=... user=...'). Leave the
                       password out: libpq reads it from PGPASSFILE, and under systemd
                       from the credential pgpass (LoadCredential=pgpass:FILE). Logs show
                       the address with any password as ***.
                       The schema is created or upgraded at start.
  --salt FILE          The 1024-byte digest salt shared with the benchmark client; required.
  --rate-limit N       Submissions a minute accepted from one client address (default 20,
                       0 for no limit). IPv6 clients count per /64 network, the least
                       one subscriber is usually given.
  --request-timeout S  Seconds a client has to send a request's head (counted from when
                       the service starts waiting for it), and again for the body of a
                       submission (default 10, at most 600).
  --help               Show this text.
  --version            Print the version and exit.

Either --tls-cert and --tls-key, or --plain-http, must be given.
Exit status: 0 after a clean shutdown (SIGTERM or SIGINT), 1 when the service cannot
listen or fails while running, 2 for a bad option, an unreadable file or a database
that cannot be opened.
)";
}

namespace {

CommandLineOutcome failure(std::string sentence) {
    CommandLineOutcome outcome;
    outcome.exitCode = 2;
    outcome.message = "tallyforge-results: " + std::move(sentence) +
                      "\nTry 'tallyforge-results --help' for the options.";
    return outcome;
}

bool parseListen(const std::string& text, ServiceOptions& options) {
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) return false;  // bare IPv6 needs brackets
    }
    if (host.empty() || port.empty()) return false;
    int value = -1;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value < 0 || value > 65535) {
        return false;
    }
    options.host = host;
    options.port = value;
    return true;
}

bool readableFile(const std::string& path, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

CommandLineOutcome parseCommandLine(const std::vector<std::string>& args) {
    ServiceOptions options;
    bool certGiven = false;
    bool keyGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        auto flagOnly = [&] { return !inlineValue.has_value(); };

        if (name == "--help" || name == "-h") {
            CommandLineOutcome outcome;
            outcome.message = usageText();
            return outcome;
        } else if (name == "--version") {
            CommandLineOutcome outcome;
            outcome.message = "tallyforge-results " TALLYFORGE_VERSION "\n";
            return outcome;
        } else if (name == "--plain-http") {
            if (!flagOnly()) return failure("--plain-http takes no value.");
            options.plainHttp = true;
        } else if (name == "--listen" || name == "--tls-cert" || name == "--tls-key" ||
                   name == "--database" || name == "--salt" || name == "--rate-limit" ||
                   name == "--trusted-proxy" || name == "--request-timeout") {
            const auto v = value();
            if (!v || v->empty()) return failure(name + " needs a value.");
            if (name == "--listen") {
                if (!parseListen(*v, options)) {
                    return failure("--listen expects HOST:PORT with a port from 0 to 65535, not '" +
                                   *v + "'.");
                }
            } else if (name == "--tls-cert") {
                options.tlsCertFile = *v;
                certGiven = true;
            } else if (name == "--tls-key") {
                options.tlsKeyFile = *v;
                keyGiven = true;
            } else if (name == "--database") {
                options.databaseUrl = *v;
            } else if (name == "--salt") {
                options.saltFile = *v;
            } else if (name == "--trusted-proxy") {
                const std::string address = canonicalAddress(*v);
                if (address.empty()) {
                    return failure("--trusted-proxy expects an IPv4 or IPv6 address, not '" + *v + "'.");
                }
                options.trustedProxies.push_back(address);
            } else if (name == "--request-timeout") {
                unsigned n = 0;
                const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
                if (ec != std::errc() || end != v->data() + v->size() || n < 1 || n > 600) {
                    return failure("--request-timeout expects a whole number of seconds from 1 to 600, not '" +
                                   *v + "'.");
                }
                options.requestTimeoutSeconds = n;
            } else {
                unsigned n = 0;
                const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
                if (ec != std::errc() || end != v->data() + v->size() || n > 1000000) {
                    return failure("--rate-limit expects a whole number from 0 to 1000000, not '" +
                                   *v + "'.");
                }
                options.rateLimit = n;
            }
        } else {
            return failure("unknown option '" + args[i] + "'.");
        }
    }

    if (options.plainHttp && (certGiven || keyGiven)) {
        return failure("--plain-http cannot be combined with --tls-cert or --tls-key.");
    }
    if (!options.plainHttp && !(certGiven && keyGiven)) {
        return failure("give both --tls-cert and --tls-key, or --plain-http behind a reverse proxy.");
    }
    const std::string& url = options.databaseUrl;
    const bool sqlite = url.rfind("sqlite:", 0) == 0 && url.size() > 7;
    if (!sqlite && !isPostgresAddress(url)) {
        // The text may hold a password: it is not echoed.
        return failure("--database expects sqlite:PATH, postgresql://... or libpq keywords (host=... dbname=...).");
    }
    if (options.saltFile.empty()) return failure("--salt FILE is required.");

    std::string why;
    for (const std::string* file : {&options.tlsCertFile, &options.tlsKeyFile, &options.saltFile}) {
        if (!file->empty() && !readableFile(*file, &why)) return failure(why + ".");
    }
    std::ifstream saltIn(options.saltFile, std::ios::binary);
    options.salt.assign(std::istreambuf_iterator<char>(saltIn), std::istreambuf_iterator<char>());
    if (saltIn.bad()) return failure("cannot read " + options.saltFile + ".");
    if (options.salt.size() != kSaltSize) {
        return failure("the salt file " + options.saltFile + " holds " +
                       std::to_string(options.salt.size()) + " bytes; it must hold exactly " +
                       std::to_string(kSaltSize) + ".");
    }

    CommandLineOutcome outcome;
    outcome.options = std::move(options);
    return outcome;
}
