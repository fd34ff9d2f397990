#pragma once
// Database addresses as the operator gives them: sqlite:PATH, a PostgreSQL URI
// (postgresql://...) or a libpq keyword string (host=... dbname=...).

#include <string>
#include <utility>
#include <vector>

// True for a PostgreSQL URI or a keyword string that libpq accepts.
bool isPostgresAddress(const std::string& address);

// The address for messages and logs: a PostgreSQL address is parsed by libpq and written
// back as keywords, every secret (password, sslpassword) shown as ***; one that does not
// parse is not echoed at all. sqlite: addresses come back as given.
std::string redactedUrl(const std::string& address);

// A PostgreSQL address as libpq keywords, with each of `defaults` added that the address
// does not set itself. Empty when libpq cannot parse it.
std::string withDefaults(const std::string& address, const std::vector<std::pair<std::string, std::string>>& defaults);

// Under systemd, a password file passed with LoadCredential=pgpass:... is used by libpq
// unless PGPASSFILE already names one. Returns the file now in use, or empty.
std::string usePasswordFileFromCredentials();
