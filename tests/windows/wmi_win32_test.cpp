// The COM query layer against the management service (Wine's stand-in under test).
#include "sysinfo/WmiConnection.h"
#include "sysinfo/inventory.h"
#include "sysinfo/power.h"
#include "core/text.h"
#include "sysinfo/text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include <windows.h>

namespace {

// Well-formed for a text the layer hands out: valid UTF-8 without trailing white space.
void expectCleanText(const std::string& text, const char* what) {
    EXPECT_EQ(sanitizeUtf8(text), text) << what;
    if (!text.empty()) {
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(text.back()))) << what;
    }
}

}  // namespace

TEST(WmiConnection, ReadsTextIntegerAndUint64PropertiesOfTheLocalMachine) {
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));

    auto os = wmi.execQuery("SELECT Caption FROM Win32_OperatingSystem");
    ASSERT_NE(os, nullptr);
    auto osRow = os->next();
    ASSERT_NE(osRow, nullptr);
    const auto caption = osRow->getText("Caption");
    ASSERT_TRUE(caption.has_value());
    EXPECT_FALSE(caption->empty());
    expectCleanText(*caption, "Caption");
    // A property of another type is not a text, and an unknown one is nothing.
    EXPECT_FALSE(osRow->getInt32("Caption").has_value());
    EXPECT_FALSE(osRow->getText("NoSuchProperty").has_value());

    auto cpu = wmi.execQuery("SELECT Name, NumberOfCores, NumberOfLogicalProcessors FROM Win32_Processor");
    ASSERT_NE(cpu, nullptr);
    auto cpuRow = cpu->next();
    ASSERT_NE(cpuRow, nullptr);
    const auto cores = cpuRow->getInt32("NumberOfCores");
    const auto threads = cpuRow->getInt32("NumberOfLogicalProcessors");
    ASSERT_TRUE(cores && threads);
    EXPECT_GE(*cores, 1);
    EXPECT_GE(*threads, *cores);
    const auto name = cpuRow->getText("Name");
    ASSERT_TRUE(name.has_value());
    expectCleanText(*name, "Name");

    auto system = wmi.execQuery("SELECT TotalPhysicalMemory FROM Win32_ComputerSystem");
    ASSERT_NE(system, nullptr);
    auto systemRow = system->next();
    ASSERT_NE(systemRow, nullptr);
    const auto memory = systemRow->getUint64Text("TotalPhysicalMemory");
    ASSERT_TRUE(memory.has_value());
    EXPECT_TRUE(std::regex_match(*memory, std::regex("[1-9][0-9]*"))) << *memory;
    // The count matches what the kernel reports, to within a rounding.
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    EXPECT_NEAR(static_cast<double>(parseTotalPhysicalMemory(*memory)),
                static_cast<double>(status.ullTotalPhys), 0.05 * static_cast<double>(status.ullTotalPhys));
}

TEST(WmiConnection, MultiRowQueryEndsAndRowsOutliveTheConnection) {
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    auto rows = wmi.execQuery("SELECT Name, DriverVersion, PNPDeviceID FROM Win32_VideoController");
    ASSERT_NE(rows, nullptr);
    std::vector<std::unique_ptr<WmiRow>> all;
    while (auto row = rows->next()) {
        ASSERT_LT(all.size(), 64u) << "the enumerator does not end";
        all.push_back(std::move(row));
    }
    EXPECT_EQ(rows->next(), nullptr);
    // Closing ends the connection; rows already read stay readable until they go.
    wmi.close();
    for (const auto& row : all) {
        if (auto name = row->getText("Name")) expectCleanText(*name, "Name");
    }
}

TEST(WmiConnection, SwitchesNamespacesAndSurvivesAConnectionBefore) {
    {
        // The battery check runs first with a connection of its own.
        WmiConnection battery;
        EXPECT_TRUE(battery.connect(WmiNamespace::Wmi));
    }
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));  // reused
    ASSERT_TRUE(wmi.connect(WmiNamespace::Wmi));
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    auto rows = wmi.execQuery("SELECT Caption FROM Win32_OperatingSystem");
    ASSERT_NE(rows, nullptr);
    EXPECT_NE(rows->next(), nullptr);
}

TEST(WmiConnection, FailuresGiveNoRows) {
    WmiConnection wmi;
    EXPECT_EQ(wmi.execQuery("SELECT Caption FROM Win32_OperatingSystem"), nullptr);  // not connected
    EXPECT_FALSE(wmi.connect(static_cast<WmiNamespace>(7)));
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    for (const char* query : {"SELECT Name FROM NoSuchClass", "this is not a query"}) {
        auto rows = wmi.execQuery(query);
        // The service may refuse at once or only when the first row is asked for.
        if (rows) {
            EXPECT_EQ(rows->next(), nullptr) << query;
        }
    }
    wmi.close();
    EXPECT_EQ(wmi.execQuery("SELECT Caption FROM Win32_OperatingSystem"), nullptr);
    wmi.close();  // a second close is harmless
}

TEST(Inventory, QueriesGiveWellFormedValuesAndDefaultsForMissingProperties) {
    WmiConnection wmi;
    const std::string uuid = querySystemUuid(wmi);
    EXPECT_TRUE(std::regex_match(uuid, std::regex("[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}"))) << uuid;
    const std::string version = queryWindowsVersion(wmi);
    EXPECT_FALSE(version.empty());
    expectCleanText(version, "windows_version");

    const ProcessorInfo cpu = queryProcessor(wmi);
    EXPECT_FALSE(cpu.name.empty());
    expectCleanText(cpu.name, "processor name");
    expectCleanText(cpu.manufacturer, "processor manufacturer");
    EXPECT_GE(cpu.core_count, 1u);
    EXPECT_GE(cpu.thread_count, cpu.core_count);

    for (const VideoControllerInfo& gpu : queryVideoControllers(wmi)) {
        expectCleanText(gpu.name, "video name");
        expectCleanText(gpu.pnp_device_id, "pnp id");
    }

    const ComputerSystemInfo system = queryComputerSystem(wmi);
    EXPECT_GT(system.total_physical_memory, 0u);
    expectCleanText(system.manufacturer, "computer manufacturer");
    expectCleanText(system.model, "computer model");
    // Wine's stand-in has no PCSystemType: the form factor keeps its default. On Windows
    // it is one of the documented values 0 to 8.
    EXPECT_GE(system.form_factor, 0);
    EXPECT_LE(system.form_factor, 8);
}

// The shared converter against the system's own, for the inputs that matter: plain and
// non-ASCII text, surrogate pairs, lone surrogates and trailing white space.
TEST(WideToUtf8, AgreesWithWideCharToMultiByte) {
    const std::vector<std::wstring> inputs = {
        L"",
        L"Sample CPU   \t",
        L"   ",
        L"  leading kept",
        L"Caf\u00e9 \u00a0",
        L"\u65e5\u672c\u8a9e",
        L"emoji \xd83d\xde00 end",
        std::wstring(L"lone \xd800 high"),
        std::wstring(L"lone \xdc00 low"),
        L"line\r\n\v\f",
    };
    for (const std::wstring& w : inputs) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
        ASSERT_GT(n, 0);
        std::string expected(static_cast<std::size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, expected.data(), n, nullptr, nullptr);
        trimTrailingSpace(expected);
        EXPECT_EQ(wideToUtf8(w.c_str()), expected);
    }
    EXPECT_EQ(wideToUtf8(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(wideToUtf8(L"Sample CPU   \t"), "Sample CPU");
}
