#include "companion/user_fix.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "companion/registry_source.h"
#include "platform/text.h"

namespace qtk::companion {
namespace {

using nlohmann::ordered_json;

constexpr char kFormat[] = "tkexamine-undo";
constexpr int kFormatVersion = 1;

constexpr std::wstring_view kDomains =
    L"software\\microsoft\\windows\\currentversion\\internet settings\\zonemap\\domains\\";
constexpr std::wstring_view kTrustedZone =
    L"software\\microsoft\\windows\\currentversion\\internet settings\\zones\\2";
constexpr std::wstring_view kPopupAllow = L"software\\microsoft\\internet explorer\\new windows\\allow";

std::vector<std::wstring_view> Components(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = path.find(L'\\', start);
        parts.push_back(path.substr(start, cut == std::wstring_view::npos ? cut : cut - start));
        if (cut == std::wstring_view::npos) return parts;
        start = cut + 1;
    }
}

bool WellFormedPath(std::wstring_view path) {
    for (const std::wstring_view part : Components(path)) {
        if (part.empty() || part == L"." || part == L"..") return false;
    }
    return true;
}

// Whether ancestor is key itself or one of the keys above it.
bool AncestorOrSelf(std::wstring_view ancestor, std::wstring_view key) {
    const std::wstring a = FoldCase(ancestor);
    const std::wstring k = FoldCase(key);
    return k == a || (k.size() > a.size() && k.compare(0, a.size(), a) == 0 && k[a.size()] == L'\\');
}

std::string Hex(const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(data.size() * 2);
    for (const std::uint8_t byte : data) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<std::uint8_t> data;
    data.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        data.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return data;
}

// FNV-1a, 64 bits: catches a file edited by hand or cut short; it is no signature, and
// needs none: an undo only ever writes the user's own values the user may write anyway.
std::string CheckSum(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char byte : bytes) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ull;
    }
    char text[17];
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = kDigits[hash & 15];
    text[16] = '\0';
    return text;
}

ordered_json ValueJson(const RawValue& value) {
    return ordered_json{{"type", value.type}, {"data", Hex(value.data)}};
}

std::optional<RawValue> ValueFrom(const ordered_json& json) {
    if (!json.is_object() || json.size() != 2 || !json.contains("type") || !json.contains("data")) {
        return std::nullopt;
    }
    const ordered_json& type = json["type"];
    const ordered_json& data = json["data"];
    if (!type.is_number_unsigned() || type.get<std::uint64_t>() > 0xFFFFFFFFull || !data.is_string()) {
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes = FromHex(data.get<std::string>());
    if (!bytes) return std::nullopt;
    return RawValue{type.get<std::uint32_t>(), std::move(*bytes)};
}

std::optional<std::wstring> TextFrom(const ordered_json& json, const char* name) {
    if (!json.contains(name) || !json[name].is_string()) return std::nullopt;
    return FromUtf8(json[name].get<std::string>());
}

RawValue NewData(const RegistryChange& change) {
    if (change.empty_binary) return RawValue{reg_type::kBinary, {}};
    const std::uint32_t d = change.dword;
    return RawValue{reg_type::kDword,
                    {static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
                     static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)}};
}

// A pop-up host's value counts by its name alone: any data there is the fix's own.
bool HoldsNew(const UndoValue& value, const std::optional<RawValue>& current) {
    if (!current) return false;
    if (value.now.type == reg_type::kBinary && value.now.data.empty()) {
        return current->type == reg_type::kBinary;
    }
    return *current == value.now;
}

Failure RegistryFailure(long code, std::wstring action, std::wstring_view key, std::wstring_view name) {
    return Failure{static_cast<std::uint32_t>(code), std::move(action),
                   ValuePlace(key, name, {})};
}

std::wstring ChangeLine(const UndoValue& value, std::wstring_view user_root) {
    return Cat({L"  ", Printable(ValuePlace(value.key, value.name, user_root)), L": ", ValueText(value.old),
                L" -> ", ValueText(value.now), L" [", Widen(value.row_id), L"]\n"});
}

std::wstring LeftAloneText(const FixPlan& plan) {
    std::wstring text;
    if (!plan.held.empty()) {
        text += L"Left alone, held by a policy:\n";
        for (const HeldRow& held : plan.held) text += Cat({L"  ", Widen(held.row_id), L": ", held.reason, L"\n"});
    }
    if (!plan.machine_rows.empty()) {
        text += L"Left alone, the machine's settings (an administrator must change them):\n";
        for (const std::string& id : plan.machine_rows) text += L"  " + Widen(id) + L"\n";
    }
    return text;
}

}  // namespace

