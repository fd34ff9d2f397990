#include "core/document.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <limits>

#include "core/crypto.h"
#include "core/text.h"

using nlohmann::json;

namespace {

template <typename Record>
json arrayOf(const std::vector<Record>& records) {
    json array = json::array();  // an empty list must still be an array, never null
    for (const Record& record : records) array.push_back(toJson(record));
    return array;
}

// Every text of the inventory made safe for the strict serialiser. The document and the
// signature text are both built from this copy, so they always carry the same strings.
SystemInventory sanitized(const SystemInventory& inventory) {
    SystemInventory clean = inventory;
    for (std::string* text :
         {&clean.windows_uuid, &clean.windows_version, &clean.computer_system.manufacturer,
          &clean.computer_system.model, &clean.processor.manufacturer, &clean.processor.name,
          &clean.processor.socket, &clean.gl_gpu.vendor, &clean.gl_gpu.renderer}) {
        *text = sanitizeUtf8(*text);
    }
    for (VideoControllerInfo& controller : clean.video_controllers) {
        for (std::string* text : {&controller.name, &controller.description,
                                  &controller.driver_version, &controller.pnp_device_id}) {
            *text = sanitizeUtf8(*text);
        }
    }
    return clean;
}

template <typename Integer>
void appendDecimal(std::string& out, Integer value) {
    // to_chars is locale-independent: plain digits, no grouping.
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

std::string signatureTextOf(const SystemInventory& inv, const unsigned char* salt,
                            std::size_t saltSize) {
    std::string text;
    appendDecimal(text, kDocumentVersion);
    text += inv.windows_uuid;
    text += inv.windows_version;
    text += inv.processor.manufacturer;
    text += inv.processor.name;
    appendDecimal(text, inv.processor.clock_speed);
    appendDecimal(text, inv.processor.core_count);
    appendDecimal(text, inv.processor.thread_count);
    appendDecimal(text, inv.processor.l2_cache);
    appendDecimal(text, inv.processor.l3_cache);
    text += inv.processor.socket;
    text += inv.computer_system.manufacturer;
    text += inv.computer_system.model;
    // A negative form factor is sign-extended and printed as its unsigned 64-bit pattern.
    appendDecimal(text, static_cast<std::uint64_t>(
                            static_cast<std::int64_t>(inv.computer_system.form_factor)));
    appendDecimal(text, inv.computer_system.total_physical_memory);
    text += inv.gl_gpu.renderer;
    text += inv.gl_gpu.vendor;
    appendDecimal(text, inv.width);
    appendDecimal(text, inv.height);
    for (const VideoControllerInfo& c : inv.video_controllers) {
        text += c.name;
        text += c.description;
        text += c.driver_version;
        text += c.pnp_device_id;
    }
    // Unsigned 64-bit arithmetic wraps modulo 2^64, which is what the digest expects.
    for (const CpuTestResult& r : inv.score.cpu_integer) appendDecimal(text, r.thread_count * r.score);
    for (const CpuTestResult& r : inv.score.cpu_float) appendDecimal(text, r.thread_count + r.score);
    for (const GpuTestResult& r : inv.score.gpu) {
        appendDecimal(text, r.id * r.average * r.ten_percent * r.one_percent);
    }
    text += base64Encode(salt, saltSize);
    return text;
}

std::string digestOf(const SystemInventory& cleanInventory, const unsigned char* salt,
                     std::size_t saltSize) {
    const auto digest = md5(signatureTextOf(cleanInventory, salt, saltSize));
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (unsigned char b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0x0F];
    }
    return hex;
}

// ---- Parsing -----------------------------------------------------------------------

// Reads one document; the first fault found is kept as a sentence for the submitter.
class Reader {
public:
    explicit Reader(std::string* whyNot) : whyNot_(whyNot) {}

    bool failed() const { return failed_; }

