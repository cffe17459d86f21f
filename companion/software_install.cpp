#include "companion/software_install.h"

#include <optional>

namespace qtk::companion {
namespace {

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::vector<KeyPlace> UninstallPlaces() {
    const std::wstring path(keys::kUninstall);
    return {
        KeyPlace{Hive::LocalMachine, View::Bits64, path},
        KeyPlace{Hive::LocalMachine, View::Bits32, path},
        KeyPlace{Hive::CurrentUser, View::Bits64, path},
    };
}

bool SameDisplayName(std::wstring_view registered, std::wstring_view wanted) {
    return SameName(TrimBlanks(registered), TrimBlanks(wanted));
}

SoftwareInstallExaminer::SoftwareInstallExaminer(RegistrySource& registry) {
    const auto note = [&](Finding finding) {
        if (!unreadable_) unreadable_ = std::move(finding);
    };
    for (const KeyPlace& place : UninstallPlaces()) {
        OpenedKey uninstall;
        const long opened = uninstall.Open(registry, place);
        if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) continue;
        if (opened != reg_error::kSuccess) {
            note(CannotLook(opened, place));
            continue;
        }
        std::vector<std::wstring> products;
        if (const long listed = registry.ListSubkeys(uninstall.Handle(), &products);
            listed != reg_error::kSuccess) {
            note(CannotLook(listed, place));
            continue;
        }
        for (const std::wstring& product : products) {
            const KeyPlace product_place = place.Child(product);
            OpenedKey key;
            const long product_opened = key.Open(registry, product_place);
            // Gone between the listing and now: an uninstall running meanwhile.
            if (product_opened == reg_error::kFileNotFound) continue;
            if (product_opened != reg_error::kSuccess) {
                note(CannotLook(product_opened, product_place));
                continue;
            }
            std::wstring name;
            const long read = registry.ReadString(key.Handle(), L"DisplayName", &name);
            // Keys without a DisplayName, or with one of another type, are updates and
            // components that no list of installed programs shows.
            if (read == reg_error::kFileNotFound || read == reg_error::kUnsupportedType) continue;
            if (read != reg_error::kSuccess) {
                note(CannotLook(read, product_place, L"DisplayName"));
                continue;
            }
            installed_.emplace(FoldCase(TrimBlanks(name)), product_place);
        }
    }
}

Finding SoftwareInstallExaminer::Examine(const SoftwarePackage& package) const {
    const auto found = installed_.find(FoldCase(TrimBlanks(package.display_name)));
    if (found != installed_.end()) {
        return Ok(L"installed: \"" + std::wstring(package.display_name) + L"\" under " +
                      DescribePlace(found->second),
                  DescribePlace(found->second) + L" value DisplayName");
    }
    if (unreadable_) return *unreadable_;
    return Fail(L"not installed: no DisplayName \"" + std::wstring(package.display_name) +
                L"\" under the Uninstall keys of HKLM (64- and 32-bit views) and HKCU");
}

Finding ExamineSoftwareInstall(RegistrySource& registry, const SoftwarePackage& package) {
    return SoftwareInstallExaminer(registry).Examine(package);
}

}  // namespace qtk::companion
