// The checks section of a result page, and the stylesheet rules of the checks and of the
// methodology page.

#include "server/page_parts.h"
#include "server/pages.h"

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
