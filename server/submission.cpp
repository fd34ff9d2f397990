#include "server/submission.h"

#include <algorithm>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "core/text.h"

using nlohmann::json;

namespace {

// The database columns are signed 64-bit; anything larger ranks as the largest.
std::int64_t clamp64(std::uint64_t value) {
    return value > std::uint64_t(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : std::int64_t(value);
}

void cpuFigures(const std::vector<CpuTestResult>& results, std::optional<std::int64_t>& single,
                std::optional<std::int64_t>& best) {
    for (const CpuTestResult& r : results) {
        if (r.thread_count == 1 && !single) single = clamp64(r.score);
        if (!best || clamp64(r.score) > *best) best = clamp64(r.score);
    }
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// HTTP's optional white space around header values and parameters.
constexpr std::string_view kHttpSpace = " \t";

SubmissionCheck refuse(int status, const char* sentence, std::string detail) {
    SubmissionCheck check;
    check.status = status;
    check.sentence = sentence;
    check.detail = std::move(detail);
    return check;
}

// Every string of the inventory, for the length limit.
std::vector<const std::string*> stringsOf(const SystemInventory& inv) {
    std::vector<const std::string*> all = {
        &inv.windows_uuid,           &inv.windows_version,       &inv.computer_system.manufacturer,
        &inv.computer_system.model,  &inv.processor.manufacturer, &inv.processor.name,
        &inv.processor.socket,       &inv.gl_gpu.vendor,          &inv.gl_gpu.renderer};
    for (const VideoControllerInfo& c : inv.video_controllers) {
        all.insert(all.end(), {&c.name, &c.description, &c.driver_version, &c.pnp_device_id});
    }
    return all;
}

}  // namespace

RankFigures rankFiguresOf(const StageResults& score) {
    RankFigures figures;
    cpuFigures(score.cpu_integer, figures.values[kIntegerSingle], figures.values[kIntegerBest]);
    cpuFigures(score.cpu_float, figures.values[kFloatSingle], figures.values[kFloatBest]);
    for (const GpuTestResult& r : score.gpu) {
        if (sceneById(r.id) && !figures.values[sceneAverageFigure(r.id)]) {
            figures.values[sceneAverageFigure(r.id)] = clamp64(r.average);
        }
    }
    return figures;
}

bool isJsonContentType(std::string_view contentType) {
    const auto semicolon = contentType.find(';');
    if (lower(trim(contentType.substr(0, semicolon), kHttpSpace)) != "application/json") return false;
    // The only parameter that matters is the charset, and JSON is UTF-8.
    std::string_view rest =
        semicolon == std::string_view::npos ? std::string_view() : contentType.substr(semicolon + 1);
    while (!rest.empty()) {
        const auto next = rest.find(';');
        const std::string_view param = trim(rest.substr(0, next), kHttpSpace);
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        const auto eq = param.find('=');
        if (eq == std::string_view::npos) continue;
        if (lower(trim(param.substr(0, eq), kHttpSpace)) != "charset") continue;
        std::string_view value = trim(param.substr(eq + 1), kHttpSpace);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        const std::string charset = lower(value);
        if (charset != "utf-8" && charset != "utf8") return false;
    }
    return true;
}

SubmissionCheck checkSubmission(std::string_view contentType, std::string_view body,
                                const std::vector<unsigned char>& salt) {
    if (body.size() > kMaxBodyBytes) {
        return refuse(413, refusal::kTooLarge, std::to_string(body.size()) + " bytes");
    }
    if (!isJsonContentType(contentType)) {
        return refuse(415, refusal::kWrongContentType,
                      "content type '" + std::string(contentType.substr(0, 80)) + "'");
    }

    // nlohmann keeps the last of repeated keys silently; a document whose members could
    // be read two ways is refused instead.
    bool duplicateKey = false;
    std::vector<std::set<std::string>> openObjects;
    const json::parser_callback_t watchKeys = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start: openObjects.emplace_back(); break;
            case json::parse_event_t::object_end:
                if (!openObjects.empty()) openObjects.pop_back();
                break;
            case json::parse_event_t::key:
                if (!openObjects.empty() &&
                    !openObjects.back().insert(parsed.get_ref<const std::string&>()).second) {
                    duplicateKey = true;
                }
                break;
            default: break;
        }
        return true;
    };
    // The lexer refuses ill-formed UTF-8 and lone surrogate escapes, so every string
    // that gets through is valid UTF-8.
    const json document = json::parse(body.begin(), body.end(), watchKeys, false);
    if (document.is_discarded()) return refuse(400, refusal::kNotJson, "not valid JSON");
    if (duplicateKey) return refuse(400, refusal::kWrongShape, "a member appears twice");

    std::string whyNot;
    std::optional<ParsedDocument> parsed = parseResultDocument(document, &whyNot);
    if (!parsed) return refuse(400, refusal::kWrongShape, whyNot);
    SystemInventory& inv = parsed->inventory;

    if (inv.score.cpu_integer.size() > kMaxCpuResults || inv.score.cpu_float.size() > kMaxCpuResults ||
        inv.score.gpu.size() > kMaxGpuResults || inv.video_controllers.size() > kMaxVideoControllers) {
        return refuse(400, refusal::kWrongShape, "a list is longer than a run produces");
    }
    for (const std::string* text : stringsOf(inv)) {
        if (text->size() > kMaxStringBytes) {
            return refuse(400, refusal::kWrongShape,
                          "a string is longer than " + std::to_string(kMaxStringBytes) + " bytes");
        }
    }

    if (computeResultDigest(inv, salt.data(), salt.size()) != parsed->uuid) {
        return refuse(400, refusal::kNotVerified, "digest mismatch");
    }

    // The digest binds only the product of thread count and score (integer) and their sum
    // (floating point), and the product of a scene's four numbers. Pinning thread counts
    // and scene numbers to what a run produces stops a verified result from being
    // rearranged into a different one, such as a 64-thread score posing as one thread's.
    for (const auto* list : {&inv.score.cpu_integer, &inv.score.cpu_float}) {
        for (std::size_t i = 0; i < list->size(); ++i) {
            if ((*list)[i].thread_count != kThreadCounts[i]) {
                return refuse(400, refusal::kNotVerified, "thread counts out of sequence");
            }
        }
    }
    for (std::size_t i = 0; i < inv.score.gpu.size(); ++i) {
        if (inv.score.gpu[i].id != i + 1) {
            return refuse(400, refusal::kNotVerified, "scene numbers out of sequence");
        }
    }

    SubmissionCheck check;
    check.digest = std::move(parsed->uuid);
    check.figures = rankFiguresOf(inv.score);
    check.inventory = std::move(inv);
    return check;
}
