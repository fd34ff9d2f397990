// The Linux provider under the query layer and the inventory, on fixture trees.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/globals.h"
#include "sysinfo/WmiConnection.h"
#include "sysinfo/inventory.h"
#include "sysinfo/linux_provider.h"
#include "sysinfo/power.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = TALLYFORGE_SYSINFO_FIXTURES;

// Points the provider at a tree for one test and back at "/" afterwards.
class OnTree : public ::testing::Test {
protected:
    void TearDown() override { setProviderRoot("/"); }
};

// ---- inventory ----------------------------------------------------------------------

struct InventoryCase {
    const char* fixture;
    std::string uuid;
    std::string version;
    ProcessorInfo processor;
    std::vector<VideoControllerInfo> controllers;
    ComputerSystemInfo computerSystem;
};

void expectProcessor(const ProcessorInfo& got, const ProcessorInfo& want) {
    EXPECT_EQ(got.manufacturer, want.manufacturer);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.socket, want.socket);
    EXPECT_EQ(got.clock_speed, want.clock_speed);
    EXPECT_EQ(got.core_count, want.core_count);
    EXPECT_EQ(got.thread_count, want.thread_count);
    EXPECT_EQ(got.l2_cache, want.l2_cache);
    EXPECT_EQ(got.l3_cache, want.l3_cache);
}

class InventoryOnTree : public ::testing::TestWithParam<InventoryCase> {
protected:
    void TearDown() override { setProviderRoot("/"); }
};

TEST_P(InventoryOnTree, DescribesTheMachine) {
    const InventoryCase& c = GetParam();
    setProviderRoot(kFixtures / c.fixture);
    monitorWidth = 1366;
    monitorHeight = 768;
    const GlGpuInfo gl{"Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)"};
    StageResults results;
    results.cpu_integer.push_back({1, 1234});
    results.gpu.push_back({0, 60, 48, 41});

    const SystemInventory got = gatherSystemInventory(gl, results);

    EXPECT_EQ(got.windows_uuid, c.uuid);
    EXPECT_EQ(got.windows_version, c.version);
    expectProcessor(got.processor, c.processor);
    ASSERT_EQ(got.video_controllers.size(), c.controllers.size());
    for (std::size_t i = 0; i < c.controllers.size(); ++i) {
        SCOPED_TRACE("controller " + std::to_string(i));
        EXPECT_EQ(got.video_controllers[i].name, c.controllers[i].name);
        EXPECT_EQ(got.video_controllers[i].description, c.controllers[i].description);
        EXPECT_EQ(got.video_controllers[i].driver_version, c.controllers[i].driver_version);
        EXPECT_EQ(got.video_controllers[i].pnp_device_id, c.controllers[i].pnp_device_id);
    }
    EXPECT_EQ(got.computer_system.form_factor, c.computerSystem.form_factor);
    EXPECT_EQ(got.computer_system.total_physical_memory, c.computerSystem.total_physical_memory);
    EXPECT_EQ(got.computer_system.manufacturer, c.computerSystem.manufacturer);
    EXPECT_EQ(got.computer_system.model, c.computerSystem.model);
    // The parts that do not come from the management layer are filled whatever it said.
    EXPECT_TRUE(got.gl_gpu == gl);
    EXPECT_TRUE(got.score == results);
    EXPECT_EQ(got.width, 1366);
    EXPECT_EQ(got.height, 768);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, InventoryOnTree,
    ::testing::Values(
        // One package, one graphics card; the host bridge is no video controller. L2 is
        // two private caches, L3 one shared cache counted once.
        InventoryCase{"desktop",
                      "4C4C4544-0035-3010-8056-B4C04F4A4D32",
                      "Debian GNU/Linux 12 (bookworm)",
                      {"GenuineIntel", "Sample Desktop CPU @ 3.60GHz", "", 4200, 2, 2, 2560, 12288},
                      {{"NVIDIA Corporation GP104 [GeForce GTX 1080]", "NVIDIA Corporation GP104 [GeForce GTX 1080]",
                        "535.183.01", "PCI\\VEN_10DE&DEV_1B80&SUBSYS_85911043&REV_A1\\0000:01:00.0"}},
                      {1, 17179869184ull, "Sample Systems Inc.", "Tower 5000"}},
        // Integrated and discrete graphics in PCI order (the audio device between them is
        // skipped); a name "Sample CPU" padded with spaces and a tab; product_uuid
        // unreadable, so an identifier derived from the machine id stands in (HMAC-SHA256
        // keyed with 5f0e8a7b... over our application id, made a version 4 UUID; worked
        // out with openssl dgst -mac HMAC, never the raw id); os-release only under /usr/lib; the
        // PCI database in hwdata's place; a device the database lacks; i915 without a
        // module version reports the kernel release.
        InventoryCase{"laptop",
                      "2CE3E4DC-86AC-4CDC-BA88-6D3D0D6316AE",
                      "Fedora Linux 40 (Workstation Edition)",
                      {"GenuineIntel", "Sample CPU", "", 1992, 4, 8, 0, 0},
                      {{"Intel Corporation UHD Graphics 620", "Intel Corporation UHD Graphics 620",
                        "6.8.5-301.fc40.x86_64", "PCI\\VEN_8086&DEV_5917&SUBSYS_225D17AA&REV_07\\0000:00:02.0"},
                       {"NVIDIA Corporation Device 1d13", "NVIDIA Corporation Device 1d13", "550.78",
                        "PCI\\VEN_10DE&DEV_1D13&SUBSYS_225D17AA&REV_A1\\0000:01:00.0"}},
                      {2, 8192000000ull, "Sample Laptops", "Ultrabook 13"}},
        // Two packages with interleaved processor numbers: the first package's counts,
        // clock and one L3, not the sums over the machine.
        InventoryCase{"two-packages", "", "", {"AuthenticAMD", "Sample Server CPU A", "", 2900, 1, 2, 0, 16384}, {}, {}},
        InventoryCase{"empty", "", "", {}, {}, {}},
        InventoryCase{"no-such-tree", "", "", {}, {}, {}}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.fixture;
        std::erase(name, '-');
        return name;
    });

