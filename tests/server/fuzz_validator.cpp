// libFuzzer target for the submission checks and every page that shows what they accept.
// Built and run by tests/server/fuzz.sh, not by the normal build.
//
// Every input goes through checkSubmission. When it is a well-formed document whose only
// fault is its digest, it is signed properly and checked again, so the fuzzer also
// reaches the accepting path, the figures and the HTML rendering with arbitrary text:
// every page kind is rendered from the accepted document and read back by a tokenizer,
// which must find no element or attribute that our page code never writes.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "core/document.h"
#include "server/checks.h"
#include "server/page_browse.h"
#include "server/pages.h"
#include "server/submission.h"
#include "tests/server/html_shape.h"
#include "tests/server/page_kinds.h"

namespace {

const std::vector<unsigned char>& salt() {
    static const std::vector<unsigned char> bytes = [] {
        std::ifstream in(TALLYFORGE_SALT_FILE, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void exerciseAccepted(const SubmissionCheck& check) {
    if (!check.sentence.empty() || check.digest.size() != 32) broken("accepted with a sentence or a bad digest");
    if (check.inventory.score.cpu_integer.size() > kMaxCpuResults) broken("list limit not applied");
    for (const testkit::RenderedPage& page : testkit::renderEveryPageKind(check.inventory, check.inventory.processor.name)) {
        const std::string found = testkit::unexpectedMarkup(page.html);
        if (!found.empty()) {
            std::fprintf(stderr, "%s page: %s\n", page.kind.c_str(), found.c_str());
            broken("a stored text became markup");
        }
    }
}

void writeSeeds(const char* dir) {
    SystemInventory inv;
    inv.windows_uuid = "4C4C4544-0042-3510-8052-B4C04F565032";
    inv.windows_version = "Microsoft Windows 11 Pro";
    inv.processor = {"GenuineIntel", "Intel(R) Core(TM) i7", "LGA1700", 3400, 16, 24, 24576, 30720};
    inv.computer_system = {1, 34359738368ull, "ASUS", "Model"};
    inv.video_controllers = {{"GPU", "GPU", "1.0", "PCI\\VEN_10DE"}};
    inv.gl_gpu = {"Vendor", "Renderer"};
    inv.width = 1920;
    inv.height = 1080;
    for (std::uint64_t t : kThreadCounts) {
        inv.score.cpu_integer.push_back({t, 1000 * t});
        inv.score.cpu_float.push_back({t, 700 * t});
    }
    inv.score.gpu = {{1, 400, 350, 300}, {2, 600, 500, 400}, {3, 250, 200, 150}, {4, 180, 150, 120}};
    std::ofstream(std::string(dir) + "/full.json") << buildResultDocument(inv, salt().data(), salt().size()).dump();
    inv.score = {};
    inv.video_controllers.clear();
    std::ofstream(std::string(dir) + "/empty-run.json") << buildResultDocument(inv, salt().data(), salt().size()).dump();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (salt().size() != 1024) broken("salt file not found");
    if (const char* dir = std::getenv("TALLYFORGE_FUZZ_WRITE_SEEDS")) {
        writeSeeds(dir);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const SubmissionCheck check = checkSubmission("application/json; charset=utf-8", body, salt());
    if (check.status == 0) {
        exerciseAccepted(check);
        return 0;
    }
    if (check.sentence.empty()) broken("refused without a sentence");
    if (check.status != 400 && check.status != 413) broken("unexpected status");
    if (check.sentence != refusal::kNotVerified || check.detail != "digest mismatch") return 0;

    // Well-formed but unsigned: sign it as the client would and check again. Re-parsing
    // the re-signed text must accept it (the document survives a round trip).
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (document.is_discarded()) broken("a refused digest implies a parsed document");
    const auto parsed = parseResultDocument(document);
    if (!parsed) broken("a refused digest implies a document of the right shape");
    document["uuid"] = computeResultDigest(parsed->inventory, salt().data(), salt().size());
    const SubmissionCheck signedCheck = checkSubmission("application/json", document.dump(), salt());
    if (signedCheck.status != 0 && signedCheck.sentence != refusal::kNotVerified) broken("re-signed document refused");
    if (signedCheck.status == 0) exerciseAccepted(signedCheck);
    return 0;
}
