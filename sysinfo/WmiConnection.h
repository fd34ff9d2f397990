#pragma once
// The management query layer: one connection to a namespace, WQL query texts, rows and
// typed property reads. Windows answers through COM and WMI; Linux through a provider
// that builds the same classes and properties from procfs and sysfs. Code above this
// header is the same on both platforms.
//
// Failures never throw: connect returns false, execQuery returns null, next returns null
// when there is no further row, and a property read returns an empty optional.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sysinfo/text.h"

enum class WmiNamespace : std::int32_t {
    Cimv2 = 0,  // "ROOT\CIMV2"
    Wmi = 1,    // "ROOT\WMI"
};

// Namespace path as the management service names it; empty for a value outside the enum.
std::string_view wmiNamespacePath(WmiNamespace ns);

// One row of a query result. Property names are ASCII; the platform widens them where it
// needs to. Every read is independent: a failed read leaves the others usable.
class WmiRow {
public:
    virtual ~WmiRow() = default;
    // A text property, converted by wideToUtf8 (UTF-8, trailing white space removed).
    virtual std::optional<std::string> getText(std::string_view name) const = 0;
    // A property that arrives as a 32-bit integer, taken unchanged.
    virtual std::optional<std::int32_t> getInt32(std::string_view name) const = 0;
    // A 64-bit integer property, which the service delivers as decimal text; converted
    // like any text and left to the caller to parse.
    virtual std::optional<std::string> getUint64Text(std::string_view name) const = 0;
    // A boolean property; a stored zero is false.
    virtual std::optional<bool> getBool(std::string_view name) const = 0;
};

// The rows of one query, forward only.
class WmiEnumerator {
public:
    virtual ~WmiEnumerator() = default;
    // The next row (blocking until it is there), or null when there is none or the
    // service failed to deliver it.
    virtual std::unique_ptr<WmiRow> next() = 0;
};

// A connection that lives for one caller. Not copyable; closed when destroyed.
class WmiConnection {
public:
    WmiConnection();
    ~WmiConnection();
    WmiConnection(const WmiConnection&) = delete;
    WmiConnection& operator=(const WmiConnection&) = delete;

    // Makes the connection usable for the namespace; a repeated connect to the namespace
    // already connected reuses it, another namespace replaces it.
    bool connect(WmiNamespace ns);

    // Runs one WQL query (ASCII text) in the connected namespace. Null when not
    // connected, when the query is not understood, or when the service refused it.
    std::unique_ptr<WmiEnumerator> execQuery(std::string_view query);

    // Releases everything; safe to call more than once.
    void close();

    struct Impl;  // one definition per platform

private:
    std::unique_ptr<Impl> impl;
};
