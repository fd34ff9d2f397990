#include "core/document.h"

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "assets/assets.h"
#include "core/crypto.h"

using nlohmann::json;

namespace {

const unsigned char kAbc[] = {'a', 'b', 'c'};  // a short salt whose Base64 text is "YWJj"

SystemInventory workedExample() {
    SystemInventory inv;
    inv.windows_uuid = "A1";
    inv.windows_version = "Win";
    inv.processor = {"M", "N", "S", 3600, 8, 16, 4096, 16384};
    inv.computer_system = {1, 17179869184ull, "C", "D"};
    inv.gl_gpu = {"V", "R"};
    inv.width = 1920;
    inv.height = 1080;
    inv.video_controllers = {{"G", "H", "1.0", "PCI"}};
    inv.score.cpu_integer = {{1, 100}};
    inv.score.cpu_float = {{1, 50}};
    inv.score.gpu = {{1, 60, 50, 40}};
    return inv;
}

// Quotation mark, reverse solidus, tab, a control character and non-ASCII text.
SystemInventory awkwardExample() {
    SystemInventory inv;
    inv.windows_uuid = "U-1";
    inv.windows_version = "Win 11";
    inv.computer_system = {-1, 17179869184ull, "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE2\x82\xAC",
                           "Model \"X\""};
    inv.processor = {"GenuineIntel", "Core\ti7", "LGA\x01", 3600, 8, 16, 4096, 16384};
    inv.video_controllers = {{"GPU", "Desc\\", "31.0", "PCI\\VEN_10DE"}};
    inv.gl_gpu = {"V", "R"};
    inv.width = 1920;
    inv.height = 1080;
    inv.score.cpu_integer = {{1, 100}};
    inv.score.cpu_float = {{2, 50}};
    inv.score.gpu = {{1, 60, 50, 40}};
    return inv;
}

std::string digestOf(const SystemInventory& inv) {
    return computeResultDigest(inv, digestSalt, digestSaltSize);
}

}  // namespace

TEST(SignatureText, WorkedExampleIsExact) {
    const std::string text = buildSignatureText(workedExample(), digestSalt, digestSaltSize);
    const std::string expected = "3A1WinMN3600816409616384SCD117179869184RV19201080GH1.0PCI10051120000";
    ASSERT_EQ(digestSaltSize, 1024u);
    ASSERT_EQ(text.size(), expected.size() + 1368);
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(text.substr(expected.size()), base64Encode(digestSalt, digestSaltSize));
    EXPECT_EQ(text.substr(text.size() - 2), "==");
}

TEST(SignatureText, WrapsProductsAndSignExtendsFormFactor) {
    SystemInventory inv;
    inv.computer_system.form_factor = -2;
    // 2^32 * (2^32 + 1) * 3 * 1 = 3 * 2^64 + 3 * 2^32, which wraps to 3 * 2^32.
    inv.score.gpu = {{4294967296ull, 4294967297ull, 3, 1}, {7, 0, 9, 9}};
    inv.score.cpu_integer = {{2, 9223372036854775809ull}};   // 2^64 + 2 -> 2
    inv.score.cpu_float = {{18446744073709551615ull, 2}};     // 2^64 + 1 -> 1
    EXPECT_EQ(buildSignatureText(inv, kAbc, sizeof kAbc),
              "3" "00000" "18446744073709551614" "0" "0" "0"
              "2" "1" "12884901888" "0" "YWJj");
}

TEST(ResultDocument, SerialisesExactly) {
    const std::string text = buildResultDocument(awkwardExample(), kAbc, sizeof kAbc).dump();
    // The uuid is the MD5 of the signature text computed outside this program (md5sum).
    const std::string expected =
        R"json({"computer_system":{"form_factor":-1,"manufacturer":"Ünïcødé €","model":"Model \"X\"",)json"
        R"json("total_physical_memory":17179869184},"gl_gpu":{"renderer":"R","vendor":"V"},)json"
        R"json("processor":{"clock_speed":3600,"core_count":8,"l2_cache":4096,"l3_cache":16384,)json"
        R"json("manufacturer":"GenuineIntel","name":"Core\ti7","socket":"LGA\u0001","thread_count":16},)json"
        R"json("resolution":{"height":1080,"width":1920},)json"
        R"json("score":{"cpu_float":[{"score":50,"thread_count":2}],"cpu_integer":[{"score":100,"thread_count":1}],)json"
        R"json("gpu":[{"average":60,"id":1,"one_percent":40,"ten_percent":50}]},)json"
        R"json("uuid":"0454a386fa475d301117a14ed7977c4d","version":3,)json"
        R"json("video_controllers":[{"description":"Desc\\","driver_version":"31.0","name":"GPU",)json"
        R"json("pnp_device_id":"PCI\\VEN_10DE"}],"windows_uuid":"U-1","windows_version":"Win 11"})json";
    EXPECT_EQ(text, expected);
}

