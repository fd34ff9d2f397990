#include "server/listing.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "server/format.h"
#include "server/pages.h"

namespace {

std::string folded(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Whether a spreadsheet would read the cell as a formula: it starts (perhaps after
// spaces) with = + - @, a tab or a line break, or their full-width forms, which some
// spreadsheets also take.
bool looksLikeFormula(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    const std::string_view rest = text.substr(start);
    if (std::string_view("=+-@\t\r\n").find(rest.front()) != std::string_view::npos) return true;
    for (const char* wide : {"\xEF\xBC\x9D", "\xEF\xBC\x8B", "\xEF\xBC\x8D", "\xEF\xBC\xA0"}) {
        if (rest.rfind(wide, 0) == 0) return true;
    }
    return false;
}

// A text cell: one that could be a formula gets a leading apostrophe, so a spreadsheet
// shows it as text (and the field is quoted); the rest as RFC 4180 asks.
std::string csvField(const std::string& text) {
    const bool formula = looksLikeFormula(text);
    if (!formula && text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = formula ? "\"'" : "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

void sortListing(Listing& listing, const std::string& by, bool descending) {
    std::size_t col = listing.columns.size();
    for (std::size_t i = 0; i < listing.columns.size(); ++i) {
        if (listing.columns[i].id == by) col = i;
    }
    if (col == listing.columns.size()) return;
    std::stable_sort(listing.rows.begin(), listing.rows.end(), [&](const auto& a, const auto& b) {
        const ListingCell& x = a[col];
        const ListingCell& y = b[col];
        if (listing.columns[col].numeric) {
            if (!x.number || !y.number) return x.number.has_value() && !y.number;
            return descending ? *x.number > *y.number : *x.number < *y.number;
        }
        return descending ? folded(x.text) > folded(y.text) : folded(x.text) < folded(y.text);
    });
}

std::string listingJson(const Listing& listing) {
    // Keys in column order.
    std::string out = "[";
    for (std::size_t r = 0; r < listing.rows.size(); ++r) {
        nlohmann::ordered_json o;
        for (std::size_t i = 0; i < listing.columns.size(); ++i) {
            const ListingCell& c = listing.rows[r][i];
            o[listing.columns[i].id] = listing.columns[i].numeric
                                           ? (c.number ? nlohmann::ordered_json(*c.number) : nlohmann::ordered_json())
                                           : nlohmann::ordered_json(c.text);
        }
        out += (r ? "," : "") + o.dump();
    }
    return out + "]";
}

std::string listingCsv(const Listing& listing) {
    std::string out;
    for (std::size_t i = 0; i < listing.columns.size(); ++i) out += (i ? "," : "") + csvField(listing.columns[i].id);
    out += "\r\n";
    for (const auto& row : listing.rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const ListingCell& c = row[i];
            out += (i ? "," : "") + (listing.columns[i].numeric ? (c.number ? std::to_string(*c.number) : std::string())
                                                                  : csvField(c.text));
        }
        out += "\r\n";
    }
    return out;
}

std::string listingHtml(const Listing& listing, const std::string& id, const std::string& base,
                        const std::string& sortedBy, bool descending) {
    const std::string joiner = base.find('?') == std::string::npos ? "?" : "&amp;";
    std::string h = "<div class=\"scroll\"><table id=\"" + id + "\"><thead><tr>";
    for (const ListingColumn& c : listing.columns) {
        if (!c.shown) continue;
        const bool current = c.id == sortedBy;
        // A first click sorts numbers from the highest, names from A.
        const bool nextDescending = current ? !descending : c.numeric;
        h += std::string("<th") + (c.numeric ? " class=\"num\"" : "") +
             (current ? std::string(" aria-sort=\"") + (descending ? "descending" : "ascending") + "\"" : "") +
             "><a href=\"" + base + joiner + "sort=" + c.id + "&amp;order=" + (nextDescending ? "desc" : "asc") +
             "\">" + htmlEscape(c.title) + (current ? (descending ? " &#8595;" : " &#8593;") : "") + "</a></th>";
    }
    h += "</tr></thead><tbody>";
    for (const auto& row : listing.rows) {
        h += "<tr>";
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (!listing.columns[i].shown) continue;
            const ListingCell& c = row[i];
            const std::string text = c.number ? grouped(*c.number) : (c.text.empty() ? "&#8212;" : htmlEscape(c.text));
            h += std::string("<td") + (listing.columns[i].numeric ? " class=\"num\"" : "") + ">";
            h += c.link.empty() ? text : "<a href=\"" + c.link + "\">" + text + "</a>";
            h += "</td>";
        }
        h += "</tr>";
    }
    return h + "</tbody></table></div>";
}

std::string urlEncode(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}
