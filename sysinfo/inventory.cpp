#include "sysinfo/inventory.h"

#include <charconv>
#include <utility>

#include "core/globals.h"

namespace {

// The first row of a query in ROOT\CIMV2, or null when there is none for any reason.
std::unique_ptr<WmiRow> firstRow(WmiConnection& wmi, std::string_view query) {
    if (!wmi.connect(WmiNamespace::Cimv2)) return nullptr;
    auto rows = wmi.execQuery(query);
    return rows ? rows->next() : nullptr;
}

void readText(const WmiRow& row, std::string_view name, std::string& into) {
    if (auto v = row.getText(name)) into = std::move(*v);
}

void readUnsigned32(const WmiRow& row, std::string_view name, std::uint32_t& into) {
    if (auto v = row.getInt32(name)) into = static_cast<std::uint32_t>(*v);
}

}  // namespace

std::string querySystemUuid(WmiConnection& wmi) {
    std::string uuid;
    if (auto row = firstRow(wmi, "SELECT UUID FROM Win32_ComputerSystemProduct")) readText(*row, "UUID", uuid);
    return uuid;
}

std::string queryWindowsVersion(WmiConnection& wmi) {
    std::string caption;
    if (auto row = firstRow(wmi, "SELECT Caption FROM Win32_OperatingSystem")) readText(*row, "Caption", caption);
    return caption;
}

ProcessorInfo queryProcessor(WmiConnection& wmi) {
    ProcessorInfo info;
    // Only the first package: core and thread counts are that package's.
    auto row = firstRow(wmi,
                        "SELECT Manufacturer, Name, NumberOfCores, NumberOfLogicalProcessors, MaxClockSpeed, "
                        "SocketDesignation, L2CacheSize, L3CacheSize FROM Win32_Processor");
    if (!row) return info;
    readText(*row, "Manufacturer", info.manufacturer);
    readText(*row, "Name", info.name);
    readUnsigned32(*row, "NumberOfCores", info.core_count);
    readUnsigned32(*row, "NumberOfLogicalProcessors", info.thread_count);
    readUnsigned32(*row, "MaxClockSpeed", info.clock_speed);
    readText(*row, "SocketDesignation", info.socket);
    readUnsigned32(*row, "L2CacheSize", info.l2_cache);
    readUnsigned32(*row, "L3CacheSize", info.l3_cache);
    return info;
}

std::vector<VideoControllerInfo> queryVideoControllers(WmiConnection& wmi) {
    std::vector<VideoControllerInfo> controllers;
    if (!wmi.connect(WmiNamespace::Cimv2)) return controllers;
    auto rows = wmi.execQuery("SELECT Name, Description, DriverVersion, PNPDeviceID FROM Win32_VideoController");
    if (!rows) return controllers;
    while (auto row = rows->next()) {
        VideoControllerInfo info;  // appended even when every read failed
        readText(*row, "Name", info.name);
        readText(*row, "Description", info.description);
        readText(*row, "DriverVersion", info.driver_version);
        readText(*row, "PNPDeviceID", info.pnp_device_id);
        controllers.push_back(std::move(info));
    }
    return controllers;
}

ComputerSystemInfo queryComputerSystem(WmiConnection& wmi) {
    ComputerSystemInfo info;
    auto row = firstRow(wmi, "SELECT PCSystemType, TotalPhysicalMemory, Manufacturer, Model FROM Win32_ComputerSystem");
    if (!row) return info;
    if (auto v = row->getInt32("PCSystemType")) info.form_factor = *v;
    if (auto v = row->getUint64Text("TotalPhysicalMemory")) info.total_physical_memory = parseTotalPhysicalMemory(*v);
    readText(*row, "Manufacturer", info.manufacturer);
    readText(*row, "Model", info.model);
    return info;
}

SystemInventory gatherSystemInventory(GlGpuInfo glGpu, StageResults results) {
    SystemInventory inventory;
    inventory.gl_gpu = std::move(glGpu);
    inventory.score = std::move(results);
    WmiConnection wmi;
    inventory.windows_uuid = querySystemUuid(wmi);
    inventory.windows_version = queryWindowsVersion(wmi);
    inventory.processor = queryProcessor(wmi);
    inventory.video_controllers = queryVideoControllers(wmi);
    inventory.computer_system = queryComputerSystem(wmi);
    inventory.width = monitorWidth;
    inventory.height = monitorHeight;
    wmi.close();
    return inventory;
}

std::uint64_t parseTotalPhysicalMemory(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    // A sign is accepted the way the C library accepts it, but a negative amount is no
    // amount (the library would wrap it round to a huge one).
    if (i < text.size() && text[i] == '+') ++i;
    std::uint64_t value = 0;
    const char* begin = text.data() + i;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value, 10);
    if (ec != std::errc() || end == begin) return 0;
    return value;
}