std::wstring FixPlanText(const FixPlan& plan, const UndoRecord& record, std::wstring_view user_root) {
    std::wstring text;
    if (record.values.empty()) {
        text = L"Nothing for a fix to change in this user's own settings.\n";
    } else {
        text = L"A fix would change (nothing is changed now):\n";
        for (const UndoValue& value : record.values) text += ChangeLine(value, user_root);
    }
    return text + LeftAloneText(plan);
}

bool IsFixableKey(std::wstring_view key) {
    if (!WellFormedPath(key)) return false;
    const std::wstring folded = FoldCase(key);
    if (folded == kTrustedZone || folded == kPopupAllow) return true;
    if (folded.size() <= kDomains.size() || folded.compare(0, kDomains.size(), kDomains) != 0) {
        return false;
    }
    // the domain key, or one host (or wildcard) below it
    return Components(std::wstring_view(folded).substr(kDomains.size())).size() <= 2;
}

std::wstring ValuePlace(std::wstring_view key, std::wstring_view name, std::wstring_view user_root) {
    const std::wstring_view root = user_root.empty() ? std::wstring_view(L"HKCU") : user_root;
    if (name.empty()) return Cat({root, L"\\", key});
    return Cat({root, L"\\", key, L" value ", name});
}

std::wstring ValueText(const std::optional<RawValue>& value) {
    if (!value) return L"absent";
    const std::vector<std::uint8_t>& d = value->data;
    if (value->type == reg_type::kDword && d.size() == 4) {
        return L"REG_DWORD " + std::to_wstring(std::uint32_t{d[0]} | std::uint32_t{d[1]} << 8 |
                                               std::uint32_t{d[2]} << 16 | std::uint32_t{d[3]} << 24);
    }
    if (value->type == reg_type::kBinary && d.empty()) return L"REG_BINARY (empty)";
    if ((value->type == reg_type::kString || value->type == reg_type::kExpandString) && d.size() % 2 == 0 &&
        d.size() <= 128) {
        std::wstring text;
        for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
            const auto c = static_cast<wchar_t>(d[i] | d[i + 1] << 8);
            if (c == L'\0') break;
            text += c;
        }
        return (value->type == reg_type::kString ? L"REG_SZ \"" : L"REG_EXPAND_SZ \"") +
               Printable(text) + L"\"";
    }
    return L"type " + std::to_wstring(value->type) + L", " + std::to_wstring(d.size()) + L" bytes";
}

std::wstring FixOutcomeText(const FixPlan& plan, const UndoRecord& record, std::size_t applied,
                            const std::vector<CheckResult>& after, std::wstring_view undo_path,
                            std::wstring_view user_root) {
    std::wstring text = Cat({L"Fix of this user's own settings (",
                             user_root.empty() ? std::wstring_view(L"HKCU") : user_root, L"):\n"});
    if (!undo_path.empty()) {
        text += Cat({L"Undo file: ", undo_path, L"\n  to put it all back: tkexamine --undo \"", undo_path,
                     L"\"\n"});
    }
    std::vector<std::string> changed_rows;
    if (record.values.empty()) {
        text += L"Nothing changed: no failing check of this user's own settings needs a change.\n";
    } else if (applied == 0) {
        text += L"Nothing changed: the fix stopped before its first change (the error is on the "
                L"standard error).\n";
    } else {
        if (applied < record.values.size()) {
            text += Cat({L"The fix stopped after ", std::to_wstring(applied), L" of ",
                         std::to_wstring(record.values.size()),
                         L" changes (the error is on the standard error); the undo file puts back "
                         L"those made.\n"});
        }
        text += L"Changed:\n";
        for (std::size_t i = 0; i < applied && i < record.values.size(); ++i) {
            const UndoValue& value = record.values[i];
            text += ChangeLine(value, user_root);
            if (std::find(changed_rows.begin(), changed_rows.end(), value.row_id) == changed_rows.end()) {
                changed_rows.push_back(value.row_id);
            }
        }
    }
    const auto verdict_of = [&](const std::string& id) {
        const auto row = std::find_if(after.begin(), after.end(), [&](const CheckResult& r) { return r.id == id; });
        return row == after.end() ? RowVerdict::Undecided : row->verdict;
    };
    std::size_t fixed = 0;
    for (const std::string& id : changed_rows) {
        if (verdict_of(id) != RowVerdict::Pass) continue;
        if (fixed++ == 0) text += L"Fixed, now passing:\n";
        text += L"  " + Widen(id) + L"\n";
    }
    text += LeftAloneText(plan);
    const auto left_alone = [&](const std::string& id) {
        return std::any_of(plan.held.begin(), plan.held.end(), [&](const HeldRow& h) { return h.row_id == id; }) ||
               std::find(plan.machine_rows.begin(), plan.machine_rows.end(), id) != plan.machine_rows.end();
    };
    std::size_t still = 0;
    for (const CheckResult& row : after) {
        if (row.verdict != RowVerdict::Fail || left_alone(row.id)) continue;
        if (still++ == 0) text += L"Still failing:\n";
        text += Cat({L"  ", Widen(row.id), L": ", Printable(row.reason), L"\n"});
    }
    text += Cat({L"Fix: ", std::to_wstring(applied), L" values changed, ", std::to_wstring(fixed),
                 L" checks fixed, ", std::to_wstring(plan.held.size()), L" held by a policy, ",
                 std::to_wstring(plan.machine_rows.size()), L" machine checks left alone, ",
                 std::to_wstring(still), L" still failing"});
    if (!undo_path.empty()) text += Cat({L"; undo file: ", undo_path});
    return text + L"\n";
}

