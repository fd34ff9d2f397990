#include "server/database_url.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

Options parse(const std::string& address) {
    char* error = nullptr;
    Options options(PQconninfoParse(address.c_str(), &error), &PQconninfoFree);
    if (error) PQfreemem(error);
    return options;
}

bool looksLikePostgres(const std::string& address) {
    return address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0 ||
           address.find('=') != std::string::npos;
}

// libpq's own quoting for keyword values, so the line could be pasted back.
std::string quoted(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \t\n'\\") == std::string::npos) return value;
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    }
    return out + "'";
}

}  // namespace

bool isPostgresAddress(const std::string& address) {
    return address.rfind("sqlite:", 0) != 0 && looksLikePostgres(address) && parse(address) != nullptr;
}

std::string redactedUrl(const std::string& address) {
    if (!looksLikePostgres(address)) return address;
    const Options options = parse(address);
    if (!options) return "(a PostgreSQL address that libpq cannot parse)";
    std::string out;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val) continue;
        const bool secret = o->dispchar && std::strchr(o->dispchar, '*');
        if (!out.empty()) out += ' ';
        out += std::string(o->keyword) + "=" + (secret ? std::string("***") : quoted(o->val));
    }
    return out.empty() ? "(an empty PostgreSQL address)" : out;
}

std::string withDefaults(const std::string& address, const std::vector<std::pair<std::string, std::string>>& defaults) {
    const Options options = parse(address);
    if (!options) return {};
    std::string out;
    auto add = [&out](const std::string& keyword, const std::string& value) {
        out += (out.empty() ? "" : " ") + keyword + "=" + quoted(value);
    };
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (o->val) add(o->keyword, o->val);
    }
    for (const auto& [keyword, value] : defaults) {
        bool given = false;
        for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
            given = given || (o->val && keyword == o->keyword);
        }
        if (!given) add(keyword, value);
    }
    return out;
}

std::string usePasswordFileFromCredentials() {
    if (const char* given = std::getenv("PGPASSFILE"); given && *given) return given;
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (!directory || !*directory) return {};
    const std::string file = std::string(directory) + "/pgpass";
    if (::access(file.c_str(), R_OK) != 0) return {};
    ::setenv("PGPASSFILE", file.c_str(), 1);
    return file;
}
