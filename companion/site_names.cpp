#include "companion/site_names.h"

#include "companion/registry_source.h"

namespace qtk::companion {
namespace {

bool ValidHost(std::wstring_view host) {
    if (host.empty() || host.front() == L'.' || host.back() == L'.') return false;
    if (host.find(L"..") != std::wstring_view::npos) return false;
    for (const wchar_t c : host) {
        if (c == L'*' || c == L' ' || c == L'/' || c == L'\\' || c == L'@') return false;
    }
    return true;
}

}  // namespace

std::optional<SiteName> ParseSiteName(std::wstring_view text) {
    text = Trim(text);
    SiteName name;
    if (const std::size_t sep = text.find(L"://"); sep != std::wstring_view::npos) {
        name.scheme = FoldCase(text.substr(0, sep));
        if (name.scheme.empty()) return std::nullopt;
        if (name.scheme == L"*") name.scheme.clear();
        text.remove_prefix(sep + 3);
    }
    text = text.substr(0, text.find(L'/'));
    text = text.substr(0, text.find(L':'));
    if (text.size() >= 2 && text.substr(0, 2) == L"*.") {
        name.pattern.wildcard = true;
        text.remove_prefix(2);
    }
    // "tesk.qrn.example." is the same host written fully qualified.
    if (!text.empty() && text.back() == L'.') text.remove_suffix(1);
    if (!ValidHost(text)) return std::nullopt;
    name.pattern.host = FoldCase(text);
    return name;
}

bool Covers(const SitePattern& pattern, std::wstring_view host) {
    const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    const auto same_tail = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (fold(host[host.size() - n + i]) != pattern.host[i]) return false;
        }
        return true;
    };
    const std::size_t n = pattern.host.size();
    if (!pattern.wildcard) return host.size() == n && same_tail(n);
    return host.size() > n + 1 && same_tail(n) && host[host.size() - n - 1] == L'.';
}

std::vector<SitePattern> DecidingPatterns(const SitePattern& row) {
    std::vector<SitePattern> patterns;
    std::wstring host = FoldCase(row.host);
    if (!row.wildcard) {
        patterns.push_back(SitePattern{false, host});
        const std::size_t dot = host.find(L'.');
        if (dot == std::wstring::npos) return patterns;
        host.erase(0, dot + 1);
    }
    for (;;) {
        patterns.push_back(SitePattern{true, host});
        const std::size_t dot = host.find(L'.');
        if (dot == std::wstring::npos) break;
        host.erase(0, dot + 1);
    }
    return patterns;
}

std::wstring DescribeSite(std::wstring_view scheme, const SitePattern& pattern) {
    std::wstring text;
    if (!scheme.empty()) {
        text += scheme;
        text += L"://";
    }
    if (pattern.wildcard) text += L"*.";
    text += pattern.host;
    return text;
}

}  // namespace qtk::companion
