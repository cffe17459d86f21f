#include "companion/popup_allow.h"

#include "companion/internet_settings.h"
#include "companion/site_names.h"

namespace qtk::companion {

std::vector<KeyPlace> PopupExaminer::Places() {
    return {
        KeyPlace{Hive::CurrentUser, SettingsView(Hive::CurrentUser), std::wstring(keys::kPopupAllow)},
        KeyPlace{Hive::CurrentUser, SettingsView(Hive::CurrentUser),
                 std::wstring(keys::kPolicyPopupAllow)},
        KeyPlace{Hive::LocalMachine, SettingsView(Hive::LocalMachine),
                 std::wstring(keys::kPolicyPopupAllow)},
    };
}

PopupExaminer::PopupExaminer(RegistrySource& registry) {
    for (const KeyPlace& place : Places()) {
        List list{place, std::nullopt, {}};
        OpenedKey key;
        const long opened = key.Open(registry, place);
        if (opened == reg_error::kSuccess) {
            std::vector<std::wstring> names;
            if (const long listed = registry.ListValues(key.Handle(), &names);
                listed != reg_error::kSuccess) {
                list.unreadable = CannotLook(listed, place);
            }
            for (std::wstring& name : names) {
                // The dialog stores bare hosts, but a list filled by hand may carry a
                // scheme or a trailing slash; those name the same host.
                if (std::optional<SiteName> entry = ParseSiteName(name)) {
                    list.entries.push_back({std::move(name), std::move(entry->pattern)});
                }
            }
            if (list.unreadable) list.entries.clear();
        } else if (opened != reg_error::kFileNotFound && opened != reg_error::kPathNotFound) {
            list.unreadable = CannotLook(opened, place);
        }
        lists_.push_back(std::move(list));
    }
}

Finding PopupExaminer::Examine(const PopupSite& site) const {
    const std::wstring host = FoldCase(site.host);
    for (const List& list : lists_) {
        for (const Entry& entry : list.entries) {
            if (Covers(entry.pattern, host)) {
                return Ok(host + L" is allowed by " + Quoted(entry.name) + L" in " +
                              DescribePlace(list.place),
                          DescribePlace(list.place) + L" value " + entry.name);
            }
        }
    }
    for (const List& list : lists_) {
        if (list.unreadable) return *list.unreadable;
    }
    return Fail(host + L" is not on the pop-up blocker's allowed sites");
}

}  // namespace qtk::companion
