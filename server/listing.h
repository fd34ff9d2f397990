#pragma once
// A listing — models, results, search hits — as one table that renders as HTML (with
// sortable column headers), JSON or CSV, so that every listing can be exported as it is
// shown.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ListingColumn {
    std::string id;     // JSON key, CSV header, sort name
    std::string title;  // shown in the HTML header
    bool numeric = false;
    bool shown = true;  // false: in the exports only, to keep the page's table readable
};

struct ListingCell {
    std::string text;                   // plain text, escaped when written
    std::optional<std::int64_t> number; // numeric cells: the value (text is its display form)
    std::string link;                   // HTML only: the cell links there
};

struct Listing {
    std::vector<ListingColumn> columns;
    std::vector<std::vector<ListingCell>> rows;
};

// Sorts by the column named `by` (unknown names leave the order as it is); numbers by
// value with empty cells last, text by its folded form.
void sortListing(Listing& listing, const std::string& by, bool descending);

std::string listingJson(const Listing& listing);
// RFC 4180: CRLF line ends, fields with commas, quotes or line breaks quoted. A text cell
// that a spreadsheet would run as a formula (= + - @ first) is quoted and starts with an
// apostrophe.
std::string listingCsv(const Listing& listing);
// `base` is the page's path with its other query parameters, for the sort links.
std::string listingHtml(const Listing& listing, const std::string& id, const std::string& base,
                        const std::string& sortedBy, bool descending);

// Query values in links.
std::string urlEncode(const std::string& text);
