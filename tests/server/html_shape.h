#pragma once
// Reads a page as a browser's tokenizer would and names the first tag or attribute that
// our own page code never writes: markup that can only have come from a stored text.
// Used by the page tests and the fuzz target, so a missed escape anywhere (attributes and
// <title> included) shows as an unexpected element or attribute, not only as "<script".

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace testkit {

inline bool inList(std::string_view name, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

inline std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Empty when every tag and attribute is one the pages use; otherwise what was found.
inline std::string unexpectedMarkup(std::string_view html) {
    static const std::initializer_list<std::string_view> tags = {
        "!doctype", "html", "head", "meta", "title", "style", "body", "header", "footer", "main", "nav",
        "section", "div", "p", "a", "h1", "h2", "h3", "span", "i", "small", "strong", "code", "em",
        "table", "thead", "tbody", "tr", "th", "td", "caption", "form", "label", "input", "button",
        "select", "option", "ul", "ol", "li", "dl", "dt", "dd", "details", "summary", "figure",
        "figcaption", "br", "svg", "defs", "lineargradient", "stop", "rect", "circle", "line", "path",
        "polyline", "polygon", "text", "g", "desc"};
    static const std::initializer_list<std::string_view> attributes = {
        "lang", "charset", "name", "content", "property", "class", "id", "href", "role", "for", "type",
        "placeholder", "value", "action", "method", "viewbox", "preserveaspectratio", "x", "y", "x1", "x2",
        "y1", "y2", "cx", "cy", "r", "rx", "width", "height", "d", "points", "offset", "stop-color", "fill",
        "text-anchor", "transform", "colspan", "scope", "selected", "required", "maxlength", "autocomplete",
        "datetime", "title", "open", "focusable", "xmlns", "minlength", "size", "hidden", "tabindex", "rel"};
    std::size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        ++i;
        const bool closing = i < html.size() && html[i] == '/';
        if (closing) ++i;
        std::size_t end = i;
        while (end < html.size() && (std::isalnum(static_cast<unsigned char>(html[end])) || html[end] == '!')) ++end;
        const std::string tag = lowered(html.substr(i, end - i));
        if (tag.empty()) return "a bare '<' in the markup: " + std::string(html.substr(i - 1, 40));
        if (!inList(tag, tags)) return "element <" + tag + ">";
        // Attributes up to the tag's end; values are double-quoted, so a quote ends one.
        i = end;
        while (i < html.size() && html[i] != '>') {
            if (std::isspace(static_cast<unsigned char>(html[i])) || html[i] == '/') {
                ++i;
                continue;
            }
            std::size_t nameEnd = i;
            while (nameEnd < html.size() && html[nameEnd] != '=' && html[nameEnd] != '>' &&
                   !std::isspace(static_cast<unsigned char>(html[nameEnd]))) {
                ++nameEnd;
            }
            const std::string attribute = lowered(html.substr(i, nameEnd - i));
            if (tag != "!doctype" && !inList(attribute, attributes) && attribute.rfind("data-", 0) != 0 &&
                attribute.rfind("aria-", 0) != 0) {
                return "attribute " + attribute + " on <" + tag + ">";
            }
            i = nameEnd;
            if (i < html.size() && html[i] == '=') {
                ++i;
                if (i >= html.size() || html[i] != '"') return "an unquoted value of " + attribute + " on <" + tag + ">";
                const std::size_t close = html.find('"', i + 1);
                if (close == std::string_view::npos) return "an unterminated value of " + attribute;
                const std::string value = lowered(html.substr(i + 1, close - i - 1));
                if (attribute == "href" && value.find(':') != std::string::npos && value.find('?') > value.find(':')) {
                    return "a link to another scheme or site: " + value;
                }
                i = close + 1;
            }
        }
        // The stylesheet is ours and may hold '<' in no case, but skip it as a browser would.
        if (tag == "style" && !closing) {
            const std::size_t close = html.find("</style>", i);
            if (close == std::string_view::npos) return "an unterminated <style>";
            i = close;
        }
    }
    return {};
}

}  // namespace testkit