// ---- power check --------------------------------------------------------------------

struct PowerCase {
    const char* fixture;
    bool onBattery;
};

class PowerOnTree : public ::testing::TestWithParam<PowerCase> {
protected:
    void TearDown() override { setProviderRoot("/"); }
};

TEST_P(PowerOnTree, IsOnBattery) {
    setProviderRoot(kFixtures / GetParam().fixture);
    EXPECT_EQ(isOnBattery(), GetParam().onBattery);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, PowerOnTree,
    ::testing::Values(PowerCase{"laptop", true},                       // discharging, mains offline
                      PowerCase{"power-charging", false},              // charging on mains
                      PowerCase{"power-discharging-on-mains", false},  // drawing more than the adapter gives
                      PowerCase{"power-peripheral-battery", false},    // only a mouse battery
                      PowerCase{"desktop", false},                     // no power supplies at all
                      PowerCase{"empty", false}),
    [](const auto& testInfo) {
        std::string name = testInfo.param.fixture;
        std::erase(name, '-');
        return name;
    });

// ---- the query layer ----------------------------------------------------------------

TEST_F(OnTree, NoQueryBeforeConnect) {
    setProviderRoot(kFixtures / "desktop");
    WmiConnection wmi;
    EXPECT_EQ(wmi.execQuery("SELECT Name FROM Win32_Processor"), nullptr);
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    EXPECT_NE(wmi.execQuery("SELECT Name FROM Win32_Processor"), nullptr);
    wmi.close();
    EXPECT_EQ(wmi.execQuery("SELECT Name FROM Win32_Processor"), nullptr);
    EXPECT_FALSE(wmi.connect(static_cast<WmiNamespace>(7)));
}