TEST(ResultDocument, EmptyInventoryKeepsEveryMember) {
    const json doc = buildResultDocument(SystemInventory{}, digestSalt, digestSaltSize);
    std::vector<std::string> keys;
    for (const auto& item : doc.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"computer_system", "gl_gpu", "processor", "resolution",
                                              "score", "uuid", "version", "video_controllers",
                                              "windows_uuid", "windows_version"}));
    const std::string text = doc.dump();
    EXPECT_NE(text.find(R"("video_controllers":[])"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("score":{"cpu_float":[],"cpu_integer":[],"gpu":[]})"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("processor":{"clock_speed":0,"core_count":0,"l2_cache":0,"l3_cache":0,)"
                        R"("manufacturer":"","name":"","socket":"","thread_count":0})"),
              std::string::npos) << text;
    EXPECT_TRUE(doc.at("version").is_number_unsigned());
    EXPECT_TRUE(doc.at("resolution").at("width").is_number_integer());
    EXPECT_FALSE(doc.at("resolution").at("width").is_number_unsigned());
    EXPECT_FALSE(doc.at("computer_system").at("form_factor").is_number_unsigned());
    EXPECT_TRUE(doc.at("processor").at("clock_speed").is_number_unsigned());
}

TEST(ResultDocument, UuidIsTheDigest) {
    const SystemInventory inv = workedExample();
    const json doc = buildResultDocument(inv, digestSalt, digestSaltSize);
    const std::string uuid = doc.at("uuid").get<std::string>();
    EXPECT_EQ(uuid, digestOf(inv));
    ASSERT_EQ(uuid.size(), 32u);
    EXPECT_EQ(uuid.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(ResultDigest, ChangesWithEveryItem) {
    using Change = std::function<void(SystemInventory&)>;
    SystemInventory base = workedExample();
    base.video_controllers.push_back({"G2", "H2", "2.0", "PCI2"});
    base.score.cpu_integer.push_back({2, 300});
    base.score.cpu_float.push_back({2, 70});
    base.score.gpu.push_back({2, 30, 20, 10});
    const std::vector<std::pair<const char*, Change>> changes = {
        {"windows_uuid", [](auto& i) { i.windows_uuid = "A2"; }},
        {"windows_version", [](auto& i) { i.windows_version = "Wim"; }},
        {"processor manufacturer", [](auto& i) { i.processor.manufacturer = "m"; }},
        {"processor name", [](auto& i) { i.processor.name = "N "; }},
        {"clock_speed", [](auto& i) { i.processor.clock_speed = 3601; }},
        {"core_count", [](auto& i) { i.processor.core_count = 9; }},
        {"thread_count", [](auto& i) { i.processor.thread_count = 17; }},
        {"l2_cache", [](auto& i) { i.processor.l2_cache = 4097; }},
        {"l3_cache", [](auto& i) { i.processor.l3_cache = 16385; }},
        {"socket", [](auto& i) { i.processor.socket = "T"; }},
        {"computer manufacturer", [](auto& i) { i.computer_system.manufacturer = "c"; }},
        {"model", [](auto& i) { i.computer_system.model = "D\""; }},
        {"form_factor", [](auto& i) { i.computer_system.form_factor = 2; }},
        {"negative form_factor", [](auto& i) { i.computer_system.form_factor = -1; }},
        {"memory", [](auto& i) { i.computer_system.total_physical_memory += 1; }},
        {"renderer", [](auto& i) { i.gl_gpu.renderer = "R2"; }},
        {"vendor", [](auto& i) { i.gl_gpu.vendor = "V2"; }},
        {"width", [](auto& i) { i.width = 1921; }},
        {"height", [](auto& i) { i.height = 1081; }},
        {"controller name", [](auto& i) { i.video_controllers[0].name = "g"; }},
        {"controller description", [](auto& i) { i.video_controllers[0].description = "h"; }},
        {"driver_version", [](auto& i) { i.video_controllers[1].driver_version = "2.1"; }},
        {"pnp_device_id", [](auto& i) { i.video_controllers[1].pnp_device_id = "PCI3"; }},
        {"controller order", [](auto& i) { std::swap(i.video_controllers[0], i.video_controllers[1]); }},
        {"no controllers", [](auto& i) { i.video_controllers.clear(); }},
        {"cpu_integer score", [](auto& i) { i.score.cpu_integer[0].score = 101; }},
        {"cpu_integer order", [](auto& i) { std::swap(i.score.cpu_integer[0], i.score.cpu_integer[1]); }},
        {"cpu_float thread_count", [](auto& i) { i.score.cpu_float[0].thread_count = 2; }},
        {"cpu_float order", [](auto& i) { std::swap(i.score.cpu_float[0], i.score.cpu_float[1]); }},
        {"gpu one_percent", [](auto& i) { i.score.gpu[0].one_percent = 41; }},
        {"gpu order", [](auto& i) { std::swap(i.score.gpu[0], i.score.gpu[1]); }},
    };
    std::set<std::string> digests = {digestOf(base)};
    for (const auto& [what, change] : changes) {
        SystemInventory changed = base;
        change(changed);
        EXPECT_TRUE(digests.insert(digestOf(changed)).second) << what;
    }
    // The salt is part of the digest too.
    EXPECT_NE(computeResultDigest(base, kAbc, sizeof kAbc), digestOf(base));
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Mesa llvmpipe", "Mesa llvmpipe"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},  // é € 😀
        {"a\xFF" "b", "a" + r + "b"},
        {"\xC0\x80", r + r},                      // overlong NUL
        {"\xE0\x80\xAF", r + r + r},              // overlong solidus
        {"\xED\xA0\x80", r + r + r},              // surrogate half
        {"\xF4\x90\x80\x80", r + r + r + r},      // past U+10FFFF
        {"x\xE2\x82", "x" + r + r},               // cut short at the end
        {"\xE2\x82" "A", r + r + "A"},            // cut short by an ASCII byte
        {"\x80\xC3\xA9", r + "\xC3\xA9"},         // stray continuation byte
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(sanitizeUtf8(input), expected) << json(expected).dump();
    }
}

TEST(ResultDocument, InvalidUtf8InGlStringsIsReplacedInDocumentAndSignature) {
    SystemInventory raw = workedExample();
    raw.gl_gpu.renderer = "llvmpipe \xFF(LLVM\xC3";
    raw.gl_gpu.vendor = "\xE9tude";  // Latin-1, not UTF-8
    SystemInventory clean = raw;
    clean.gl_gpu.renderer = "llvmpipe \xEF\xBF\xBD(LLVM\xEF\xBF\xBD";
    clean.gl_gpu.vendor = "\xEF\xBF\xBDtude";

    const json doc = buildResultDocument(raw, digestSalt, digestSaltSize);
    std::string text;
    ASSERT_NO_THROW(text = doc.dump());
    EXPECT_NE(text.find("\"renderer\":\"llvmpipe \xEF\xBF\xBD(LLVM\xEF\xBF\xBD\""), std::string::npos);
    EXPECT_EQ(buildSignatureText(raw, digestSalt, digestSaltSize),
              buildSignatureText(clean, digestSalt, digestSaltSize));
    EXPECT_EQ(doc.at("uuid"), digestOf(clean));

    // What the service reads back from the text re-computes to the same digest.
    const auto parsed = parseResultDocument(json::parse(text), nullptr);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->inventory, clean);
    EXPECT_EQ(digestOf(parsed->inventory), parsed->uuid);
}

