// Reads one registry value as text through the ANSI registry functions.
#pragma once

#include <string>
#include <string_view>

#include "platform/seam.h"

namespace qtk {

inline constexpr std::wstring_view kErrorOpeningKey = L"Error opening key.";
inline constexpr std::wstring_view kErrorClosingKey = L"Error closing key.";

// Opens key_path under root for query access, asks for the value's size, reads it into a
// buffer of exactly that size and returns the data without its last byte, converted from
// the ANSI code page. A key that cannot be opened or closed is reported in a message box
// and the call still returns; a value that cannot be read, or holds no bytes, gives empty
// text silently. Never throws for registry trouble.
std::wstring ReadRegistryString(Registry& registry, TextCodec& text, MessageBoxes& messages,
                                RegistryKey root, std::wstring_view key_path,
                                std::wstring_view value_name);

}  // namespace qtk