TEST_F(OnTree, QueriesNotUnderstoodGiveNoEnumerator) {
    setProviderRoot(kFixtures / "desktop");
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    for (const char* query : {
             "SELECT Name FROM Win32_Fan",                          // unknown class
             "SELECT Speed FROM Win32_Processor",                   // unknown property
             "SELECT PowerOnLine FROM BatteryStatus",               // class of the other namespace
             "SELECT Name FROM Win32_Processor WHERE Name = 'x'",   // conditions are not answered
             "SELECT Name, FROM Win32_Processor",
             "SELECT FROM Win32_Processor",
             "Name FROM Win32_Processor",
             "",
         }) {
        EXPECT_EQ(wmi.execQuery(query), nullptr) << query;
    }
}

TEST_F(OnTree, EveryPackageIsARowInOrder) {
    setProviderRoot(kFixtures / "two-packages");
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    auto rows = wmi.execQuery("SELECT Name, MaxClockSpeed, L3CacheSize FROM Win32_Processor");
    ASSERT_NE(rows, nullptr);
    auto first = rows->next();
    auto second = rows->next();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(rows->next(), nullptr);
    EXPECT_EQ(first->getText("Name"), "Sample Server CPU A");
    EXPECT_EQ(second->getText("Name"), "Sample Server CPU B");
    EXPECT_EQ(first->getInt32("MaxClockSpeed"), 2900);
    EXPECT_EQ(second->getInt32("MaxClockSpeed"), 3100);
    EXPECT_EQ(second->getInt32("L3CacheSize"), 16384);
}

TEST_F(OnTree, RowsAnswerSelectedPropertiesOfTheirType) {
    setProviderRoot(kFixtures / "desktop");
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    auto rows = wmi.execQuery("select name, NumberOfCores from WIN32_PROCESSOR");  // WQL ignores case
    ASSERT_NE(rows, nullptr);
    auto row = rows->next();
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->getText("NAME"), "Sample Desktop CPU @ 3.60GHz");
    EXPECT_EQ(row->getInt32("NumberOfCores"), 2);
    EXPECT_EQ(row->getText("Manufacturer"), std::nullopt);  // not selected
    EXPECT_EQ(row->getInt32("Name"), std::nullopt);         // not an integer
    EXPECT_EQ(row->getText("NumberOfCores"), std::nullopt);
    EXPECT_EQ(row->getBool("Name"), std::nullopt);
    EXPECT_EQ(row->getText("NoSuchProperty"), std::nullopt);

    auto all = wmi.execQuery("SELECT * FROM Win32_ComputerSystem");
    ASSERT_NE(all, nullptr);
    auto cs = all->next();
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(cs->getUint64Text("TotalPhysicalMemory"), "17179869184");
    EXPECT_EQ(cs->getText("TotalPhysicalMemory"), std::nullopt);  // delivered as a 64-bit value
    EXPECT_EQ(cs->getInt32("PCSystemType"), 1);
}

TEST_F(OnTree, SwitchingNamespaces) {
    setProviderRoot(kFixtures / "laptop");
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Cimv2));
    ASSERT_TRUE(wmi.connect(WmiNamespace::Wmi));
    EXPECT_EQ(wmi.execQuery("SELECT Name FROM Win32_Processor"), nullptr);
    auto rows = wmi.execQuery("SELECT PowerOnLine FROM BatteryStatus");
    ASSERT_NE(rows, nullptr);
    auto row = rows->next();
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->getBool("PowerOnLine"), false);
    EXPECT_EQ(rows->next(), nullptr);
}

TEST_F(OnTree, ClassWithoutInstancesHasNoRows) {
    setProviderRoot(kFixtures / "desktop");
    WmiConnection wmi;
    ASSERT_TRUE(wmi.connect(WmiNamespace::Wmi));
    auto rows = wmi.execQuery("SELECT PowerOnLine FROM BatteryStatus");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->next(), nullptr);
}

// ---- firmware data built in place ---------------------------------------------------

