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
            if (const long listed = registry.ListValues(key.Handle(), &list.names);
                listed != reg_error::kSuccess) {
                list.names.clear();
                list.unreadable = CannotLook(listed, place);
            }
        } else if (opened != reg_error::kFileNotFound && opened != reg_error::kPathNotFound) {
            list.unreadable = CannotLook(opened, place);
        }
        lists_.push_back(std::move(list));
    }
}

Finding PopupExaminer::Examine(const PopupSite& site) const {
    const std::wstring host = FoldCase(site.host);
    for (const List& list : lists_) {
        for (const std::wstring& name : list.names) {
            // The dialog stores bare hosts, but a list filled by hand may carry a scheme or
            // a trailing slash; those name the same host.
            const std::optional<SiteName> entry = ParseSiteName(name);
            if (entry && Covers(entry->pattern, host)) {
                return Ok(host + L" is allowed by \"" + name + L"\" in " +
                              DescribePlace(list.place),
                          DescribePlace(list.place) + L" value " + name);
            }
        }
    }
    for (const List& list : lists_) {
        if (list.unreadable) return *list.unreadable;
    }
    return Fail(host + L" is not on the pop-up blocker's allowed sites");
}

}  // namespace qtk::companion
