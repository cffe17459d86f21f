// An undo file is read back from the user's own profile, where anyone who is that user may
// have written anything. Whatever the bytes: no crash, no read out of bounds, and a file that
// is accepted names only keys a fix may change and survives being written and read again
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "companion/user_fix.h"

using qtk::companion::IsFixableKey;
using qtk::companion::ParsedUndo;
using qtk::companion::ParseUndoFile;
using qtk::companion::UndoFileText;
using qtk::companion::UndoValue;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParsedUndo parsed = ParseUndoFile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.record) return 0;
    for (const UndoValue& value : parsed.record->values) {
        if (!IsFixableKey(value.key)) std::abort();
    }
    const ParsedUndo again = ParseUndoFile(UndoFileText(*parsed.record));
    if (!again.record || again.record->values.size() != parsed.record->values.size() ||
        again.record->created_keys != parsed.record->created_keys ||
        again.record->user_sid != parsed.record->user_sid) {
        std::abort();
    }
    for (std::size_t i = 0; i < again.record->values.size(); ++i) {
        const UndoValue& a = again.record->values[i];
        const UndoValue& b = parsed.record->values[i];
        if (a.key != b.key || a.name != b.name || a.old != b.old || !(a.now == b.now)) std::abort();
    }
    return 0;
}
