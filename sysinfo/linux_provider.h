#pragma once
// The Linux side of the management layer: the classes and properties that the program
// queries, built from procfs, sysfs and /etc. Every file is read under one root
// directory, "/" unless set, so tests can point the provider at a fixture tree.

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sysinfo/WmiConnection.h"

// Root directory that every later connection reads under. Main thread only; set it
// before creating connections.
void setProviderRoot(const std::filesystem::path& root);
const std::filesystem::path& providerRoot();

enum class ProviderKind { Text, Int32, Uint64Text, Bool };

struct ProviderProperty {
    std::string_view name;
    ProviderKind kind;
};

// A 64-bit value delivered as text is held as text, like the service delivers it.
using ProviderValue = std::variant<std::string, std::int32_t, bool>;

// Values by property name as the class spells it. A property that could not be read is
// simply not there.
using ProviderRow = std::map<std::string, ProviderValue, std::less<>>;

struct ProviderClass {
    WmiNamespace ns;
    std::string_view name;
    std::span<const ProviderProperty> properties;
    std::vector<ProviderRow> (*build)(const std::filesystem::path& root);
};

// The class of that name (compared without regard to case) in the namespace, or null.
const ProviderClass* findProviderClass(WmiNamespace ns, std::string_view name);

// The SMBIOS record's string that the byte at `offset` of its formatted area selects;
// empty when the record is malformed or the string is not there.
std::string smbiosString(std::string_view record, std::size_t offset);
