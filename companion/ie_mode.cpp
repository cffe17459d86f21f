#include "companion/ie_mode.h"

#include <utility>

#include "companion/check_rows.h"
#include "companion/examination.h"
#include "companion/internet_settings.h"

namespace qtk::companion {
namespace {

constexpr std::wstring_view kEdgePolicies = L"Software\\Policies\\Microsoft\\Edge";
constexpr std::wstring_view kIePolicies =
    L"Software\\Policies\\Microsoft\\Internet Explorer\\Main\\EnterpriseMode";
constexpr std::wstring_view kLevelName = L"InternetExplorerIntegrationLevel";
constexpr std::wstring_view kCloudListName = L"InternetExplorerIntegrationCloudSiteList";
constexpr std::wstring_view kSiteListName = L"InternetExplorerIntegrationSiteList";
constexpr std::wstring_view kIeSiteListName = L"SiteList";

KeyPlace PolicyPlace(Hive hive, std::wstring_view key) {
    return KeyPlace{hive, SettingsView(hive), std::wstring(key)};
}
KeyPlace EdgePolicyPlace(Hive hive) { return PolicyPlace(hive, kEdgePolicies); }

// One scope's value: absent, present, or a finding that says why it could not be read.
template <typename T>
struct ScopeRead {
    std::optional<T> value;
    std::optional<Finding> unreadable;
};

ScopeRead<std::wstring> ReadPolicyString(RegistrySource& registry, const KeyPlace& place,
                                         std::wstring_view name) {
    OpenedKey key;
    const long opened = key.Open(registry, place);
    if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) return {};
    if (opened != reg_error::kSuccess) return {std::nullopt, CannotLook(opened, place)};
    std::wstring value;
    const long read = registry.ReadString(key.Handle(), name, &value);
    if (read == reg_error::kFileNotFound) return {};
    if (read != reg_error::kSuccess) return {std::nullopt, CannotLook(read, place, name)};
    return {std::move(value), std::nullopt};
}

// The machine's value holds where it is set; the user's counts only where the machine is
// known to be silent.
template <typename T, typename Read>
PolicyValue<T> Merge(std::wstring_view key, Read read) {
    PolicyValue<T> merged;
    for (const Hive hive : {Hive::LocalMachine, Hive::CurrentUser}) {
        merged.place = PolicyPlace(hive, key);
        ScopeRead<T> scope = read(merged.place);
        if (scope.unreadable) {
            merged.unreadable = std::move(scope.unreadable);
            return merged;
        }
        if (scope.value) {
            merged.value = std::move(scope.value);
            return merged;
        }
    }
    merged.place = PolicyPlace(Hive::LocalMachine, key);
    return merged;
}

// A string policy; an empty value configures nothing.
PolicyValue<std::wstring> MergeString(RegistrySource& registry, std::wstring_view key,
                                      std::wstring_view name) {
    return Merge<std::wstring>(key, [&](const KeyPlace& place) {
        ScopeRead<std::wstring> read = ReadPolicyString(registry, place, name);
        if (read.value && Trim(*read.value).empty()) read.value.reset();
        return read;
    });
}

std::wstring LevelText(std::uint32_t level) {
    switch (level) {
        case 0: return L"0 (None)";
        case 1: return L"1 (IEMode)";
        case 2: return L"2 (NeedIE, IE mode since June 2022)";
        default: return std::to_wstring(level);
    }
}

bool StartsWithFolded(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && FoldCase(text.substr(0, prefix.size())) == prefix;
}

bool IsDrivePath(std::wstring_view text) {
    return text.size() >= 3 &&
           ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
           text[1] == L':' && (text[2] == L'\\' || text[2] == L'/');
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// "%20" and the like; an escape that does not stand for a printable ASCII character is
// left as it is rather than guessed at.
std::wstring PercentDecoded(std::wstring_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            const int value = HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]);
            if (value >= 0x20 && value < 0x7F) {
                out += static_cast<wchar_t>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::wstring Backslashed(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'/') c = L'\\';
    }
    return text;
}