TEST(ParseResultDocument, RoundTripsThroughText) {
    SystemInventory extremes = awkwardExample();
    extremes.computer_system.form_factor = INT32_MIN;
    extremes.width = INT32_MAX;
    extremes.height = -5;
    extremes.processor.l3_cache = UINT32_MAX;
    extremes.computer_system.total_physical_memory = UINT64_MAX;
    extremes.score.gpu.push_back({UINT64_MAX, 0, 1, 2});
    for (const SystemInventory& inv : {workedExample(), awkwardExample(), SystemInventory{}, extremes}) {
        const json doc = buildResultDocument(inv, digestSalt, digestSaltSize);
        for (const json& candidate : {doc, json::parse(doc.dump())}) {
            std::string why;
            const auto parsed = parseResultDocument(candidate, &why);
            ASSERT_TRUE(parsed) << why;
            EXPECT_EQ(parsed->inventory, inv);
            EXPECT_EQ(parsed->uuid, doc.at("uuid").get<std::string>());
            EXPECT_EQ(digestOf(parsed->inventory), parsed->uuid);
        }
    }
}

TEST(ParseResultDocument, RejectsWrongShapes) {
    const json good = json::parse(buildResultDocument(workedExample(), digestSalt, digestSaltSize).dump());
    using Edit = std::function<void(json&)>;
    const std::vector<std::pair<const char*, Edit>> cases = {
        {"not an object", [](json& d) { d = json::array(); }},
        {"missing member", [](json& d) { d.erase("gl_gpu"); }},
        {"extra member", [](json& d) { d["extra"] = 1; }},
        {"extra nested member", [](json& d) { d["resolution"]["depth"] = 24; }},
        {"missing nested member", [](json& d) { d["processor"].erase("socket"); }},
        {"extra member in a list element", [](json& d) { d["score"]["gpu"][0]["x"] = 0; }},
        {"string for a number", [](json& d) { d["processor"]["clock_speed"] = "3600"; }},
        {"number for a string", [](json& d) { d["windows_version"] = 10; }},
        {"null string", [](json& d) { d["gl_gpu"]["vendor"] = nullptr; }},
        {"boolean for a number", [](json& d) { d["score"]["cpu_integer"][0]["score"] = true; }},
        {"float for a number", [](json& d) { d["score"]["gpu"][0]["average"] = 60.0; }},
        {"negative unsigned", [](json& d) { d["score"]["cpu_float"][0]["score"] = -1; }},
        {"32-bit field too large", [](json& d) { d["processor"]["l2_cache"] = 4294967296ull; }},
        {"signed field too large", [](json& d) { d["resolution"]["width"] = 2147483648ull; }},
        {"signed field too small", [](json& d) { d["computer_system"]["form_factor"] = -2147483649ll; }},
        {"list is an object", [](json& d) { d["video_controllers"] = json::object(); }},
        {"list element not an object", [](json& d) { d["score"]["cpu_integer"][0] = 5; }},
        {"wrong version", [](json& d) { d["version"] = 2; }},
        {"version as text", [](json& d) { d["version"] = "3"; }},
        {"upper-case uuid", [](json& d) { d["uuid"] = "0454A386FA475D301117A14ED7977C4D"; }},
        {"short uuid", [](json& d) { d["uuid"] = "0454a386fa475d301117a14ed7977c4"; }},
        {"invalid UTF-8", [](json& d) { d["video_controllers"][0]["name"] = "G\xFF"; }},
    };
    for (const auto& [what, edit] : cases) {
        json doc = good;
        edit(doc);
        std::string why;
        EXPECT_FALSE(parseResultDocument(doc, &why)) << what;
        EXPECT_FALSE(why.empty()) << what;
    }
    std::string why;
    EXPECT_TRUE(parseResultDocument(good, &why)) << why;
    EXPECT_TRUE(why.empty());
}

TEST(ParseResultDocument, NamesTheFault) {
    json doc = json::parse(buildResultDocument(workedExample(), digestSalt, digestSaltSize).dump());
    doc["processor"]["l2_cache"] = -4;
    std::string why;
    EXPECT_FALSE(parseResultDocument(doc, &why));
    EXPECT_EQ(why, "The member \"processor.l2_cache\" must be an unsigned 32-bit integer.");
}
