#include "sysinfo/linux_provider.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "core/text.h"

namespace fs = std::filesystem;

namespace {

fs::path& rootStorage() {
    static fs::path root = "/";
    return root;
}

// Files of procfs and sysfs are tiny; the bound only keeps a wrong root from making us
// swallow something huge.
constexpr std::size_t kSmallFile = 1 << 20;

// The whole content of a regular file, or nothing when it is missing, not a regular
// file (a directory, a FIFO) or unreadable.
std::optional<std::string> readFile(const fs::path& path, std::size_t limit = kSmallFile) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        if (out.size() + static_cast<std::size_t>(n) > limit) {
            ::close(fd);
            return std::nullopt;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

bool isSpace(char c) { return c != '\0' && kCSpace.find(c) != std::string_view::npos; }

std::optional<std::string> readTrimmed(const fs::path& path) {
    auto text = readFile(path);
    if (!text) return std::nullopt;
    return std::string(trim(*text));
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string upperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The whole (trimmed) text as an unsigned number; hexadecimal may carry "0x".
std::optional<std::uint64_t> parseUnsigned(std::string_view s, int base = 10) {
    s = trim(s);
    if (base == 16 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> readUnsigned(const fs::path& path, int base = 10) {
    auto text = readFile(path);
    if (!text) return std::nullopt;
    return parseUnsigned(*text, base);
}

// Management integers arrive as 32-bit values; unsigned ones keep their bits.
std::optional<std::int32_t> toInt32(std::uint64_t v) {
    if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

void putText(ProviderRow& row, std::string_view name, std::string_view bytes) {
    row.insert_or_assign(std::string(name), ProviderValue(sanitizeUtf8(bytes)));
}

void putInt(ProviderRow& row, std::string_view name, std::optional<std::uint64_t> v) {
    if (!v) return;
    if (auto i = toInt32(*v)) row.insert_or_assign(std::string(name), ProviderValue(*i));
}

// Names of the entries of a directory, sorted; empty when it cannot be listed.
std::vector<std::string> listDir(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string hex4(std::uint64_t v, bool upper) {
    char buf[24];
    std::snprintf(buf, sizeof buf, upper ? "%04llX" : "%04llx", static_cast<unsigned long long>(v));
    return buf;
}

// ---- Win32_ComputerSystemProduct ---------------------------------------------------

// machine-id(5): the machine id is confidential and must not be sent anywhere; an
// identifier for one application is derived from it instead, the way systemd derives one
// (HMAC-SHA256 keyed with the machine id over the application's id, the first 16 bytes
// made a version 4 UUID), so it is stable for the machine and cannot be turned back into
// the machine id or matched with another application's.
constexpr unsigned char kApplicationId[16] = {0xc7, 0x41, 0x51, 0xfd, 0x39, 0x3c, 0x4c, 0xd5,
                                              0xaa, 0xa4, 0x7b, 0xca, 0x4e, 0x5b, 0xcc, 0xf7};

std::optional<std::string> applicationSpecificId(const std::string& machineIdHex) {
    unsigned char machineId[16];
    for (std::size_t i = 0; i < 16; ++i) {
        machineId[i] = static_cast<unsigned char>(std::stoi(machineIdHex.substr(2 * i, 2), nullptr, 16));
    }
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!HMAC(EVP_sha256(), machineId, sizeof machineId, kApplicationId, sizeof kApplicationId, mac, &size) ||
        size < 16) {
        return std::nullopt;
    }
    mac[6] = static_cast<unsigned char>((mac[6] & 0x0F) | 0x40);
    mac[8] = static_cast<unsigned char>((mac[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", mac[0],
                  mac[1], mac[2], mac[3], mac[4], mac[5], mac[6], mac[7], mac[8], mac[9], mac[10], mac[11], mac[12],
                  mac[13], mac[14], mac[15]);
    return std::string(text);
}

std::optional<std::string> machineUuid(const fs::path& root) {
    if (auto uuid = readTrimmed(root / "sys/class/dmi/id/product_uuid"); uuid && !uuid->empty())
        return upperAscii(sanitizeUtf8(*uuid));
    // product_uuid is readable by root only; an identifier derived from the machine id is
    // the stable stand-in.
    auto id = readTrimmed(root / "etc/machine-id");
    if (!id || id->size() != 32 || !std::all_of(id->begin(), id->end(), isHex)) return std::nullopt;
    return applicationSpecificId(*id);
}

std::vector<ProviderRow> buildComputerSystemProduct(const fs::path& root) {
    ProviderRow row;
    if (auto uuid = machineUuid(root)) putText(row, "UUID", *uuid);
    return {row};
}

// ---- Win32_OperatingSystem ---------------------------------------------------------

// One value of an os-release file: shell-style assignment, optionally quoted.
std::optional<std::string> osReleaseValue(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string_view::npos || line.substr(0, eq) != key)
            continue;
        std::string_view raw = line.substr(eq + 1);
        std::string value;
        char quote = 0;
        if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) {
            quote = raw[0];
            raw.remove_prefix(1);
        }
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (quote != 0 && c == quote) break;
            if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
                value.push_back(raw[++i]);
                continue;
            }
            value.push_back(c);
        }
        return value;
    }
    return std::nullopt;
}

std::vector<ProviderRow> buildOperatingSystem(const fs::path& root) {
    ProviderRow row;
    auto text = readFile(root / "etc/os-release");
    if (!text) text = readFile(root / "usr/lib/os-release");
    if (text)
        if (auto pretty = osReleaseValue(*text, "PRETTY_NAME")) putText(row, "Caption", *pretty);
    return {row};
}

// ---- Win32_Processor ---------------------------------------------------------------

using CpuBlock = std::map<std::string, std::string, std::less<>>;

// The blocks of /proc/cpuinfo, one per logical processor. Values keep their trailing
// white space; the row's text conversion removes it like on any other platform.
std::vector<CpuBlock> parseCpuinfo(std::string_view text) {
    std::vector<CpuBlock> blocks;
    CpuBlock current;
    auto flush = [&] {
        if (!current.empty()) blocks.push_back(std::move(current));
        current.clear();
    };
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (trim(line).empty()) {
            flush();
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string key(trim(line.substr(0, colon)));
        std::string_view value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.remove_prefix(1);
        if (key == "processor" && current.count("processor") != 0) flush();
        current.try_emplace(key, value);
    }
    flush();
    return blocks;
}

std::optional<std::string_view> field(const CpuBlock& block, std::string_view key) {
    auto it = block.find(key);
    if (it == block.end()) return std::nullopt;
    return std::string_view(it->second);
}

std::optional<std::uint64_t> numberField(const CpuBlock& block, std::string_view key) {
    auto v = field(block, key);
    return v ? parseUnsigned(*v) : std::nullopt;
}

// "256K" and the like, in kilobytes.
std::optional<std::uint64_t> parseCacheSize(std::string_view s) {
    s = trim(s);
    if (s.empty()) return std::nullopt;
    std::uint64_t scale = 0;
    switch (s.back()) {
        case 'K': scale = 1; break;
        case 'M': scale = 1024; break;
        case 'G': scale = 1024 * 1024; break;
        default: return std::nullopt;
    }
    auto v = parseUnsigned(s.substr(0, s.size() - 1));
    if (!v || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return *v * scale;
}

// Sizes of the level 2 and 3 caches of a set of logical processors, each distinct cache
// counted once however many of the processors share it.
std::map<std::uint64_t, std::uint64_t> cacheSizes(const fs::path& root, const std::vector<std::uint64_t>& cpus) {
    std::map<std::uint64_t, std::uint64_t> sums;
    std::set<std::string> seen;
    for (std::uint64_t cpu : cpus) {
        const fs::path dir = root / "sys/devices/system/cpu" / ("cpu" + std::to_string(cpu)) / "cache";
        for (const std::string& name : listDir(dir)) {
            if (name.rfind("index", 0) != 0) continue;
            const fs::path index = dir / name;
            const auto level = readUnsigned(index / "level");
            if (!level || (*level != 2 && *level != 3)) continue;
            const auto sizeText = readFile(index / "size");
            const auto size = sizeText ? parseCacheSize(*sizeText) : std::nullopt;
            if (!size) continue;
            std::string key = std::to_string(*level) + "/" + readTrimmed(index / "type").value_or("") + "/";
            if (auto shared = readTrimmed(index / "shared_cpu_list"); shared && !shared->empty())
                key += "shared " + *shared;
            else if (auto id = readTrimmed(index / "id"); id && !id->empty())
                key += "id " + *id;
            else
                key += "cpu " + std::to_string(cpu);
            if (seen.insert(key).second) sums[*level] += *size;
        }
    }
    return sums;
}

std::optional<std::uint64_t> maxClockMhz(const fs::path& root, const CpuBlock& first) {
    if (auto cpu = numberField(first, "processor")) {
        const fs::path freq = root / "sys/devices/system/cpu" / ("cpu" + std::to_string(*cpu)) /
                              "cpufreq/cpuinfo_max_freq";
        if (auto khz = readUnsigned(freq); khz && *khz > 0) return (*khz + 500) / 1000;
    }
    auto mhzText = field(first, "cpu MHz");
    if (!mhzText) return std::nullopt;
    const std::string_view s = trim(*mhzText);
    double mhz = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), mhz);
    if (ec != std::errc() || end != s.data() + s.size() || !(mhz > 0) || mhz >= 4294967295.0)
        return std::nullopt;
    return static_cast<std::uint64_t>(std::llround(mhz));
}

std::vector<ProviderRow> buildProcessor(const fs::path& root) {
    const auto text = readFile(root / "proc/cpuinfo");
    if (!text) return {};
    const std::vector<CpuBlock> blocks = parseCpuinfo(*text);

    // Packages in the order their first processor appears.
    std::vector<std::pair<std::string, std::vector<const CpuBlock*>>> packages;
    for (const CpuBlock& block : blocks) {
        const std::string id(trim(field(block, "physical id").value_or("")));
        auto it = std::find_if(packages.begin(), packages.end(), [&](const auto& p) { return p.first == id; });
        if (it == packages.end()) {
            packages.emplace_back(id, std::vector<const CpuBlock*>{});
            it = std::prev(packages.end());
        }
        it->second.push_back(&block);
    }

    std::vector<ProviderRow> rows;
    for (std::size_t k = 0; k < packages.size(); ++k) {
        const auto& members = packages[k].second;
        const CpuBlock& first = *members.front();
        ProviderRow row;
        if (auto v = field(first, "vendor_id")) putText(row, "Manufacturer", *v);
        if (auto v = field(first, "model name")) putText(row, "Name", *v);

        std::optional<std::uint64_t> cores = numberField(first, "cpu cores");
        if (!cores) {
            std::set<std::string> coreIds;
            for (const CpuBlock* b : members)
                if (auto id = field(*b, "core id")) coreIds.emplace(trim(*id));
            if (!coreIds.empty()) cores = coreIds.size();
        }
        putInt(row, "NumberOfCores", cores);
        putInt(row, "NumberOfLogicalProcessors", numberField(first, "siblings").value_or(members.size()));
        putInt(row, "MaxClockSpeed", maxClockMhz(root, first));

        // The k-th SMBIOS processor record describes the k-th socket.
        if (auto raw = readFile(root / "sys/firmware/dmi/entries" / ("4-" + std::to_string(k)) / "raw");
            raw && !raw->empty() && static_cast<unsigned char>((*raw)[0]) == 4) {
            if (std::string socket = smbiosString(*raw, 4); !socket.empty()) putText(row, "SocketDesignation", socket);
        }

        std::vector<std::uint64_t> cpus;
        for (const CpuBlock* b : members)
            if (auto n = numberField(*b, "processor")) cpus.push_back(*n);
        const auto caches = cacheSizes(root, cpus);
        if (auto it = caches.find(2); it != caches.end()) putInt(row, "L2CacheSize", it->second);
        if (auto it = caches.find(3); it != caches.end()) putInt(row, "L3CacheSize", it->second);
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- Win32_VideoController ---------------------------------------------------------

struct PciNames {
    std::map<std::uint64_t, std::string> vendors;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> devices;
};

// "xxxx  Name" at the start of the view: the id and the name, or nothing.
std::optional<std::pair<std::uint64_t, std::string_view>> pciIdsEntry(std::string_view s) {
    if (s.size() < 6 || !std::all_of(s.begin(), s.begin() + 4, isHex) || !isSpace(s[4])) return std::nullopt;
    auto id = parseUnsigned(s.substr(0, 4), 16);
    if (!id) return std::nullopt;
    return std::pair{*id, trim(s.substr(4))};
}

// Looks up only the vendors and devices present, in one pass over the database.
PciNames lookupPciNames(const fs::path& root, const std::set<std::uint64_t>& vendors,
                        const std::set<std::pair<std::uint64_t, std::uint64_t>>& devices) {
    PciNames names;
    for (const char* rel : {"usr/share/misc/pci.ids", "usr/share/hwdata/pci.ids"}) {
        std::error_code ec;
        if (!fs::is_regular_file(root / rel, ec)) continue;
        std::ifstream in(root / rel);
        if (!in) continue;
        // A plain value and a flag: GCC 12 takes a std::optional here for uninitialised.
        std::uint64_t vendor = 0;
        bool inVendor = false;
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind("C ", 0) == 0) break;  // the device class list follows the vendors
            if (line[0] != '\t') {
                inVendor = false;
                if (auto e = pciIdsEntry(line)) {
                    vendor = e->first;
                    inVendor = true;
                    if (vendors.count(e->first) != 0) names.vendors[e->first] = sanitizeUtf8(e->second);
                }
            } else if (inVendor && line.size() > 1 && line[1] != '\t') {
                if (auto e = pciIdsEntry(std::string_view(line).substr(1)); e && devices.count({vendor, e->first}) != 0)
                    names.devices[{vendor, e->first}] = sanitizeUtf8(e->second);
            }
        }
        break;
    }
    return names;
}

// The bound driver's module version; the kernel release for a driver built into the
// kernel or one without a version; nothing when no driver is bound.
std::optional<std::string> driverVersion(const fs::path& root, const fs::path& device) {
    std::error_code ec;
    const std::string driver = fs::read_symlink(device / "driver", ec).filename().string();
    if (ec || driver.empty() || driver == "." || driver == "..") return std::nullopt;
    const std::string module = fs::read_symlink(root / "sys/bus/pci/drivers" / driver / "module", ec).filename().string();
    if (!ec && !module.empty() && module != "." && module != "..")
        if (auto v = readTrimmed(root / "sys/module" / module / "version"); v && !v->empty()) return v;
    if (auto release = readTrimmed(root / "proc/sys/kernel/osrelease"); release && !release->empty()) return release;
    return std::nullopt;
}

std::vector<ProviderRow> buildVideoController(const fs::path& root) {
    struct Device {
        std::string address;
        std::optional<std::uint64_t> vendor, device;
    };
    const fs::path bus = root / "sys/bus/pci/devices";
    std::vector<Device> displays;
    std::set<std::uint64_t> vendors;
    std::set<std::pair<std::uint64_t, std::uint64_t>> ids;
    for (const std::string& address : listDir(bus)) {  // sorted names: PCI order
        const auto cls = readUnsigned(bus / address / "class", 16);
        if (!cls || ((*cls >> 16) & 0xFF) != 0x03) continue;
        Device d{address, readUnsigned(bus / address / "vendor", 16), readUnsigned(bus / address / "device", 16)};
        if (d.vendor && d.device && *d.vendor <= 0xFFFF && *d.device <= 0xFFFF) {
            vendors.insert(*d.vendor);
            ids.insert({*d.vendor, *d.device});
        } else {
            d.vendor.reset();
            d.device.reset();
        }
        displays.push_back(std::move(d));
    }
    if (displays.empty()) return {};
    const PciNames names = lookupPciNames(root, vendors, ids);

    std::vector<ProviderRow> rows;
    for (const Device& d : displays) {
        const fs::path dir = bus / d.address;
        ProviderRow row;
        if (d.vendor && d.device) {
            // Unknown ids read the way lspci shows them.
            auto v = names.vendors.find(*d.vendor);
            auto n = names.devices.find({*d.vendor, *d.device});
            const std::string name =
                (v != names.vendors.end() ? v->second : "Vendor " + hex4(*d.vendor, false)) + " " +
                (n != names.devices.end() ? n->second : "Device " + hex4(*d.device, false));
            putText(row, "Name", name);
            putText(row, "Description", name);
            const std::uint64_t subVendor = readUnsigned(dir / "subsystem_vendor", 16).value_or(0) & 0xFFFF;
            const std::uint64_t subDevice = readUnsigned(dir / "subsystem_device", 16).value_or(0) & 0xFFFF;
            const std::uint64_t revision = readUnsigned(dir / "revision", 16).value_or(0) & 0xFF;
            char pnp[96];
            std::snprintf(pnp, sizeof pnp, "PCI\\VEN_%04llX&DEV_%04llX&SUBSYS_%04llX%04llX&REV_%02llX\\",
                          static_cast<unsigned long long>(*d.vendor), static_cast<unsigned long long>(*d.device),
                          static_cast<unsigned long long>(subDevice), static_cast<unsigned long long>(subVendor),
                          static_cast<unsigned long long>(revision));
            putText(row, "PNPDeviceID", pnp + d.address);
        }
        if (auto version = driverVersion(root, dir)) putText(row, "DriverVersion", *version);
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- Win32_ComputerSystem ----------------------------------------------------------

// SMBIOS chassis type to the PCSystemType code: 1 desktop, 2 mobile, 4 enterprise
// server, 0 for everything that says nothing about the use.
std::int32_t pcSystemType(std::uint64_t chassis) {
    switch (chassis & 0x7F) {  // the top bit is the chassis lock flag
        case 3: case 4: case 5: case 6: case 7: case 13: case 15: case 16: case 24: case 34: case 35: case 36:
            return 1;
        case 8: case 9: case 10: case 11: case 14: case 30: case 31: case 32:
            return 2;
        case 17: case 23: case 25: case 28: case 29:
            return 4;
        default:
            return 0;
    }
}

// MemTotal of /proc/meminfo in bytes.
std::optional<std::uint64_t> memTotalBytes(std::string_view meminfo) {
    while (!meminfo.empty()) {
        const std::size_t nl = meminfo.find('\n');
        std::string_view line = meminfo.substr(0, nl);
        meminfo = nl == std::string_view::npos ? std::string_view() : meminfo.substr(nl + 1);
        if (line.rfind("MemTotal:", 0) != 0) continue;
        line = trim(line.substr(9));
        if (line.size() < 3 || line.substr(line.size() - 2) != "kB") return std::nullopt;
        auto kb = parseUnsigned(line.substr(0, line.size() - 2));
        if (!kb || *kb > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
        return *kb * 1024;
    }
    return std::nullopt;
}

std::vector<ProviderRow> buildComputerSystem(const fs::path& root) {
    const fs::path dmi = root / "sys/class/dmi/id";
    ProviderRow row;
    if (auto chassis = readUnsigned(dmi / "chassis_type"))
        row.insert_or_assign("PCSystemType", ProviderValue(pcSystemType(*chassis)));
    if (auto meminfo = readFile(root / "proc/meminfo"))
        if (auto bytes = memTotalBytes(*meminfo)) putText(row, "TotalPhysicalMemory", std::to_string(*bytes));
    if (auto v = readFile(dmi / "sys_vendor")) putText(row, "Manufacturer", *v);
    if (auto v = readFile(dmi / "product_name")) putText(row, "Model", *v);
    return {row};
}

// ---- BatteryStatus (ROOT\WMI) ------------------------------------------------------

std::vector<ProviderRow> buildBatteryStatus(const fs::path& root) {
    const fs::path dir = root / "sys/class/power_supply";
    std::vector<std::string> batteries;
    bool externalOnline = false;
    for (const std::string& name : listDir(dir)) {
        const std::string type = readTrimmed(dir / name / "type").value_or("");
        if (type == "Battery") {
            // Batteries of mice, keyboards and game pads do not power the machine.
            if (readTrimmed(dir / name / "scope").value_or("") != "Device") batteries.push_back(name);
        } else if (!type.empty() && readTrimmed(dir / name / "online").value_or("") == "1") {
            externalOnline = true;  // mains, USB or another supply feeding the machine
        }
    }
    std::vector<ProviderRow> rows;
    for (const std::string& name : batteries) {
        const bool discharging = readTrimmed(dir / name / "status").value_or("") == "Discharging";
        ProviderRow row;
        row.insert_or_assign("PowerOnLine", ProviderValue(!(discharging && !externalOnline)));
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- class table -------------------------------------------------------------------

constexpr ProviderProperty kProductProperties[] = {{"UUID", ProviderKind::Text}};
constexpr ProviderProperty kOperatingSystemProperties[] = {{"Caption", ProviderKind::Text}};
constexpr ProviderProperty kProcessorProperties[] = {
    {"Manufacturer", ProviderKind::Text},   {"Name", ProviderKind::Text},
    {"NumberOfCores", ProviderKind::Int32}, {"NumberOfLogicalProcessors", ProviderKind::Int32},
    {"MaxClockSpeed", ProviderKind::Int32}, {"SocketDesignation", ProviderKind::Text},
    {"L2CacheSize", ProviderKind::Int32},   {"L3CacheSize", ProviderKind::Int32},
};
constexpr ProviderProperty kVideoControllerProperties[] = {
    {"Name", ProviderKind::Text},
    {"Description", ProviderKind::Text},
    {"DriverVersion", ProviderKind::Text},
    {"PNPDeviceID", ProviderKind::Text},
};
constexpr ProviderProperty kComputerSystemProperties[] = {
    {"PCSystemType", ProviderKind::Int32},
    {"TotalPhysicalMemory", ProviderKind::Uint64Text},
    {"Manufacturer", ProviderKind::Text},
    {"Model", ProviderKind::Text},
};
constexpr ProviderProperty kBatteryStatusProperties[] = {{"PowerOnLine", ProviderKind::Bool}};

const ProviderClass kClasses[] = {
    {WmiNamespace::Cimv2, "Win32_ComputerSystemProduct", kProductProperties, buildComputerSystemProduct},
    {WmiNamespace::Cimv2, "Win32_OperatingSystem", kOperatingSystemProperties, buildOperatingSystem},
    {WmiNamespace::Cimv2, "Win32_Processor", kProcessorProperties, buildProcessor},
    {WmiNamespace::Cimv2, "Win32_VideoController", kVideoControllerProperties, buildVideoController},
    {WmiNamespace::Cimv2, "Win32_ComputerSystem", kComputerSystemProperties, buildComputerSystem},
    {WmiNamespace::Wmi, "BatteryStatus", kBatteryStatusProperties, buildBatteryStatus},
};

}  // namespace

void setProviderRoot(const fs::path& root) { rootStorage() = root; }

const fs::path& providerRoot() { return rootStorage(); }

const ProviderClass* findProviderClass(WmiNamespace ns, std::string_view name) {
    const std::string wanted = lowerAscii(name);
    for (const ProviderClass& c : kClasses)
        if (c.ns == ns && lowerAscii(c.name) == wanted) return &c;
    return nullptr;
}

std::string smbiosString(std::string_view record, std::size_t offset) {
    if (record.size() < 4) return {};
    const std::size_t length = static_cast<unsigned char>(record[1]);
    if (length < 4 || length > record.size() || offset >= length) return {};
    const unsigned index = static_cast<unsigned char>(record[offset]);
    if (index == 0) return {};
    std::size_t pos = length;
    for (unsigned i = 1; pos < record.size(); ++i) {
        const std::size_t end = record.find('\0', pos);
        if (end == std::string_view::npos || end == pos) return {};  // cut short, or the set ended
        if (i == index) return std::string(record.substr(pos, end - pos));
        pos = end + 1;
    }
    return {};
}