CheckResult Row(const TrustedSite& site, RowVerdict verdict, std::wstring reason,
                std::wstring place) {
    CheckResult row;
    row.group = std::string(kIeModeGroup);
    row.scope = RowScope::User;
    row.target = SiteCaption(site);
    // The same target part as the site's trusted-sites rows: "https:*.qrn.example".
    row.id = RowId(row.group, row.scope, {SiteKey(site)});
    row.verdict = verdict;
    row.reason = std::move(reason);
    row.place = std::move(place);
    return row;
}

std::vector<CheckResult> EveryRow(RowVerdict verdict, const std::wstring& reason,
                                  const std::wstring& place) {
    std::vector<CheckResult> rows;
    for (const TrustedSite& site : TrustedSites()) rows.push_back(Row(site, verdict, reason, place));
    return rows;
}

std::wstring Because(const SiteListDecision& decision) {
    return decision.entry + L": " + decision.why;
}

// The verdict for one row from a list that loaded.
std::pair<RowVerdict, std::wstring> FromList(const TrustedSite& site, const SiteList& list,
                                             SiteListDecision* deciding) {
    const std::wstring caption = SiteCaption(site);
    if (!site.wildcard) {
        *deciding = DecideSite(list, site.scheme, site.host);
        if (!deciding->listed) {
            return {RowVerdict::Fail, caption + L" is not on the site list, so it opens in Edge"};
        }
        return {deciding->ie_mode ? RowVerdict::Pass : RowVerdict::Fail,
                caption + (deciding->ie_mode ? L" opens in IE mode (" : L" does not open in IE mode (") +
                    Because(*deciding) + L")"};
    }
    const DomainDecision domain = DecideDomain(list, site.scheme, site.host);
    *deciding = domain.any_host;
    std::wstring others;
    std::wstring neutral;
    for (const auto& [host, decision] : domain.exceptions) {
        if (domain.any_host.ie_mode && decision.neutral) {
            neutral += (neutral.empty() ? L"" : L", ") + host;
            continue;
        }
        if (!others.empty()) others += L"; ";
        others += host + L" (" + Because(decision) + L")";
    }
    if (domain.any_host.ie_mode) {
        std::wstring reason = L"the hosts of " + caption + L" open in IE mode (" +
                              Because(domain.any_host) + L")";
        if (!others.empty()) return {RowVerdict::Fail, reason + L" except " + others};
        if (neutral.empty()) {
            return {RowVerdict::Pass, L"every host of " + caption + L" opens in IE mode (" +
                                          Because(domain.any_host) + L")"};
        }
        // Sign-on servers are meant to be neutral, so that IE-mode pages can authenticate.
        return {RowVerdict::Pass,
                reason + L"; neutral below it, as Microsoft advises for sign-on servers, and "
                         L"so kept in IE mode when reached from its pages: " + neutral};
    }
    std::wstring reason = domain.any_host.listed
                              ? L"the hosts of " + caption + L" do not open in IE mode (" +
                                    Because(domain.any_host) + L")"
                              : L"no entry of the site list covers the hosts of " + caption +
                                    L", so they open in Edge";
    if (!domain.exceptions.empty()) reason += L"; only " + others + L" would";
    return {RowVerdict::Fail, reason};
}

}  // namespace

IeModePolicy ReadIeModePolicy(RegistrySource& registry) {
    IeModePolicy policy;
    policy.level = Merge<std::uint32_t>(kEdgePolicies, [&](const KeyPlace& place) {
        const DwordRead read = ReadOptionalDword(registry, place, kLevelName);
        return ScopeRead<std::uint32_t>{read.value, read.unreadable};
    });
    policy.cloud_site_list = MergeString(registry, kEdgePolicies, kCloudListName);
    policy.site_list = MergeString(registry, kEdgePolicies, kSiteListName);
    policy.ie_site_list = MergeString(registry, kIePolicies, kIeSiteListName);
    return policy;
}

Ie11Feature Ie11Program(std::wstring program, long error, bool is_folder,
                        std::wstring error_text) {
    Ie11Feature feature;
    feature.program = std::move(program);
    if (error == reg_error::kSuccess) {
        feature.state = is_folder ? Ie11State::Unknown : Ie11State::Present;
        if (is_folder) feature.problem = feature.program + L" is a folder, not a program";
    } else if (error == reg_error::kFileNotFound || error == reg_error::kPathNotFound) {
        feature.state = Ie11State::Removed;
    } else {
        feature.state = Ie11State::Unknown;
        feature.problem = L"cannot look for " + feature.program + L" (" +
                          (error_text.empty() ? L"error " + std::to_wstring(error) : error_text) +
                          L")";
    }
    return feature;
}

