#pragma once
#include <string>

#include "core/protocol.h"

// A new result identifier: kIdentifierLength characters of kIdentifierAlphabet from
// OpenSSL's cryptographic generator. Throws std::runtime_error if the generator fails.
std::string newResultIdentifier();
