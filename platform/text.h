// Small text helpers every part of both programs uses, in one place. All of them are
// ASCII-only on purpose: the names they compare or fold (registry keys, host names,
// service names, ids) are compared by Windows ordinally, and a locale must not change
// their meaning.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace qtk {

// Without the blanks and tabs at either end; with line_ends, CR and LF count as blanks too.
std::wstring_view Trim(std::wstring_view text, bool line_ends = false);

// A-Z to a-z, nothing else changed.
std::wstring FoldCase(std::wstring_view text);

// Whether two names are equal, ASCII letters compared without case.
bool SameName(std::wstring_view a, std::wstring_view b);

// Printable ASCII kept, anything else as '?': for names that must stay single-byte.
std::string AsciiOnly(std::wstring_view text);

// Bytes that are ASCII by contract (ids, group names) as UTF-16.
std::wstring Widen(std::string_view ascii);

// Control characters as '?': a name read from the registry must not start a line of its
// own or move a console's cursor.
std::wstring Printable(std::wstring text);

// UTF-16 as UTF-8; an unpaired surrogate, which has no UTF-8 form, becomes U+FFFD.
std::string Utf8(std::wstring_view text);

// UTF-8 as UTF-16 (UTF-32 where wchar_t is 32 bits); nothing for bytes that are not UTF-8
// (an overlong form, a surrogate, a cut sequence): a file that should be ours is then not.
std::optional<std::wstring> FromUtf8(std::string_view bytes);

// The parts joined, with one allocation however many there are: a long chain of
// operator+ is inlined part by part at -O3.
std::wstring Cat(std::initializer_list<std::wstring_view> parts);

// "0x8010001D".
std::wstring Hex32(std::uint32_t code);

}  // namespace qtk
