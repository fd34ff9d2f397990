// The management layer on Linux: query texts are parsed and answered by the provider
// classes of linux_provider.cpp.

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "sysinfo/WmiConnection.h"
#include "sysinfo/linux_provider.h"

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Words, commas and stars of a WQL text; nothing for any other character.
std::optional<std::vector<std::string_view>> tokenize(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == ',' || c == '*') {
            tokens.push_back(text.substr(i, 1));
            ++i;
        } else if (std::isalnum(c) || c == '_') {
            const std::size_t start = i;
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
            tokens.push_back(text.substr(start, i - start));
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

struct Query {
    const ProviderClass* cls = nullptr;
    std::vector<std::string_view> properties;  // canonical names; all of them for "*"
};

// "SELECT a, b FROM Class" or "SELECT * FROM Class"; a property the class lacks makes the
// query invalid, as it does for the management service.
std::optional<Query> parseQuery(WmiNamespace ns, std::string_view text) {
    const auto tokens = tokenize(text);
    if (!tokens || tokens->size() < 4 || !equalsNoCase((*tokens)[0], "SELECT")) return std::nullopt;
    const std::size_t n = tokens->size();
    if (!equalsNoCase((*tokens)[n - 2], "FROM")) return std::nullopt;
    Query q;
    q.cls = findProviderClass(ns, (*tokens)[n - 1]);
    if (q.cls == nullptr) return std::nullopt;

    const std::vector<std::string_view> list(tokens->begin() + 1, tokens->end() - 2);
    if (list.size() == 1 && list[0] == "*") {
        for (const ProviderProperty& p : q.cls->properties) q.properties.push_back(p.name);
        return q;
    }
    // name (, name)*
    if (list.size() % 2 == 0) return std::nullopt;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i % 2 == 1) {
            if (list[i] != ",") return std::nullopt;
            continue;
        }
        auto p = std::find_if(q.cls->properties.begin(), q.cls->properties.end(),
                              [&](const ProviderProperty& prop) { return equalsNoCase(prop.name, list[i]); });
        if (p == q.cls->properties.end()) return std::nullopt;
        q.properties.push_back(p->name);
    }
    return q;
}

class LinuxRow final : public WmiRow {
public:
    LinuxRow(const ProviderClass& rowClass, ProviderRow rowValues) : cls(rowClass), values(std::move(rowValues)) {}

    std::optional<std::string> getText(std::string_view name) const override {
        const auto* s = find<std::string>(name, ProviderKind::Text);
        if (s == nullptr) return std::nullopt;
        std::string out = *s;
        trimTrailingSpace(out);
        return out;
    }
    std::optional<std::int32_t> getInt32(std::string_view name) const override {
        const auto* v = find<std::int32_t>(name, ProviderKind::Int32);
        return v ? std::optional<std::int32_t>(*v) : std::nullopt;
    }
    std::optional<std::string> getUint64Text(std::string_view name) const override {
        const auto* s = find<std::string>(name, ProviderKind::Uint64Text);
        if (s == nullptr) return std::nullopt;
        std::string out = *s;
        trimTrailingSpace(out);
        return out;
    }
    std::optional<bool> getBool(std::string_view name) const override {
        const auto* v = find<bool>(name, ProviderKind::Bool);
        return v ? std::optional<bool>(*v) : std::nullopt;
    }

private:
    // The value when the property exists with that kind and the row holds it.
    template <class T>
    const T* find(std::string_view name, ProviderKind kind) const {
        auto p = std::find_if(cls.properties.begin(), cls.properties.end(),
                              [&](const ProviderProperty& prop) { return equalsNoCase(prop.name, name); });
        if (p == cls.properties.end() || p->kind != kind) return nullptr;
        auto it = values.find(p->name);
        return it == values.end() ? nullptr : std::get_if<T>(&it->second);
    }

    const ProviderClass& cls;
    ProviderRow values;
};

class LinuxEnumerator final : public WmiEnumerator {
public:
    LinuxEnumerator(const ProviderClass& rowClass, std::vector<ProviderRow> classRows)
        : cls(rowClass), rows(std::move(classRows)) {}

    std::unique_ptr<WmiRow> next() override {
        if (position >= rows.size()) return nullptr;
        return std::make_unique<LinuxRow>(cls, std::move(rows[position++]));
    }

private:
    const ProviderClass& cls;
    std::vector<ProviderRow> rows;
    std::size_t position = 0;
};

}  // namespace

struct WmiConnection::Impl {
    std::filesystem::path root = providerRoot();
    WmiNamespace currentNamespace = WmiNamespace::Cimv2;
    bool connected = false;
};

WmiConnection::WmiConnection() : impl(std::make_unique<Impl>()) {}

WmiConnection::~WmiConnection() { close(); }

bool WmiConnection::connect(WmiNamespace ns) {
    if (wmiNamespacePath(ns).empty()) return false;
    if (impl->connected && impl->currentNamespace == ns) return true;
    impl->currentNamespace = ns;
    impl->connected = true;
    return true;
}

std::unique_ptr<WmiEnumerator> WmiConnection::execQuery(std::string_view query) {
    if (!impl->connected) return nullptr;
    const auto q = parseQuery(impl->currentNamespace, query);
    if (!q) return nullptr;
    std::vector<ProviderRow> rows = q->cls->build(impl->root);
    // A row carries only the properties the query selected.
    for (ProviderRow& row : rows)
        std::erase_if(row, [&](const auto& entry) {
            return std::find(q->properties.begin(), q->properties.end(), entry.first) == q->properties.end();
        });
    return std::make_unique<LinuxEnumerator>(*q->cls, std::move(rows));
}

void WmiConnection::close() { impl->connected = false; }
