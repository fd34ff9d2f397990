#pragma once
// The description of the machine that goes with the results: five management queries in
// "ROOT\CIMV2", the OpenGL strings and the screen size. Failures leave defaults.

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "sysinfo/WmiConnection.h"

std::string querySystemUuid(WmiConnection& wmi);
std::string queryWindowsVersion(WmiConnection& wmi);
ProcessorInfo queryProcessor(WmiConnection& wmi);
std::vector<VideoControllerInfo> queryVideoControllers(WmiConnection& wmi);
ComputerSystemInfo queryComputerSystem(WmiConnection& wmi);

// Runs the five queries through one fresh connection and fills the record; the GL strings
// and the results are moved in, the size comes from monitorWidth and monitorHeight.
SystemInventory gatherSystemInventory(GlGpuInfo glGpu, StageResults results);

// The installed memory as the management service writes it: leading white space skipped,
// digits up to the first other character. 0 when there is no digit, the text is negative,
// or the number does not fit in 64 bits.
std::uint64_t parseTotalPhysicalMemory(const std::string& text);
