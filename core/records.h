#pragma once
// Plain records shared by the client and the result service: what the stages measure
// and what the inventory describes. No GL, no platform code.

#include <cstdint>
#include <string>
#include <vector>

struct CpuTestResult {
    std::uint64_t thread_count = 0;
    std::uint64_t score = 0;
    bool operator==(const CpuTestResult&) const = default;
};

struct GpuTestResult {
    std::uint64_t id = 0;
    std::uint64_t average = 0;
    std::uint64_t ten_percent = 0;
    std::uint64_t one_percent = 0;
    bool operator==(const GpuTestResult&) const = default;
};

struct StageResults {
    std::vector<CpuTestResult> cpu_integer;
    std::vector<CpuTestResult> cpu_float;
    std::vector<GpuTestResult> gpu;
    bool operator==(const StageResults&) const = default;
};

struct ComputerSystemInfo {
    std::int32_t form_factor = 0;
    std::uint64_t total_physical_memory = 0;
    std::string manufacturer;
    std::string model;
    bool operator==(const ComputerSystemInfo&) const = default;
};

struct ProcessorInfo {
    std::string manufacturer;
    std::string name;
    std::string socket;
    std::uint32_t clock_speed = 0;
    std::uint32_t core_count = 0;
    std::uint32_t thread_count = 0;
    std::uint32_t l2_cache = 0;
    std::uint32_t l3_cache = 0;
    bool operator==(const ProcessorInfo&) const = default;
};

struct VideoControllerInfo {
    std::string name;
    std::string description;
    std::string driver_version;
    std::string pnp_device_id;
    bool operator==(const VideoControllerInfo&) const = default;
};

struct GlGpuInfo {
    std::string vendor;
    std::string renderer;
    bool operator==(const GlGpuInfo&) const = default;
};

struct SystemInventory {
    std::string windows_uuid;
    std::string windows_version;
    ComputerSystemInfo computer_system;
    ProcessorInfo processor;
    std::vector<VideoControllerInfo> video_controllers;
    GlGpuInfo gl_gpu;
    StageResults score;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const SystemInventory&) const = default;
};