    // The value must be an object with exactly these members.
    bool object(const json& value, const std::string& where,
                std::initializer_list<const char*> keys) {
        if (failed_) return false;
        if (!value.is_object()) return fail(describe(where) + " must be an object.");
        for (const char* key : keys) {
            if (!value.contains(key)) {
                return fail(describe(where) + " lacks the member \"" + key + "\".");
            }
        }
        if (value.size() != keys.size()) {
            for (const auto& item : value.items()) {
                bool known = false;
                for (const char* key : keys) known = known || item.key() == key;
                if (!known) {
                    return fail(describe(where) + " has the unexpected member \"" +
                                printable(item.key()) + "\".");
                }
            }
        }
        return true;
    }

    const json& array(const json& value, const std::string& where) {
        if (!failed_ && !value.is_array()) fail(describe(where) + " must be an array.");
        return value;
    }

    std::string string(const json& parent, const char* key, const std::string& where) {
        if (failed_) return {};
        const json& value = parent.at(key);
        const std::string path = join(where, key);
        if (!value.is_string()) {
            fail(describe(path) + " must be a string.");
            return {};
        }
        const auto& text = value.get_ref<const std::string&>();
        if (!isValidUtf8(text)) {
            fail(describe(path) + " is not valid UTF-8.");
            return {};
        }
        return text;
    }

    template <typename Unsigned>
    Unsigned unsignedNumber(const json& parent, const char* key, const std::string& where) {
        if (failed_) return 0;
        const json& value = parent.at(key);
        if (!value.is_number_unsigned() ||
            value.get<std::uint64_t>() > std::numeric_limits<Unsigned>::max()) {
            fail(describe(join(where, key)) + " must be an unsigned " +
                 std::to_string(8 * sizeof(Unsigned)) + "-bit integer.");
            return 0;
        }
        return static_cast<Unsigned>(value.get<std::uint64_t>());
    }

    // Signed members arrive from parsed text as the unsigned kind when non-negative, so
    // either integer kind is accepted as long as the value fits.
    std::int32_t signed32(const json& parent, const char* key, const std::string& where) {
        if (failed_) return 0;
        const json& value = parent.at(key);
        constexpr auto lo = std::numeric_limits<std::int32_t>::min();
        constexpr auto hi = std::numeric_limits<std::int32_t>::max();
        if (value.is_number_unsigned() && value.get<std::uint64_t>() <= std::uint64_t{hi}) {
            return static_cast<std::int32_t>(value.get<std::uint64_t>());
        }
        if (value.is_number_integer() && !value.is_number_unsigned()) {
            const std::int64_t v = value.get<std::int64_t>();
            if (v >= lo && v <= hi) return static_cast<std::int32_t>(v);
        }
        fail(describe(join(where, key)) + " must be a signed 32-bit integer.");
        return 0;
    }

    bool fail(std::string sentence) {
        if (!failed_) {
            failed_ = true;
            if (whyNot_) *whyNot_ = std::move(sentence);
        }
        return false;
    }

    static std::string join(const std::string& where, const std::string& key) {
        return where.empty() ? key : where + "." + key;
    }

private:
    static std::string describe(const std::string& where) {
        return where.empty() ? "The document" : "The member \"" + where + "\"";
    }

    // Unknown keys are echoed back; keep them short and free of control characters.
    static std::string printable(const std::string& key) {
        std::string out;
        for (unsigned char c : key.substr(0, 40)) out += (c < 0x20 || c == 0x7F) ? '?' : char(c);
        if (key.size() > 40) out += "...";
        return out;
    }

    std::string* whyNot_;
    bool failed_ = false;
};

}  // namespace

json toJson(const CpuTestResult& result) {
    return json{{"thread_count", result.thread_count}, {"score", result.score}};
}

json toJson(const GpuTestResult& result) {
    return json{{"id", result.id},
                {"average", result.average},
                {"ten_percent", result.ten_percent},
                {"one_percent", result.one_percent}};
}

json toJson(const StageResults& results) {
    return json{{"cpu_integer", arrayOf(results.cpu_integer)},
                {"cpu_float", arrayOf(results.cpu_float)},
                {"gpu", arrayOf(results.gpu)}};
}

