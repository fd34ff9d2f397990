#include "tests/server/hostile_submissions.h"

#include <cctype>

#include "core/document.h"
#include "tests/server/service_testkit.h"

namespace testkit {

namespace {

using nlohmann::json;

std::string resign(json doc, const SystemInventory& inventory) {
    doc["uuid"] = computeResultDigest(inventory, salt().data(), salt().size());
    return doc.dump();
}

json baseDocument() { return buildResultDocument(sampleInventory(), salt().data(), salt().size()); }

// Every member of the document as a JSON pointer; for arrays, the members of element 0.
void collectMembers(const json& value, const json::json_pointer& at, std::vector<json::json_pointer>& out) {
    if (value.is_object()) {
        for (const auto& item : value.items()) {
            out.push_back(at / item.key());
            collectMembers(item.value(), at / item.key(), out);
        }
    } else if (value.is_array() && !value.empty()) {
        collectMembers(value[0], at / 0, out);
    }
}

json wrongTypeFor(const json& value) {
    if (value.is_string()) return 12345u;
    if (value.is_number()) return "12";
    if (value.is_object()) return json::array();
    return json::object();
}

}  // namespace

std::vector<HostileSubmission> hostileSubmissions() {
    std::vector<HostileSubmission> cases;
    const json base = baseDocument();
    const SystemInventory inv = sampleInventory();

    cases.push_back({"too large", base.dump() + std::string(70 * 1024, ' '), "application/json", 413,
                     refusal::kTooLarge});
    cases.push_back({"plain text", base.dump(), "text/plain", 415, refusal::kWrongContentType});
    cases.push_back({"form", base.dump(), "application/x-www-form-urlencoded", 415, refusal::kWrongContentType});
    cases.push_back({"not JSON", "{\"version\": 3,", "application/json", 400, refusal::kNotJson});
    cases.push_back({"empty", "", "application/json", 400, refusal::kNotJson});
    cases.push_back({"JSON but not an object", "[1,2,3]"});

    std::vector<json::json_pointer> members;
    collectMembers(base, json::json_pointer(), members);
    for (const auto& at : members) {
        json missing = base;
        missing[at.parent_pointer()].erase(at.back());
        if (missing[at.parent_pointer()].is_array()) continue;  // element 0 itself: not a member
        cases.push_back({"missing " + at.to_string(), missing.dump()});
        json wrong = base;
        wrong[at] = wrongTypeFor(base[at]);
        cases.push_back({"wrong type " + at.to_string(), wrong.dump()});
    }

    json extra = base;
    extra["comment"] = "hello";
    cases.push_back({"extra top-level member", extra.dump()});
    json extraNested = base;
    extraNested["processor"]["overclocked"] = true;
    cases.push_back({"extra nested member", extraNested.dump()});

    json version = base;
    version["version"] = 2u;
    cases.push_back({"version 2", resign(version, inv)});
    json negative = base;
    negative["processor"]["clock_speed"] = -1;
    cases.push_back({"negative unsigned", negative.dump()});
    json fraction = base;
    fraction["resolution"]["width"] = 1920.5;
    cases.push_back({"fraction", fraction.dump()});
    json tooWide = base;
    tooWide["processor"]["l2_cache"] = 4294967296u;
    cases.push_back({"over 32 bits", tooWide.dump()});

    {
        SystemInventory longer = inv;
        longer.score.cpu_integer.push_back({96, 1000});
        cases.push_back({"12 integer results", testkit::signedDocument(longer)});
        SystemInventory moreScenes = inv;
        moreScenes.score.gpu.push_back({5, 100, 90, 80});
        cases.push_back({"5 scenes", testkit::signedDocument(moreScenes)});
        SystemInventory manyGpus = inv;
        manyGpus.video_controllers.resize(17, inv.video_controllers[0]);
        cases.push_back({"17 video controllers", testkit::signedDocument(manyGpus)});
        SystemInventory longName = inv;
        longName.processor.name = std::string(513, 'x');
        cases.push_back({"513-byte string", testkit::signedDocument(longName)});
    }

    std::string badUtf8 = base.dump();
    badUtf8.replace(badUtf8.find("ASUS"), 4, "AS\xC3\x28");
    cases.push_back({"invalid UTF-8", badUtf8, "application/json", 400, refusal::kNotJson});
    std::string surrogate = base.dump();
    surrogate.replace(surrogate.find("ASUS"), 4, "\\ud800");
    cases.push_back({"lone surrogate", surrogate, "application/json", 400, refusal::kNotJson});

    json upper = base;
    std::string digest = base["uuid"];
    for (char& c : digest) c = char(std::toupper(static_cast<unsigned char>(c)));
    upper["uuid"] = digest;
    cases.push_back({"upper-case digest", upper.dump()});

    json offByOne = base;
    std::string uuid = base["uuid"];
    uuid.back() = uuid.back() == '0' ? '1' : '0';
    offByOne["uuid"] = uuid;
    cases.push_back({"digest off by one character", offByOne.dump(), "application/json", 400, refusal::kNotVerified});
    json changed = base;
    changed["score"]["gpu"][0]["average"] = 9999u;
    cases.push_back({"score changed after signing", changed.dump(), "application/json", 400, refusal::kNotVerified});
    return cases;
}

}  // namespace testkit
