#include "companion/site_list.h"

#include <set>

#include "companion/registry_source.h"

namespace qtk::companion {
namespace {

// A host name no list entry would name, standing for "any host below the domain".
constexpr std::wstring_view kAnyHostLabel = L"any-host";

const std::wstring* Attribute(const XmlAttributes& attributes, std::wstring_view name) {
    for (const auto& [key, value] : attributes) {
        if (key == name) return &value;
    }
    return nullptr;
}

bool IsTrue(const std::wstring* value) {
    return value != nullptr && SameName(Trim(*value, true), L"true");
}

std::optional<std::wstring> OptionalText(const std::wstring* value) {
    if (value == nullptr) return std::nullopt;
    std::wstring text = std::wstring(Trim(*value, true));
    if (text.empty()) return std::nullopt;
    return text;
}

// An entry as the lists write it: "qrn.example", "tesk.qrn.example:8443/app/", and, against
// the advice but seen in the field, with "https://" in front.
struct EntryUrl {
    std::wstring scheme;  // empty: http and https alike
    std::wstring host;    // lower case
    std::optional<unsigned> port;
    std::wstring path;    // "" or starting with "/"
};

std::optional<EntryUrl> ParseEntry(std::wstring_view text) {
    std::wstring trimmed = std::wstring(Trim(text, true));
    std::wstring_view rest = trimmed;
    EntryUrl entry;
    if (const std::size_t sep = rest.find(L"://"); sep != std::wstring_view::npos) {
        entry.scheme = FoldCase(rest.substr(0, sep));
        rest.remove_prefix(sep + 3);
    }
    const std::size_t slash = rest.find(L'/');
    std::wstring_view authority = rest.substr(0, slash);
    if (slash != std::wstring_view::npos) entry.path = std::wstring(rest.substr(slash));
    if (const std::size_t colon = authority.rfind(L':'); colon != std::wstring_view::npos) {
        const std::wstring_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        unsigned port = 0;
        for (const wchar_t c : digits) {
            if (c < L'0' || c > L'9') return std::nullopt;
            port = port * 10 + static_cast<unsigned>(c - L'0');
        }
        entry.port = port;
        authority = authority.substr(0, colon);
    }
    if (!authority.empty() && authority.back() == L'.') authority.remove_suffix(1);
    if (authority.empty()) return std::nullopt;
    entry.host = FoldCase(authority);
    return entry;
}

unsigned DefaultPort(std::wstring_view scheme) { return scheme == L"http" ? 80u : 443u; }

bool HostCovers(std::wstring_view entry, std::wstring_view host) {
    if (host == entry) return true;
    return host.size() > entry.size() + 1 && host.substr(host.size() - entry.size()) == entry &&
           host[host.size() - entry.size() - 1] == L'.';
}

bool PathCovers(std::wstring_view entry, std::wstring_view path) {
    if (entry.empty() || entry == L"/") return true;
    const std::wstring e = FoldCase(entry);
    const std::wstring p = FoldCase(path);
    // A trailing slash ends the rule at that path; without it the sub-paths belong to it.
    if (e.back() == L'/') return p == e || p + L'/' == e;
    return p == e || (p.size() > e.size() && p.compare(0, e.size(), e) == 0 && p[e.size()] == L'/');
}

std::size_t PathWeight(std::wstring_view path) {
    return path == L"/" ? 0 : path.size();
}

// Does the entry's host, scheme and port fit the site asked about?
bool Reaches(const EntryUrl& entry, std::wstring_view scheme, std::wstring_view host) {
    if (!entry.scheme.empty() && entry.scheme != scheme) return false;
    if (entry.port && *entry.port != DefaultPort(scheme)) return false;
    return HostCovers(entry.host, host);
}

struct Weight {
    std::size_t host = 0;
    std::size_t path = 0;
    bool operator>(const Weight& other) const {
        return host != other.host ? host > other.host : path > other.path;
    }
};

SiteListDecision FromSite(const SiteListSite& site) {
    SiteListDecision decision;
    decision.listed = true;
    decision.entry = std::wstring(Trim(site.url, true));
    const std::wstring open_in = FoldCase(site.open_in);
    if (open_in == L"ie11") {
        decision.ie_mode = true;
        decision.why = site.app ? L"open-in IE11 (app=\"true\": a standalone IE11 window)"
                                : L"open-in IE11";
    } else if (open_in == L"msedge") {
        decision.why = L"open-in MSEdge: stays in Edge";
    } else if (open_in.empty() || open_in == L"none") {
        decision.neutral = true;
        decision.why = L"a neutral site (open-in " +
                       (site.open_in.empty() ? std::wstring(L"not given") : site.open_in) +
                       L"): it stays in the engine the navigation started in";
    } else if (open_in == L"configurable") {
        decision.why = L"open-in Configurable: the server decides";
    } else {
        decision.why = L"open-in \"" + site.open_in + L"\", which Edge does not know";
    }
    return decision;
}

SiteListDecision DecideV2(const SiteList& list, std::wstring_view scheme, std::wstring_view host,
                          std::wstring_view path) {
    const SiteListSite* best = nullptr;
    Weight best_weight;
    for (const SiteListSite& site : list.sites) {
        const std::optional<EntryUrl> entry = ParseEntry(site.url);
        if (!entry || !Reaches(*entry, scheme, host) || !PathCovers(entry->path, path)) continue;
        const Weight weight{entry->host.size(), PathWeight(entry->path)};
        if (best == nullptr || weight > best_weight) {
            best = &site;
            best_weight = weight;
        }
    }
    if (best == nullptr) return {};
    return FromSite(*best);
}

// The element of one v.1 section that applies to the site: the most specific domain, then
// its longest matching path, or the domain itself.
struct V1Element {
    const SiteListDomain* domain = nullptr;
    const SiteListPath* path = nullptr;
    Weight weight;
    bool exclude() const { return path != nullptr ? path->exclude : domain->exclude; }
    const std::optional<std::wstring>& doc_mode() const {
        return path != nullptr ? path->doc_mode : domain->doc_mode;
    }
    std::wstring Describe() const {
        return path != nullptr ? domain->domain + path->path : domain->domain;
    }
};

std::optional<V1Element> ApplyingElement(const std::vector<SiteListDomain>& section,
                                         std::wstring_view scheme, std::wstring_view host,
                                         std::wstring_view path, bool needs_doc_mode) {
    std::optional<V1Element> best;
    for (const SiteListDomain& domain : section) {
        const std::optional<EntryUrl> entry = ParseEntry(domain.domain);
        if (!entry || !Reaches(*entry, scheme, host) || !PathCovers(entry->path, path)) continue;
        V1Element element{&domain, nullptr, {entry->host.size(), PathWeight(entry->path)}};
        for (const SiteListPath& candidate : domain.paths) {
            if (!PathCovers(candidate.path, path)) continue;
            const std::size_t weight = PathWeight(candidate.path);
            if (element.path == nullptr || weight > element.weight.path) {
                element.path = &candidate;
                element.weight.path = weight;
            }
        }
        // A <docMode> entry that names no document mode applies nothing.
        if (needs_doc_mode && (!element.doc_mode() || element.exclude())) continue;
        if (!best || element.weight > best->weight) best = element;
    }
    return best;
}

SiteListDecision DecideV1(const SiteList& list, std::wstring_view scheme, std::wstring_view host,
                          std::wstring_view path) {
    const std::optional<V1Element> emie = ApplyingElement(list.emie, scheme, host, path, false);
    const std::optional<V1Element> doc = ApplyingElement(list.doc_mode, scheme, host, path, true);
    SiteListDecision decision;
    if (emie && !(doc && doc->weight > emie->weight)) {
        decision.listed = true;
        decision.entry = emie->Describe();
        decision.ie_mode = !emie->exclude();
        decision.why = emie->exclude() ? L"excluded in the v.1 <emie> section"
                                       : L"in the v.1 <emie> section (Enterprise Mode in IE11)";
    } else if (doc) {
        decision.listed = true;
        decision.entry = doc->Describe();
        decision.ie_mode = true;
        decision.why = L"in the v.1 <docMode> section (document mode " + *doc->doc_mode() + L")";
    }
    return decision;
}

}  // namespace

void SiteListBuilder::StartElement(std::wstring_view name, const XmlAttributes& attributes) {
    const Kind parent = open_.empty() ? Kind::Root : open_.back();
    Kind kind = Kind::Other;
    if (open_.empty()) {
        kind = Kind::Root;
        root_ = std::wstring(name);
        if (name == L"rules" || name == L"site-list") {
            list_.emplace();
            list_->schema = name == L"rules" ? SiteListSchema::V1 : SiteListSchema::V2;
            if (const std::wstring* version = Attribute(attributes, L"version")) {
                list_->version = std::wstring(Trim(*version, true));
            }
        }
    } else if (parent == Kind::Other || !list_) {
        kind = Kind::Other;
    } else if (list_->schema == SiteListSchema::V2) {
        if (parent == Kind::Root && open_.size() == 1 && name == L"site") {
            if (const std::wstring* url = Attribute(attributes, L"url")) {
                list_->sites.push_back({*url, {}, false});
                kind = Kind::Site;
            }
        } else if (parent == Kind::Site && name == L"open-in" && list_->sites.back().open_in.empty()) {
            list_->sites.back().app = IsTrue(Attribute(attributes, L"app"));
            kind = Kind::OpenIn;
        }
    } else {
        if (parent == Kind::Root && open_.size() == 1 && (name == L"emie" || name == L"docMode")) {
            section_ = name == L"emie" ? &list_->emie : &list_->doc_mode;
            kind = Kind::Section;
        } else if (parent == Kind::Section && name == L"domain") {
            section_->push_back({{},
                                 IsTrue(Attribute(attributes, L"exclude")),
                                 OptionalText(Attribute(attributes, L"docMode")),
                                 {}});
            kind = Kind::Domain;
        } else if (parent == Kind::Domain && name == L"path") {
            section_->back().paths.push_back({{},
                                              IsTrue(Attribute(attributes, L"exclude")),
                                              OptionalText(Attribute(attributes, L"docMode"))});
            kind = Kind::Path;
        }
    }
    open_.push_back(kind);
}

void SiteListBuilder::Text(std::wstring_view text) {
    if (open_.empty()) return;
    switch (open_.back()) {
        case Kind::Domain: section_->back().domain += text; break;
        case Kind::Path: section_->back().paths.back().path += text; break;
        case Kind::OpenIn: list_->sites.back().open_in += text; break;
        default: break;
    }
}

void SiteListBuilder::EndElement() {
    if (open_.empty()) return;
    switch (open_.back()) {
        case Kind::Domain:
            section_->back().domain = std::wstring(Trim(section_->back().domain, true));
            break;
        case Kind::Path: {
            SiteListPath& path = section_->back().paths.back();
            path.path = std::wstring(Trim(path.path, true));
            break;
        }
        case Kind::OpenIn:
            list_->sites.back().open_in = std::wstring(Trim(list_->sites.back().open_in, true));
            break;
        case Kind::Section: section_ = nullptr; break;
        default: break;
    }
    open_.pop_back();
}

std::optional<SiteList> SiteListBuilder::Finish(std::wstring* problem) {
    if (root_.empty()) {
        *problem = L"the document has no root element";
        return std::nullopt;
    }
    if (!list_) {
        *problem = L"the root element is <" + root_ +
                   L">, neither <site-list> (schema v.2) nor <rules> (schema v.1)";
        return std::nullopt;
    }
    return std::move(list_);
}

SiteListDecision DecideSite(const SiteList& list, std::wstring_view scheme, std::wstring_view host,
                            std::wstring_view path) {
    const std::wstring folded_scheme = FoldCase(scheme);
    std::wstring folded_host = FoldCase(host);
    if (!folded_host.empty() && folded_host.back() == L'.') folded_host.pop_back();
    return list.schema == SiteListSchema::V2 ? DecideV2(list, folded_scheme, folded_host, path)
                                             : DecideV1(list, folded_scheme, folded_host, path);
}

DomainDecision DecideDomain(const SiteList& list, std::wstring_view scheme,
                            std::wstring_view domain) {
    const std::wstring folded = FoldCase(domain);
    DomainDecision result;
    result.any_host = DecideSite(list, scheme, std::wstring(kAnyHostLabel) + L"." + folded);
    std::set<std::wstring> hosts;
    const auto consider = [&](std::wstring_view text) {
        const std::optional<EntryUrl> entry = ParseEntry(text);
        if (entry && entry->host.size() > folded.size() && HostCovers(folded, entry->host)) {
            hosts.insert(entry->host);
        }
    };
    for (const SiteListSite& site : list.sites) consider(site.url);
    for (const SiteListDomain& d : list.emie) consider(d.domain);
    for (const SiteListDomain& d : list.doc_mode) consider(d.domain);
    for (const std::wstring& host : hosts) {
        SiteListDecision decision = DecideSite(list, scheme, host);
        if (decision.ie_mode != result.any_host.ie_mode) {
            result.exceptions.emplace_back(host, std::move(decision));
        }
    }
    return result;
}

}  // namespace qtk::companion