json toJson(const ProcessorInfo& processor) {
    return json{{"manufacturer", processor.manufacturer},
                {"name", processor.name},
                {"socket", processor.socket},
                {"clock_speed", processor.clock_speed},
                {"core_count", processor.core_count},
                {"thread_count", processor.thread_count},
                {"l2_cache", processor.l2_cache},
                {"l3_cache", processor.l3_cache}};
}

json toJson(const ComputerSystemInfo& computerSystem) {
    return json{{"form_factor", computerSystem.form_factor},
                {"total_physical_memory", computerSystem.total_physical_memory},
                {"manufacturer", computerSystem.manufacturer},
                {"model", computerSystem.model}};
}

json toJson(const VideoControllerInfo& controller) {
    return json{{"name", controller.name},
                {"description", controller.description},
                {"driver_version", controller.driver_version},
                {"pnp_device_id", controller.pnp_device_id}};
}

json toJson(const GlGpuInfo& glGpu) {
    return json{{"vendor", glGpu.vendor}, {"renderer", glGpu.renderer}};
}

json toJson(std::int32_t width, std::int32_t height) {
    return json{{"width", width}, {"height", height}};
}

json toJson(const SystemInventory& inv) {
    return json{{"windows_uuid", inv.windows_uuid},
                {"windows_version", inv.windows_version},
                {"computer_system", toJson(inv.computer_system)},
                {"processor", toJson(inv.processor)},
                {"video_controllers", arrayOf(inv.video_controllers)},
                {"gl_gpu", toJson(inv.gl_gpu)},
                {"resolution", toJson(inv.width, inv.height)},
                {"score", toJson(inv.score)}};
}

std::string buildSignatureText(const SystemInventory& inventory, const unsigned char* salt,
                               std::size_t saltSize) {
    return signatureTextOf(sanitized(inventory), salt, saltSize);
}

std::string computeResultDigest(const SystemInventory& inventory, const unsigned char* salt,
                                std::size_t saltSize) {
    return digestOf(sanitized(inventory), salt, saltSize);
}

json buildResultDocument(const SystemInventory& inventory, const unsigned char* salt,
                         std::size_t saltSize) {
    const SystemInventory inv = sanitized(inventory);
    json document = toJson(inv);
    document["version"] = kDocumentVersion;
    document["uuid"] = digestOf(inv, salt, saltSize);
    return document;
}