class ScratchTree : public OnTree {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("tallyforge-sysinfo-test-" + std::to_string(::getpid()));
        fs::remove_all(root);
        setProviderRoot(root);
    }
    void TearDown() override {
        OnTree::TearDown();
        fs::remove_all(root);
    }
    void write(const std::string& rel, const std::string& bytes) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel, std::ios::binary) << bytes;
    }
    fs::path root;
};

TEST_F(ScratchTree, SocketFromTheSmbiosRecordAndFirmwareTextMadeValid) {
    write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Sample CPU\n\n");
    // Processor record: type 4, formatted area of 0x2A bytes; Socket Designation (offset
    // 4) selects string 1, Processor Manufacturer (offset 7) string 2.
    std::string record(0x2A, '\0');
    record[0] = 4;
    record[1] = 0x2A;
    record[4] = 1;
    record[7] = 2;
    record += std::string("LGA1700\0Intel(R) Corporation\0\0", 31);
    write("sys/firmware/dmi/entries/4-0/raw", record);
    // Firmware strings are often Latin-1; the document must still be valid UTF-8.
    write("sys/class/dmi/id/sys_vendor", "Soci\xE9t\xE9 G\xE9n\xE9rale\n");
    write("etc/machine-id", "not-a-machine-id\n");

    const SystemInventory got = gatherSystemInventory({}, {});
    EXPECT_EQ(got.processor.socket, "LGA1700");
    EXPECT_EQ(got.processor.name, "Sample CPU");
    EXPECT_EQ(got.computer_system.manufacturer,
              "Soci\xEF\xBF\xBDt\xEF\xBF\xBD G\xEF\xBF\xBDn\xEF\xBF\xBDrale");
    EXPECT_EQ(got.windows_uuid, "");
}

// The machine id itself never leaves the machine: what is sent is a version 4 UUID that
// stays the same for one machine id and differs between machines; the DMI product UUID,
// where readable, is sent as it is.
TEST_F(ScratchTree, MachineIdIsNeverSentAsItIs) {
    const std::regex v4("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::vector<std::string> sent;
    for (const char* id : {"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdee",
                           "0123456789abcdef0123456789abcdef"}) {
        write("etc/machine-id", std::string(id) + "\n");
        const std::string uuid = gatherSystemInventory({}, {}).windows_uuid;
        EXPECT_TRUE(std::regex_match(uuid, v4)) << uuid;
        std::string bare;
        for (char c : uuid) {
            if (c != '-') bare += char(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(bare.find(std::string(id).substr(0, 12)), std::string::npos) << uuid;
        sent.push_back(uuid);
    }
    EXPECT_NE(sent[0], sent[1]);
    EXPECT_EQ(sent[0], sent[2]);
    write("sys/class/dmi/id/product_uuid", "4c4c4544-0035-3010-8056-b4c04f4a4d32\n");
    EXPECT_EQ(gatherSystemInventory({}, {}).windows_uuid, "4C4C4544-0035-3010-8056-B4C04F4A4D32");
}

TEST(SmbiosString, MalformedRecordsGiveNothing) {
    const std::string good = std::string("\x04\x06\x00\x00\x02\x00", 6) + std::string("one\0two\0\0", 9);
    EXPECT_EQ(smbiosString(good, 4), "two");
    std::string zero = good;
    zero[4] = 0;
    EXPECT_EQ(smbiosString(zero, 4), "");  // no string
    std::string beyond = good;
    beyond[4] = 3;
    EXPECT_EQ(smbiosString(beyond, 4), "");  // past the last string
    EXPECT_EQ(smbiosString(good, 6), "");    // offset outside the formatted area
    EXPECT_EQ(smbiosString(good.substr(0, 10), 4), "");  // cut off inside the strings
    std::string tooLong = good;
    tooLong[1] = 0x7F;
    EXPECT_EQ(smbiosString(tooLong, 4), "");  // formatted area longer than the record
}

}  // namespace