std::optional<Failure> RecordUndo(const FixPlan& plan, UserHive& hive, UndoRecord* record) {
    for (const RegistryChange& change : plan.changes) {
        const std::wstring& key = change.key.path;
        if (change.key.hive != Hive::CurrentUser || !IsFixableKey(key)) {
            return Failure{win_error::kAccessDenied, L"A fix never changes", DescribePlace(change.key)};
        }
        RawValue current;
        const long read = hive.ReadValue(key, change.value, &current);
        if (read != win_error::kSuccess && read != win_error::kFileNotFound) {
            return RegistryFailure(read, L"Cannot read", key, change.value);
        }
        UndoValue value{change.row_id, key, change.value, std::nullopt, NewData(change)};
        if (read == win_error::kSuccess) value.old = std::move(current);
        if (HoldsNew(value, value.old)) continue;
        // The keys missing on the way, from the top down.
        std::vector<std::wstring> missing;
        for (std::wstring path = key; !AncestorOrSelf(path, L"Software\\Microsoft");) {
            bool exists = false;
            const long probed = hive.KeyExists(path, &exists);
            if (probed != win_error::kSuccess) return RegistryFailure(probed, L"Cannot open", path, {});
            if (exists) break;
            missing.insert(missing.begin(), path);
            path.erase(path.rfind(L'\\'));
        }
        for (std::wstring& path : missing) {
            const bool known = std::any_of(record->created_keys.begin(), record->created_keys.end(),
                                           [&](const std::wstring& k) { return SameName(k, path); });
            if (!known) record->created_keys.push_back(std::move(path));
        }
        record->values.push_back(std::move(value));
    }
    return std::nullopt;
}

std::string UndoFileText(const UndoRecord& record) {
    ordered_json file;
    file["format"] = kFormat;
    file["version"] = kFormatVersion;
    file["user_sid"] = Utf8(record.user_sid);
    file["computer_name"] = Utf8(record.computer_name);
    file["made_utc"] = record.made_utc;
    file["created_keys"] = ordered_json::array();
    for (const std::wstring& key : record.created_keys) file["created_keys"].push_back(Utf8(key));
    file["values"] = ordered_json::array();
    for (const UndoValue& value : record.values) {
        file["values"].push_back({{"row", value.row_id},
                                  {"key", Utf8(value.key)},
                                  {"name", Utf8(value.name)},
                                  {"old", value.old ? ValueJson(*value.old) : ordered_json(nullptr)},
                                  {"new", ValueJson(value.now)}});
    }
    file["check"] = CheckSum(file.dump());
    return file.dump(2) + "\n";
}