std::optional<ParsedDocument> parseResultDocument(const json& document, std::string* whyNot) {
    Reader r(whyNot);
    ParsedDocument parsed;
    SystemInventory& inv = parsed.inventory;

    if (!r.object(document, "",
                  {"computer_system", "gl_gpu", "processor", "resolution", "score", "uuid",
                   "version", "video_controllers", "windows_uuid", "windows_version"})) {
        return std::nullopt;
    }

    if (r.unsignedNumber<std::uint64_t>(document, "version", "") != kDocumentVersion &&
        !r.failed()) {
        r.fail("The document version must be " + std::to_string(kDocumentVersion) + ".");
    }

    parsed.uuid = r.string(document, "uuid", "");
    if (!r.failed()) {
        bool hex = parsed.uuid.size() == 32;
        for (char c : parsed.uuid) hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        if (!hex) r.fail("The member \"uuid\" must be 32 lowercase hexadecimal digits.");
    }

    inv.windows_uuid = r.string(document, "windows_uuid", "");
    inv.windows_version = r.string(document, "windows_version", "");

    const json& cs = document.at("computer_system");
    if (r.object(cs, "computer_system", {"form_factor", "manufacturer", "model", "total_physical_memory"})) {
        inv.computer_system.form_factor = r.signed32(cs, "form_factor", "computer_system");
        inv.computer_system.total_physical_memory =
            r.unsignedNumber<std::uint64_t>(cs, "total_physical_memory", "computer_system");
        inv.computer_system.manufacturer = r.string(cs, "manufacturer", "computer_system");
        inv.computer_system.model = r.string(cs, "model", "computer_system");
    }

    const json& p = document.at("processor");
    if (r.object(p, "processor", {"clock_speed", "core_count", "l2_cache", "l3_cache",
                                  "manufacturer", "name", "socket", "thread_count"})) {
        inv.processor.manufacturer = r.string(p, "manufacturer", "processor");
        inv.processor.name = r.string(p, "name", "processor");
        inv.processor.socket = r.string(p, "socket", "processor");
        inv.processor.clock_speed = r.unsignedNumber<std::uint32_t>(p, "clock_speed", "processor");
        inv.processor.core_count = r.unsignedNumber<std::uint32_t>(p, "core_count", "processor");
        inv.processor.thread_count = r.unsignedNumber<std::uint32_t>(p, "thread_count", "processor");
        inv.processor.l2_cache = r.unsignedNumber<std::uint32_t>(p, "l2_cache", "processor");
        inv.processor.l3_cache = r.unsignedNumber<std::uint32_t>(p, "l3_cache", "processor");
    }

    const json& controllers = r.array(document.at("video_controllers"), "video_controllers");
    for (std::size_t i = 0; !r.failed() && i < controllers.size(); ++i) {
        const std::string where = "video_controllers[" + std::to_string(i) + "]";
        const json& c = controllers[i];
        if (!r.object(c, where, {"description", "driver_version", "name", "pnp_device_id"})) break;
        VideoControllerInfo info;
        info.name = r.string(c, "name", where);
        info.description = r.string(c, "description", where);
        info.driver_version = r.string(c, "driver_version", where);
        info.pnp_device_id = r.string(c, "pnp_device_id", where);
        inv.video_controllers.push_back(std::move(info));
    }

    const json& gl = document.at("gl_gpu");
    if (r.object(gl, "gl_gpu", {"renderer", "vendor"})) {
        inv.gl_gpu.vendor = r.string(gl, "vendor", "gl_gpu");
        inv.gl_gpu.renderer = r.string(gl, "renderer", "gl_gpu");
    }

    const json& res = document.at("resolution");
    if (r.object(res, "resolution", {"height", "width"})) {
        inv.width = r.signed32(res, "width", "resolution");
        inv.height = r.signed32(res, "height", "resolution");
    }

    const json& score = document.at("score");
    if (r.object(score, "score", {"cpu_float", "cpu_integer", "gpu"})) {
        for (const char* list : {"cpu_integer", "cpu_float"}) {
            const std::string listWhere = Reader::join("score", list);
            const json& items = r.array(score.at(list), listWhere);
            auto& target = list == std::string_view("cpu_integer") ? inv.score.cpu_integer
                                                                   : inv.score.cpu_float;
            for (std::size_t i = 0; !r.failed() && i < items.size(); ++i) {
                const std::string where = listWhere + "[" + std::to_string(i) + "]";
                if (!r.object(items[i], where, {"score", "thread_count"})) break;
                CpuTestResult result;
                result.thread_count = r.unsignedNumber<std::uint64_t>(items[i], "thread_count", where);
                result.score = r.unsignedNumber<std::uint64_t>(items[i], "score", where);
                target.push_back(result);
            }
        }
        const json& gpu = r.array(score.at("gpu"), "score.gpu");
        for (std::size_t i = 0; !r.failed() && i < gpu.size(); ++i) {
            const std::string where = "score.gpu[" + std::to_string(i) + "]";
            if (!r.object(gpu[i], where, {"average", "id", "one_percent", "ten_percent"})) break;
            GpuTestResult result;
            result.id = r.unsignedNumber<std::uint64_t>(gpu[i], "id", where);
            result.average = r.unsignedNumber<std::uint64_t>(gpu[i], "average", where);
            result.ten_percent = r.unsignedNumber<std::uint64_t>(gpu[i], "ten_percent", where);
            result.one_percent = r.unsignedNumber<std::uint64_t>(gpu[i], "one_percent", where);
            inv.score.gpu.push_back(result);
        }
    }

    if (r.failed()) return std::nullopt;
    return parsed;
}
