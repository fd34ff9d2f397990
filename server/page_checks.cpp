// The checks section of a result page, and the stylesheet rules of the checks and of the
// methodology page.

#include "server/page_parts.h"
#include "server/pages.h"

const char* const kExtraStyle = R"css(
.top nav{display:flex;gap:20px}
.checks{border-color:var(--p10);background:var(--card)}
.checks .lead{color:var(--soft)}
.check{background:var(--card2);border:1px solid var(--line);border-left:4px solid var(--p10);border-radius:12px;padding:13px 16px;margin:12px 0 0}
.check h3{margin:0 0 4px;font-size:15.5px;display:flex;flex-wrap:wrap;align-items:baseline;gap:4px 12px}
.check h3 code{font-weight:400;color:var(--muted)}
.check p{margin:0;color:var(--soft)}
.check p.todo{margin-top:6px;color:var(--muted);font-size:14px}
.check p.todo strong{color:var(--soft);font-weight:600}
.checks .more{margin:14px 0 0;font-size:14px}
.narrow{max-width:900px}
.prose p,.prose li{color:var(--soft)}
.prose h2{margin:0 0 10px}
.prose h3{margin:20px 0 6px;font-size:15.5px}
.prose .check h3{margin:0 0 4px}
.prose ul,.prose ol{padding-left:22px;margin:8px 0}
.prose li+li{margin-top:4px}
.prose table{margin:12px 0 6px}
.prose td code,.prose p code,.prose li code{font-size:13px}
.formula{display:block;background:var(--card2);border:1px solid var(--line);border-radius:10px;padding:10px 14px;margin:10px 0;overflow-x:auto;font-size:13.5px;line-height:1.7;color:var(--text)}
.toc{display:flex;flex-wrap:wrap;gap:8px 18px;margin:18px 0 0;font-size:14px}
)css";

std::string checksSection(const std::vector<const ResultCheck*>& checks) {
    if (checks.empty()) return {};
    std::string h = "<section class=\"card checks\" id=\"checks\"><h2>";
    h += checks.size() == 1 ? "One thing we cannot vouch for" : "Things we cannot vouch for";
    h += "</h2><p class=\"lead\">This result stays stored and visible, but it does not count in the standings "
         "of other results. Its own standings compare it with the results that do count.</p>";
    for (const ResultCheck* c : checks) {
        h += "<div class=\"check\" data-check=\"" + std::string(c->name) + "\"><h3>" + htmlEscape(c->title) +
             " <code>" + c->name + "</code></h3><p>" + htmlEscape(c->sentence) +
             "</p><p class=\"todo\"><strong>What to do:</strong> " + htmlEscape(c->remedy) + "</p></div>";
    }
    h += "<p class=\"more\"><a href=\"/methodology#checks\">How we measure, and how each check is defined</a></p>";
    h += "</section>";
    return h;
}