ParsedUndo ParseUndoFile(std::string_view bytes) {
    const auto refuse = [](std::wstring why) { return ParsedUndo{std::nullopt, std::move(why)}; };
    constexpr wchar_t kNotOurs[] = L"it is not an undo file of tkexamine";
    ordered_json file = ordered_json::parse(bytes, nullptr, false);
    if (file.is_discarded() || !file.is_object()) return refuse(kNotOurs);
    if (!file.contains("format") || file["format"] != kFormat) return refuse(kNotOurs);
    if (!file.contains("version") || file["version"] != kFormatVersion) {
        return refuse(L"it is an undo file of another version of tkexamine");
    }
    if (!file.contains("check") || !file["check"].is_string()) return refuse(kNotOurs);
    const std::string check = file["check"].get<std::string>();
    file.erase("check");
    if (CheckSum(file.dump()) != check) {
        return refuse(L"it was changed after tkexamine wrote it (its check sum does not match)");
    }
    const auto bad = [&](const std::wstring& what) { return refuse(L"it holds " + what); };
    UndoRecord record;
    const std::optional<std::wstring> sid = TextFrom(file, "user_sid");
    const std::optional<std::wstring> computer = TextFrom(file, "computer_name");
    if (!sid || !computer || !file.contains("made_utc") || !file["made_utc"].is_string()) {
        return bad(L"no user, computer or time");
    }
    record.user_sid = *sid;
    record.computer_name = *computer;
    record.made_utc = file["made_utc"].get<std::string>();
    if (!file.contains("values") || !file["values"].is_array() || !file.contains("created_keys") ||
        !file["created_keys"].is_array()) {
        return bad(L"no list of values");
    }
    for (const ordered_json& entry : file["values"]) {
        if (!entry.is_object()) return bad(L"a value that is not one");
        const std::optional<std::wstring> key = TextFrom(entry, "key");
        const std::optional<std::wstring> name = TextFrom(entry, "name");
        if (!key || !name || !entry.contains("row") || !entry["row"].is_string() ||
            !entry.contains("old") || !entry.contains("new")) {
            return bad(L"a value without its key, name, row or data");
        }
        if (!IsFixableKey(*key)) return bad(L"a key that a fix never changes: HKCU\\" + Printable(*key));
        std::optional<RawValue> now = ValueFrom(entry["new"]);
        std::optional<RawValue> old;
        if (!entry["old"].is_null()) {
            old = ValueFrom(entry["old"]);
            if (!old) return bad(L"unreadable data for " + Printable(*name));
        }
        if (!now) return bad(L"unreadable data for " + Printable(*name));
        record.values.push_back({entry["row"].get<std::string>(), *key, *name, std::move(old), *now});
    }
    for (const ordered_json& entry : file["created_keys"]) {
        std::optional<std::wstring> key =
            entry.is_string() ? FromUtf8(entry.get<std::string>()) : std::nullopt;
        if (!key) return bad(L"an unreadable key");
        const bool below_fixed = std::any_of(record.values.begin(), record.values.end(),
                                             [&](const UndoValue& v) { return AncestorOrSelf(*key, v.key); });
        if (!below_fixed || !WellFormedPath(*key) || !AncestorOrSelf(L"Software\\Microsoft", *key) ||
            SameName(*key, L"Software\\Microsoft")) {
            return bad(L"a key that a fix never creates: HKCU\\" + Printable(*key));
        }
        record.created_keys.push_back(std::move(*key));
    }
    return ParsedUndo{std::move(record), {}};
}

Applied ApplyFix(const UndoRecord& record, UserHive& hive,
                 const std::function<void(std::size_t)>& after_each) {
    Applied applied;
    for (const UndoValue& value : record.values) {
        const long set = hive.SetValue(value.key, value.name, value.now);
        if (set != win_error::kSuccess) {
            applied.failure = RegistryFailure(set, L"Cannot set", value.key, value.name);
            return applied;
        }
        ++applied.values;
        if (after_each) after_each(applied.values);
    }
    return applied;
}

std::vector<std::wstring> UndoState::ChangedSince(const UndoRecord& record) const {
    std::vector<std::wstring> changed;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] == ValueNow::ChangedSince) {
            changed.push_back(ValuePlace(record.values[i].key, record.values[i].name, {}));
        }
    }
    return changed;
}

UndoState InspectUndo(const UndoRecord& record, UserHive& hive) {
    UndoState state;
    for (const UndoValue& value : record.values) {
        RawValue read;
        const long result = hive.ReadValue(value.key, value.name, &read);
        if (result != win_error::kSuccess && result != win_error::kFileNotFound) {
            state.failure = RegistryFailure(result, L"Cannot read", value.key, value.name);
            return state;
        }
        std::optional<RawValue> current;
        if (result == win_error::kSuccess) current = std::move(read);
        if (current == value.old) {
            state.values.push_back(ValueNow::AsBefore);
        } else if (HoldsNew(value, current)) {
            state.values.push_back(ValueNow::AsFixSetIt);
        } else {
            state.values.push_back(ValueNow::ChangedSince);
        }
    }
    return state;
}

Applied ApplyUndo(const UndoRecord& record, const UndoState& state, UserHive& hive, bool force) {
    Applied applied;
    for (std::size_t i = record.values.size(); i-- > 0;) {
        const UndoValue& value = record.values[i];
        const ValueNow now = state.values[i];
        if (now == ValueNow::AsBefore || (now == ValueNow::ChangedSince && !force)) continue;
        const long result = value.old ? hive.SetValue(value.key, value.name, *value.old)
                                      : hive.DeleteValue(value.key, value.name);
        if (result != win_error::kSuccess) {
            applied.failure = RegistryFailure(result, L"Cannot put back", value.key, value.name);
            return applied;
        }
        ++applied.values;
    }
    for (auto key = record.created_keys.rbegin(); key != record.created_keys.rend(); ++key) {
        const long result = hive.DeleteKeyIfEmpty(*key);
        if (result != win_error::kSuccess) {
            applied.failure = RegistryFailure(result, L"Cannot remove the key", *key, {});
            return applied;
        }
    }
    return applied;
}

}  // namespace qtk::companion
