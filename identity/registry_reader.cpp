#include "identity/registry_reader.h"

#include <algorithm>
#include <cstdint>

namespace qtk {

std::wstring ReadRegistryString(Registry& registry, TextCodec& text, MessageBoxes& messages,
                                RegistryKey root, std::wstring_view key_path,
                                std::wstring_view value_name) {
    std::wstring result;
    std::uint32_t size = 0;

    RegistryKey key = 0;
    if (registry.OpenKeyA(root, text.ToAnsi(key_path), 0, kKeyQueryValue, &key) !=
        win_error::kSuccess) {
        // Nothing was opened, so there is nothing to close; the caller carries on with
        // empty text and the user has been told once.
        messages.ShowMessage(kErrorOpeningKey);
        return result;
    }

    const std::string name = text.ToAnsi(value_name);
    std::uint32_t type = 0;
    // A failed size query (the value is missing, say) leaves size at 0; the data query
    // below then fails the same way and the result stays empty, which is all we want.
    registry.QueryValueA(key, name, &type, nullptr, &size);

    // Never a null pointer, even for size 0: a null data pointer would turn the second call
    // into another size query and report success with no bytes read.
    std::string buffer(size, ' ');
    std::uint32_t reported = size;
    const long read = registry.QueryValueA(
        key, name, &type, reinterpret_cast<unsigned char*>(buffer.data()), &reported);
    if (read == win_error::kSuccess) {
        // A string value is stored with its terminating NUL, which is the last byte; other
        // types lose their last byte the same way. The count is the one this query reported,
        // since the value may have shrunk since the size query, and it never exceeds the
        // buffer, whatever the registry claims.
        const std::size_t written = std::min<std::size_t>(reported, buffer.size());
        // A value that holds no bytes at all is simply empty text: there is no byte to
        // drop, and it is no reason to stop the diagnosis.
        if (written > 0) result = text.FromAnsi(std::string_view(buffer.data(), written - 1));
    }
    // Any other outcome (missing value, one that grew since the size query) leaves the
    // result empty without a word: the caller shows what it got.

    if (registry.CloseKey(key) != win_error::kSuccess) {
        // The text was read all the same, so it is kept.
        messages.ShowMessage(kErrorClosingKey);
    }
    return result;
}

}  // namespace qtk
