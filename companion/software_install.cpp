#include "companion/software_install.h"

#include <optional>

namespace qtk::companion {

std::vector<KeyPlace> UninstallPlaces() {
    const std::wstring path(keys::kUninstall);
    return {
        KeyPlace{Hive::LocalMachine, View::Bits64, path},
        KeyPlace{Hive::LocalMachine, View::Bits32, path},
        KeyPlace{Hive::CurrentUser, View::Bits64, path},
    };
}

bool SameDisplayName(std::wstring_view registered, std::wstring_view wanted) {
    return SameName(Trim(registered), Trim(wanted));
}

SoftwareInstallExaminer::SoftwareInstallExaminer(RegistrySource& registry) : registry_(registry) {
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
            installed_[FoldCase(Trim(name))].push_back(product_place);
        }
    }
}

Finding SoftwareInstallExaminer::Examine(const SoftwarePackage& package) const {
    const auto found = installed_.find(FoldCase(Trim(package.display_name)));
    if (found != installed_.end()) {
        return Ok(L"installed: \"" + std::wstring(package.display_name) + L"\" under " +
                      DescribePlace(found->second.front()),
                  DescribePlace(found->second.front()) + L" value DisplayName");
    }
    if (unreadable_) return *unreadable_;
    return Fail(L"not installed: no DisplayName \"" + std::wstring(package.display_name) +
                L"\" under the Uninstall keys of HKLM (64- and 32-bit views) and HKCU");
}

namespace {

// "\"C:\\Program Files\\X\\x.exe\",0" and the like, as DisplayIcon holds it: the folder.
std::wstring IconFolder(std::wstring_view icon) {
    std::wstring path(icon);
    if (!path.empty() && path.front() == L'"') {
        const std::size_t close = path.find(L'"', 1);
        path = path.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else if (const std::size_t comma = path.rfind(L','); comma != std::wstring::npos) {
        path.resize(comma);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L"";
    path.resize(slash);
    return path;
}

bool Absolute(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

}  // namespace

PackagePlace SoftwareInstallExaminer::Locate(const SoftwarePackage& package) const {
    PackagePlace located;
    const auto found = installed_.find(FoldCase(Trim(package.display_name)));
    if (found == installed_.end()) return located;
    located.found = true;
    located.entry = DescribePlace(found->second.front());
    for (const KeyPlace& place : found->second) {
        OpenedKey key;
        if (key.Open(registry_, place) != reg_error::kSuccess) continue;
        std::wstring folder;
        if (registry_.ReadString(key.Handle(), L"InstallLocation", &folder) != reg_error::kSuccess ||
            !Absolute(folder)) {
            // Many MSI packages leave InstallLocation empty but name their icon.
            std::wstring icon;
            folder = registry_.ReadString(key.Handle(), L"DisplayIcon", &icon) == reg_error::kSuccess
                         ? IconFolder(icon)
                         : L"";
        }
        while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
        if (Absolute(folder)) {
            located.entry = DescribePlace(place);
            located.folder = std::move(folder);
            return located;
        }
    }
    return located;
}

Finding ExamineSoftwareInstall(RegistrySource& registry, const SoftwarePackage& package) {
    return SoftwareInstallExaminer(registry).Examine(package);
}

}  // namespace qtk::companion
