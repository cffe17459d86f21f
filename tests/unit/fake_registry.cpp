#include "fake_registry.h"

#include <stdexcept>

namespace qtk::companion::testing {
namespace {

std::wstring Trimmed(std::wstring_view path) {
    while (!path.empty() && path.front() == L'\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == L'\\') path.remove_suffix(1);
    return std::wstring(path);
}

}  // namespace

FakeRegistrySource::Side& FakeRegistrySource::SideOf(Hive hive, View view) {
    if (hive == Hive::CurrentUser) return user_;
    return view == View::Bits32 ? machine32_ : machine64_;
}

FakeRegistrySource::Key& FakeRegistrySource::Ensure(Hive hive, View view, std::wstring_view path) {
    Side& side = SideOf(hive, view);
    const std::wstring full = Trimmed(path);
    Key* key = nullptr;
    std::size_t end = 0;
    do {
        end = full.find(L'\\', end + 1);
        const std::wstring prefix = full.substr(0, end);
        Key& entry = side[FoldCase(prefix)];
        if (entry.path.empty()) entry.path = prefix;
        key = &entry;
    } while (end != std::wstring::npos);
    return *key;
}

FakeRegistrySource::Value& FakeRegistrySource::EnsureValue(Hive hive, View view,
                                                           std::wstring_view path,
                                                           std::wstring_view name) {
    Value& value = Ensure(hive, view, path).values[FoldCase(name)];
    value.name = std::wstring(name);
    return value;
}

void FakeRegistrySource::AddKey(Hive hive, View view, std::wstring_view path) {
    Ensure(hive, view, path);
}

void FakeRegistrySource::SetDword(Hive hive, View view, std::wstring_view path,
                                  std::wstring_view name, std::uint32_t value) {
    Value& entry = EnsureValue(hive, view, path, name);
    entry.type = Type::Dword;
    entry.dword = value;
}

void FakeRegistrySource::SetString(Hive hive, View view, std::wstring_view path,
                                   std::wstring_view name, std::wstring_view value) {
    Value& entry = EnsureValue(hive, view, path, name);
    entry.type = Type::String;
    entry.text = std::wstring(value);
}

void FakeRegistrySource::SetDwordOfSize(Hive hive, View view, std::wstring_view path,
                                        std::wstring_view name, std::size_t bytes) {
    Value& entry = EnsureValue(hive, view, path, name);
    entry.type = Type::Dword;
    entry.bad_size = bytes != 4;
}

void FakeRegistrySource::SetOther(Hive hive, View view, std::wstring_view path,
                                  std::wstring_view name) {
    EnsureValue(hive, view, path, name).type = Type::Other;
}

void FakeRegistrySource::DenyOpen(Hive hive, View view, std::wstring_view path, long code) {
    Ensure(hive, view, path).deny_open = code;
}

void FakeRegistrySource::DenyListing(Hive hive, View view, std::wstring_view path, long code) {
    Ensure(hive, view, path).deny_listing = code;
}

void FakeRegistrySource::DenyRead(Hive hive, View view, std::wstring_view path,
                                  std::wstring_view name, long code) {
    EnsureValue(hive, view, path, name).deny = code;
}

long FakeRegistrySource::OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) {
    Side& side = SideOf(hive, view);
    const std::wstring folded = FoldCase(Trimmed(path));
    const auto found = side.find(folded);
    if (found == side.end()) return reg_error::kFileNotFound;
    if (found->second.deny_open != 0) return found->second.deny_open;
    *key = next_handle_++;
    handles_[*key] = Open{&side, folded};
    ++open_handles;
    ++opens;
    return reg_error::kSuccess;
}

FakeRegistrySource::Key* FakeRegistrySource::Find(KeyHandle handle) {
    const auto open = handles_.find(handle);
    if (open == handles_.end()) throw std::logic_error("fake registry: handle not open");
    const auto key = open->second.side->find(open->second.folded);
    return key == open->second.side->end() ? nullptr : &key->second;
}

long FakeRegistrySource::ReadDword(KeyHandle handle, std::wstring_view name,
                                   std::uint32_t* value) {
    Key* key = Find(handle);
    if (key == nullptr) return reg_error::kKeyDeleted;
    const auto found = key->values.find(FoldCase(name));
    if (found == key->values.end()) return reg_error::kFileNotFound;
    if (found->second.deny != 0) return found->second.deny;
    if (found->second.type != Type::Dword) return reg_error::kUnsupportedType;
    if (found->second.bad_size) return reg_error::kInvalidData;
    *value = found->second.dword;
    return reg_error::kSuccess;
}

long FakeRegistrySource::ReadString(KeyHandle handle, std::wstring_view name,
                                    std::wstring* value) {
    Key* key = Find(handle);
    if (key == nullptr) return reg_error::kKeyDeleted;
    const auto found = key->values.find(FoldCase(name));
    if (found == key->values.end()) return reg_error::kFileNotFound;
    if (found->second.deny != 0) return found->second.deny;
    if (found->second.type != Type::String) return reg_error::kUnsupportedType;
    *value = found->second.text;
    return reg_error::kSuccess;
}

long FakeRegistrySource::ListSubkeys(KeyHandle handle, std::vector<std::wstring>* names) {
    Key* key = Find(handle);
    if (key == nullptr) return reg_error::kKeyDeleted;
    if (key->deny_listing != 0) return key->deny_listing;
    names->clear();
    const std::wstring prefix = FoldCase(key->path) + L"\\";
    const Side& side = *handles_.at(handle).side;
    for (auto it = side.lower_bound(prefix); it != side.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        const std::wstring rest = it->second.path.substr(prefix.size());
        if (rest.find(L'\\') == std::wstring::npos) names->push_back(rest);
    }
    return reg_error::kSuccess;
}

long FakeRegistrySource::ListValues(KeyHandle handle, std::vector<std::wstring>* names) {
    Key* key = Find(handle);
    if (key == nullptr) return reg_error::kKeyDeleted;
    if (key->deny_listing != 0) return key->deny_listing;
    names->clear();
    for (const auto& [folded, value] : key->values) names->push_back(value.name);
    return reg_error::kSuccess;
}

void FakeRegistrySource::CloseKey(KeyHandle handle) {
    if (handles_.erase(handle) == 0) throw std::logic_error("fake registry: closed twice");
    --open_handles;
}

}  // namespace qtk::companion::testing
