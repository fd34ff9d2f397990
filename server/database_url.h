#pragma once
// Database addresses as the operator gives them: sqlite:PATH, a PostgreSQL URI
// (postgresql://...) or a libpq keyword string (host=... dbname=...).

#include <string>

// True for a PostgreSQL URI or a keyword string that libpq accepts.
bool isPostgresAddress(const std::string& address);

// The address for messages and logs: a PostgreSQL address is parsed by libpq and written
// back as keywords, every secret (password, sslpassword) shown as ***; one that does not
// parse is not echoed at all. sqlite: addresses come back as given.
std::string redactedUrl(const std::string& address);

// Under systemd, a password file passed with LoadCredential=pgpass:... is used by libpq
// unless PGPASSFILE already names one. Returns the file now in use, or empty.
std::string usePasswordFileFromCredentials();