std::optional<SiteListLocation> ParseSiteListLocation(std::wstring_view text,
                                                      std::wstring* problem) {
    std::wstring value = std::wstring(Trim(text));
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
        value = std::wstring(Trim(std::wstring_view(value).substr(1, value.size() - 2)));
    }
    if (value.empty()) {
        *problem = L"the policy names no site list";
        return std::nullopt;
    }
    if (StartsWithFolded(value, L"https://")) return SiteListLocation{SiteListSource::Https, value};
    if (StartsWithFolded(value, L"http://")) return SiteListLocation{SiteListSource::Http, value};
    if (StartsWithFolded(value, L"file:")) {
        std::wstring_view rest = std::wstring_view(value).substr(5);
        std::wstring path;
        if (rest.substr(0, 2) == L"//") {
            rest.remove_prefix(2);
            const std::size_t slash = rest.find(L'/');
            const std::wstring_view server = rest.substr(0, slash);
            const std::wstring_view tail =
                slash == std::wstring_view::npos ? std::wstring_view() : rest.substr(slash + 1);
            if (server.empty() || SameName(server, L"localhost")) {
                path = Backslashed(PercentDecoded(tail));  // file:///C:/dir/sites.xml
            } else {
                path = L"\\\\" + Backslashed(PercentDecoded(rest));  // file://server/share/x
            }
        } else {
            while (!rest.empty() && rest.front() == L'/') rest.remove_prefix(1);
            path = Backslashed(PercentDecoded(rest));
        }
        if (path.size() > 2 && path.substr(0, 2) == L"\\\\") {
            return SiteListLocation{SiteListSource::NetworkFile, path};
        }
        if (IsDrivePath(path)) return SiteListLocation{SiteListSource::LocalFile, path};
        *problem = L"\"" + value + L"\" is a file: URL that names no drive or server";
        return std::nullopt;
    }
    if (value.size() > 2 && (value.substr(0, 2) == L"\\\\" || value.substr(0, 2) == L"//")) {
        return SiteListLocation{SiteListSource::NetworkFile, Backslashed(value)};
    }
    if (IsDrivePath(value)) return SiteListLocation{SiteListSource::LocalFile, Backslashed(value)};
    if (value.find(L"://") != std::wstring::npos) {
        *problem = L"\"" + value + L"\" is neither a file nor an http(s) address";
    } else {
        *problem = L"\"" + value + L"\" is not a full path (a drive, a \\\\server share, or a URL)";
    }
    return std::nullopt;
}

