#include "identity/registry_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes.h"

namespace qtk::testing {
namespace {

using namespace std::string_literals;

const std::string kKey = "SOFTWARE\\Probe";
const std::string kOpen = "RegOpenKeyExA SOFTWARE\\Probe root=0x80000002 options=0 access=1";

// The four registry calls of one read that gets as far as the data query.
EventLog FullRead(const std::string& name, std::uint32_t size) {
    return {kOpen, "RegQueryValueExA " + name + " size 0",
            "RegQueryValueExA " + name + " data " + std::to_string(size), "RegCloseKey"};
}

// Thai letters live at 0xA1 and up in code page 874; a reader that widened bytes itself
// instead of asking the codec would produce Latin-1 letters here.
class ThaiCodec : public TextCodec {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out;
        for (char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            out += b >= 0xA1 ? static_cast<wchar_t>(0x0E01 + (b - 0xA1))
                             : static_cast<wchar_t>(b);
        }
        return out;
    }
    std::string ToAnsi(std::wstring_view text) override {
        std::string out;
        for (wchar_t c : text) {
            out += c >= 0x0E01 && c <= 0x0E5B ? static_cast<char>(c - 0x0E01 + 0xA1)
                                              : static_cast<char>(c);
        }
        return out;
    }
};

class RegistryReaderTest : public ::testing::Test {
protected:
    std::wstring Read(const std::string& key, const std::string& name) {
        return ReadRegistryString(registry, codec, messages, kLocalMachine, Widen(key),
                                  Widen(name));
    }

    EventLog log;
    FakeRegistry registry{log};
    Latin1Codec codec;
    RecordingMessages messages{log};
};

TEST_F(RegistryReaderTest, ValueDataLosesItsLastByte) {
    struct Case {
        const char* label;
        std::string bytes;
        std::uint32_t type;
        std::wstring expected;
    };
    const Case cases[] = {
        {"string with its NUL", "abc\0"s, 1, L"abc"},
        {"string without a NUL", "abc", 1, L"ab"},
        {"empty string, a lone NUL", "\0"s, 1, L""},
        {"REG_DWORD 0x04030201", "\x01\x02\x03\x04"s, 4, L"\x01\x02\x03"},
        // Holds no bytes: nothing to drop, and no reason to end the run.
        {"zero-byte value", "", 1, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        registry.SetValue(kKey, "V", c.bytes, c.type);

        EXPECT_EQ(Read(kKey, "V"), c.expected);
        EXPECT_EQ(log, FullRead("V", static_cast<std::uint32_t>(c.bytes.size())));
        EXPECT_EQ(registry.open_keys, 0);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RegistryReaderTest, MissingOrChangingValueIsReadSilentlyAndTheKeyClosed) {
    struct Case {
        const char* label;
        std::string name;
        std::function<void()> between_queries;
        std::uint32_t data_query_size;
        std::wstring expected;
    };
    registry.SetValue(kKey, "Grows", "abc\0"s);
    registry.SetValue(kKey, "Shrinks", "abcdef\0"s);
    const Case cases[] = {
        {"missing value", "Missing", nullptr, 0, L""},
        {"value appears between the queries", "Appears",
         [&] { registry.SetValue(kKey, "Appears", "new\0"s); }, 0, L""},
        {"value grows between the queries", "Grows",
         [&] { registry.SetValue(kKey, "Grows", "abcdef\0"s); }, 4, L""},
        // The count the data query reports is the one that holds, not the buffer's size.
        {"value shrinks between the queries", "Shrinks",
         [&] { registry.SetValue(kKey, "Shrinks", "ab\0"s); }, 7, L"ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        registry.between_queries = c.between_queries;

        EXPECT_EQ(Read(kKey, c.name), c.expected);
        EXPECT_EQ(log, FullRead(c.name, c.data_query_size));
        EXPECT_EQ(registry.open_keys, 0);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RegistryReaderTest, ReportedSizeIsNeverTrustedBeyondTheBuffer) {
    registry.SetValue(kKey, "V", "abc\0"s);
    registry.overstate_data_size = 1000;
    // Only the buffer's bytes count; reading past them would be caught by the sanitizer.
    EXPECT_EQ(Read(kKey, "V"), L"abc");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RegistryReaderTest, KeyThatCannotBeOpenedIsReportedOnEveryCall) {
    registry.DenyKey("SOFTWARE\\Locked", 5);
    struct Case {
        const char* label;
        std::string key;
    };
    const Case cases[] = {{"missing key", kKey}, {"access denied", "SOFTWARE\\Locked"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string open =
            "RegOpenKeyExA " + c.key + " root=0x80000002 options=0 access=1";
        log.clear();
        messages.shown.clear();

        EXPECT_EQ(Read(c.key, "V"), L"");
        EXPECT_EQ(Read(c.key, "V"), L"");
        // No query and no close of a key that never opened; the second call starts over.
        EXPECT_EQ(log, (EventLog{open, "message Error opening key.", open,
                                 "message Error opening key."}));
    }
    EXPECT_EQ(registry.open_keys, 0);
}

TEST_F(RegistryReaderTest, KeyThatCannotBeClosedIsReportedAndTheTextKept) {
    registry.SetValue(kKey, "V", "abc\0"s);
    registry.close_result = 6;

    EXPECT_EQ(Read(kKey, "V"), L"abc");
    EventLog expected = FullRead("V", 4);
    expected.push_back("message Error closing key.");
    EXPECT_EQ(log, expected);
    EXPECT_EQ(messages.shown, std::vector<std::wstring>{L"Error closing key."});
}

TEST_F(RegistryReaderTest, NamesAndDataCrossTheAnsiCodePage) {
    ThaiCodec thai;
    // Key path and value name reach the registry as code-page bytes; data comes back
    // through the same code page.
    registry.SetValue("SOFTWARE\\\xA1\xA2", "\xA3", "\xA1\xA2\xA3\0"s);
    const std::wstring text = ReadRegistryString(registry, thai, messages, kLocalMachine,
                                                 L"SOFTWARE\\\u0E01\u0E02", L"\u0E03");
    EXPECT_EQ(text, L"\u0E01\u0E02\u0E03");
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(registry.open_keys, 0);
}

}  // namespace
}  // namespace qtk::testing
