#include "companion/registry_source.h"

namespace qtk::companion {

std::wstring DescribePlace(const KeyPlace& place) {
    std::wstring text = place.hive == Hive::CurrentUser ? L"HKCU\\" : L"HKLM\\";
    text += place.path;
    if (place.view == View::Bits32) text += L" (32-bit view)";
    return text;
}

long OpenedKey::Open(RegistrySource& source, const KeyPlace& place) {
    Close();
    KeyHandle handle = 0;
    const long result = source.OpenKey(place.hive, place.path, place.view, &handle);
    if (result == reg_error::kSuccess) {
        source_ = &source;
        handle_ = handle;
    }
    return result;
}

void OpenedKey::Close() {
    if (source_ == nullptr) return;
    source_->CloseKey(handle_);
    source_ = nullptr;
    handle_ = 0;
}

}  // namespace qtk::companion