std::vector<CheckResult> ExamineIeMode(RegistrySource& registry, SiteListFetcher& fetcher,
                                       SiteListParser& parser, Ie11FeatureProbe& ie11) {
    const Ie11Feature feature = ie11.Look();
    if (feature.state == Ie11State::Removed) {
        return EveryRow(RowVerdict::Fail,
                        L"IE mode needs the Internet Explorer 11 feature of Windows, which has "
                        L"been removed from this system (" +
                            feature.program + L" is missing)",
                        feature.program);
    }
    const IeModePolicy policy = ReadIeModePolicy(registry);
    const std::wstring level_place = DescribePlace(policy.level.place);
    if (policy.level.unreadable) {
        return EveryRow(RowVerdict::Undecided, policy.level.unreadable->reason, level_place);
    }
    if (!policy.level.value) {
        return EveryRow(RowVerdict::Fail,
                        L"IE mode is not switched on: the policy " + std::wstring(kLevelName) +
                            L" is set neither for the machine nor for the user",
                        DescribePlace(EdgePolicyPlace(Hive::LocalMachine)));
    }
    // NeedIE asked for a standalone IE11 window; with IE11 retired it gives IE mode.
    if (*policy.level.value != 1 && *policy.level.value != 2) {
        return EveryRow(RowVerdict::Fail,
                        L"IE mode is not switched on: " + std::wstring(kLevelName) + L" is " +
                            LevelText(*policy.level.value) +
                            L"; IE mode needs 1 (IEMode) or 2 (NeedIE)",
                        level_place);
    }
    const PolicyValue<std::wstring>& cloud = policy.cloud_site_list;
    if (cloud.unreadable) {
        return EveryRow(RowVerdict::Undecided, cloud.unreadable->reason,
                        DescribePlace(cloud.place));
    }
    if (cloud.value) {
        return EveryRow(RowVerdict::Undecided,
                        L"Edge takes its site list from the Microsoft 365 admin center (" +
                            std::wstring(kCloudListName) + L" is " + *cloud.value + L" in " +
                            DescribePlace(cloud.place) +
                            L"), which overrides any local list and cannot be read here",
                        DescribePlace(cloud.place));
    }
    // Edge's own list where set; else Internet Explorer's, which IE mode uses as well.
    const bool edge_list = policy.site_list.value || policy.site_list.unreadable;
    const PolicyValue<std::wstring>& in_force = edge_list ? policy.site_list : policy.ie_site_list;
    const std::wstring_view in_force_name = edge_list ? kSiteListName : kIeSiteListName;
    const std::wstring list_place = DescribePlace(in_force.place);
    if (in_force.unreadable) {
        return EveryRow(RowVerdict::Undecided, in_force.unreadable->reason, list_place);
    }
    if (!in_force.value) {
        return EveryRow(RowVerdict::Fail,
                        L"IE mode is on but no Enterprise Mode Site List is configured (neither " +
                            std::wstring(kSiteListName) + L" nor Internet Explorer's " +
                            std::wstring(kIeSiteListName) + L" under " +
                            std::wstring(kIePolicies) + L" is set), so no site opens in it",
                        DescribePlace(policy.site_list.place));
    }
    const std::wstring& written = *in_force.value;
    std::wstring problem;
    const std::optional<SiteListLocation> location = ParseSiteListLocation(written, &problem);
    if (!location) {
        return EveryRow(RowVerdict::Undecided,
                        L"the site list cannot be loaded: " + problem + L" (" + list_place +
                            L" value " + std::wstring(in_force_name) + L")",
                        list_place);
    }
    const FetchedList fetched = fetcher.Fetch(*location);
    if (!fetched.ok) {
        return EveryRow(RowVerdict::Undecided,
                        L"the site list " + written + L" could not be fetched: " + fetched.error,
                        written);
    }
    const ParsedList parsed = parser.Parse(fetched.bytes);
    if (!parsed.list) {
        return EveryRow(RowVerdict::Undecided,
                        L"the site list " + written + L" is not a usable site list: " +
                            parsed.error,
                        written);
    }
    const SiteList& list = *parsed.list;
    const bool v1 = list.schema == SiteListSchema::V1;
    std::vector<CheckResult> rows;
    for (const TrustedSite& site : TrustedSites()) {
        SiteListDecision deciding;
        auto [verdict, reason] = FromList(site, list, &deciding);
        if (v1 && verdict == RowVerdict::Pass) {
            verdict = RowVerdict::Fail;
            reason = (site.wildcard ? L"the hosts of " + SiteCaption(site) + L" are"
                                    : SiteCaption(site) + L" is") +
                     L" sent to IE11 only by a schema v.1 list (" + Because(deciding) +
                     L"), and IE mode does not support v.1 lists: convert the list to v.2";
        } else if (v1 && deciding.listed) {
            reason += L"; the list uses schema v.1, which IE mode does not support";
        }
        if (verdict == RowVerdict::Pass && feature.state == Ie11State::Unknown) {
            verdict = RowVerdict::Undecided;
            reason += L", but whether the Internet Explorer 11 feature IE mode needs is "
                      L"installed cannot be told: " + feature.problem;
        }
        CheckResult row = Row(site, verdict, std::move(reason), written);
        row.details.emplace_back("integration_level", LevelText(*policy.level.value));
        row.details.emplace_back("site_list_policy", list_place + L" value " +
                                                         std::wstring(in_force_name));
        row.details.emplace_back("site_list", written);
        row.details.emplace_back("schema", v1 ? L"v.1" : L"v.2");
        if (!list.version.empty()) row.details.emplace_back("list_version", list.version);
        if (deciding.listed) row.details.emplace_back("entry", deciding.entry);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace qtk::companion
