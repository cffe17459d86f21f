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
    value.raw.reset();  // set as the examination reads it from now on
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

RawValue FakeRegistrySource::RawOf(const Value& entry) {
    if (entry.raw) return *entry.raw;
    RawValue value;
    if (entry.type == Type::Dword) {
        const std::uint32_t d = entry.dword;
        value = RawValue{reg_type::kDword, {static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
                                            static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)}};
        if (entry.bad_size) value.data.resize(2);
    } else if (entry.type == Type::String) {
        value.type = reg_type::kString;
        for (const wchar_t c : entry.text + L'\0') {
            value.data.push_back(static_cast<std::uint8_t>(c));
            value.data.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    } else {
        value = RawValue{reg_type::kBinary, {0xde, 0xad}};
    }
    return value;
}

long FakeRegistrySource::ReadValue(std::wstring_view path, std::wstring_view name,
                                   RawValue* value) {
    const auto key = user_.find(FoldCase(Trimmed(path)));
    if (key == user_.end()) return reg_error::kFileNotFound;
    const auto found = key->second.values.find(FoldCase(name));
    if (found == key->second.values.end()) return reg_error::kFileNotFound;
    if (found->second.deny != 0) return found->second.deny;
    *value = RawOf(found->second);
    return reg_error::kSuccess;
}

long FakeRegistrySource::KeyExists(std::wstring_view path, bool* exists) {
    *exists = user_.count(FoldCase(Trimmed(path))) != 0;
    return reg_error::kSuccess;
}

long FakeRegistrySource::SetValue(std::wstring_view path, std::wstring_view name,
                                  const RawValue& value) {
    const auto key = user_.find(FoldCase(Trimmed(path)));
    if (key != user_.end() && key->second.deny_write != 0) return key->second.deny_write;
    Value& entry = EnsureValue(Hive::CurrentUser, View::Native, path, name);
    entry = Value{std::wstring(name), Type::Other, 0, false, {}, 0, value};
    if (value.type == reg_type::kDword) {
        entry.type = Type::Dword;
        entry.bad_size = value.data.size() != 4;
        for (std::size_t i = 0; i < 4 && i < value.data.size(); ++i) entry.dword |= std::uint32_t{value.data[i]} << (8 * i);
    } else if (value.type == reg_type::kString || value.type == reg_type::kExpandString) {
        entry.type = Type::String;
        for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
            const wchar_t c = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
            if (c == L'\0') break;
            entry.text += c;
        }
    }
    return reg_error::kSuccess;
}

long FakeRegistrySource::DeleteValue(std::wstring_view path, std::wstring_view name) {
    const auto key = user_.find(FoldCase(Trimmed(path)));
    if (key == user_.end()) return reg_error::kSuccess;
    if (key->second.deny_write != 0) return key->second.deny_write;
    key->second.values.erase(FoldCase(name));
    return reg_error::kSuccess;
}

long FakeRegistrySource::DeleteKeyIfEmpty(std::wstring_view path) {
    const std::wstring folded = FoldCase(Trimmed(path));
    const auto key = user_.find(folded);
    if (key == user_.end()) return reg_error::kSuccess;
    if (key->second.deny_write != 0) return key->second.deny_write;
    const auto next = user_.lower_bound(folded + L"\\");
    const bool has_child = next != user_.end() && next->first.compare(0, folded.size() + 1, folded + L"\\") == 0;
    if (key->second.values.empty() && !has_child) user_.erase(key);
    return reg_error::kSuccess;
}

void FakeRegistrySource::DenyWrite(std::wstring_view path, long code) {
    Ensure(Hive::CurrentUser, View::Native, path).deny_write = code;
}

std::wstring FakeRegistrySource::UserExport() const {
    std::wstring text;
    for (const auto& [folded, key] : user_) {
        text += L"[" + key.path + L"]\n";
        for (const auto& [name, value] : key.values) {
            const RawValue raw = RawOf(value);
            text += value.name + L"=" + std::to_wstring(raw.type) + L":";
            for (const std::uint8_t byte : raw.data) text += std::to_wstring(byte) + L",";
            text += L"\n";
        }
    }
    return text;
}

}  // namespace qtk::companion::testing
