#include "identity/os_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "platform/text_stream.h"

namespace qtk::testing {
namespace {

using namespace std::string_literals;

const std::string kName = "outwinversion.txt";
const std::wstring kPath(L"C:\\tmptk\\outwinversion.txt");
constexpr std::wstring_view kProduct = L"Windows 7 Professional";
constexpr std::wstring_view kServicePack = L"Service Pack 1";
constexpr std::size_t kChunk = TextStream::kChunkBytes;

std::string Utf16(std::u16string_view text, bool little_endian) {
    std::string out = little_endian ? "\xFF\xFE"s : "\xFE\xFF"s;
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += little_endian ? std::string{low, high} : std::string{high, low};
    }
    return out;
}

struct VersionFile {
    EventLog log;
    DirFileSystem files{log};
    Latin1Codec codec;

    std::wstring Read(const std::string& bytes) {
        files.Write(kName, bytes);
        return ReadVersionLine(files, codec, kPath);
    }
};

TEST(ReadVersionLineTest, FirstLineAndTheOsLineItGives) {
    const struct {
        const char* name;
        std::string bytes;
        std::wstring line;
        std::wstring os;
    } cases[] = {
        {"fail without line end", "fail", L"fail", L"Windows 7 Professional Service Pack 1"},
        {"fail then CR LF", "fail\r\n", L"fail", L"Windows 7 Professional Service Pack 1"},
        {"fail then CR", "fail\rmore", L"fail", L"Windows 7 Professional Service Pack 1"},
        {"only the first line counts", "fail\r\nWindows 10\r\n", L"fail",
         L"Windows 7 Professional Service Pack 1"},
        {"capitalised Fail", "Fail\r\n", L"Fail", L"Windows 7 Professional Fail"},
        {"upper case FAIL", "FAIL", L"FAIL", L"Windows 7 Professional FAIL"},
        {"fail and a blank", "fail \r\n", L"fail ", L"Windows 7 Professional fail "},
        {"failed", "failed\r\n", L"failed", L"Windows 7 Professional failed"},
        {"empty first line", "\r\nfail", L"", L"Windows 7 Professional "},
        {"empty first line, lone CR", "\r", L"", L"Windows 7 Professional "},
        {"a lone LF does not end the line", "fail\nx\r\n", L"fail\nx",
         L"Windows 7 Professional fail\nx"},
        {"leading LF is kept", "\nfail", L"\nfail", L"Windows 7 Professional \nfail"},
        {"blanks, commas and quotes kept", "  6.1.7601, \"SP1\"\t\r\n", L"  6.1.7601, \"SP1\"\t",
         L"Windows 7 Professional   6.1.7601, \"SP1\"\t"},
        {"Latin-1 letters", "Versi\xF3n 6.1", L"Versi\u00F3n 6.1",
         L"Windows 7 Professional Versi\u00F3n 6.1"},
        {"UTF-8 fail", "\xEF\xBB\xBF" "fail\r\n", L"fail",
         L"Windows 7 Professional Service Pack 1"},
        {"UTF-8 mark only", "\xEF\xBB\xBF", L"", L"Windows 7 Professional "},
        {"UTF-16LE fail", Utf16(u"fail\r\n", true), L"fail",
         L"Windows 7 Professional Service Pack 1"},
        {"UTF-16BE fail", Utf16(u"fail\r\n", false), L"fail",
         L"Windows 7 Professional Service Pack 1"},
        {"UTF-16LE other line", Utf16(u"6.1\n7601\r\n", true), L"6.1\n7601",
         L"Windows 7 Professional 6.1\n7601"},
        {"CR right after the first chunk", std::string(kChunk, 'v') + "\r\nfail",
         std::wstring(kChunk, L'v'), L"Windows 7 Professional " + std::wstring(kChunk, L'v')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VersionFile file;
        const std::wstring line = file.Read(c.bytes);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(ComposeOsLine(kProduct, kServicePack, line), c.os);
        EXPECT_EQ(file.files.open_files, 0);
    }
}

TEST(ReadVersionLineTest, KeepsABoundedHeadOfAnOverlongLine) {
    VersionFile file;
    const std::string bytes = std::string(3 * kChunk, 'a') + "b\r\nfail" + std::string(2 * kChunk, 'z');
    const std::wstring line = file.Read(bytes);
    EXPECT_EQ(line, std::wstring(kVersionLineLimit, L'a'));
    // The line is read to its CR, and not a chunk further.
    EXPECT_GE(file.files.bytes_read, 3 * kChunk + 2);
    EXPECT_LE(file.files.bytes_read, 4 * kChunk);
}

TEST(ReadVersionLineTest, StopsReadingAtTheFirstLineEnd) {
    VersionFile file;
    std::string bytes = "fail\r\n";
    bytes.resize(1u << 20, 'x');
    EXPECT_EQ(file.Read(bytes), L"fail");
    EXPECT_LE(file.files.bytes_read, kChunk);
}

TEST(ReadVersionLineTest, FailuresNameTheOsVersionFile) {
    const struct {
        const char* name;
        void (*arrange)(DirFileSystem&);
        std::uint32_t code;
        std::wstring action;
    } cases[] = {
        {"zero bytes", [](DirFileSystem& fs) { fs.Write(kName, ""); }, win_error::kHandleEof,
         L"The OS-version file is empty"},
        {"missing", [](DirFileSystem&) {}, win_error::kFileNotFound,
         L"Cannot open the OS-version file"},
        {"directory at the path", [](DirFileSystem& fs) { fs.MakeDirectory(kName); },
         win_error::kAccessDenied, L"Cannot open the OS-version file"},
        {"locked by another process",
         [](DirFileSystem& fs) {
             fs.Write(kName, "fail\r\n");
             fs.FailOpen(kName, win_error::kSharingViolation);
         },
         win_error::kSharingViolation, L"Cannot open the OS-version file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VersionFile file;
        c.arrange(file.files);
        try {
            ReadVersionLine(file.files, file.codec, kPath);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, c.code);
            EXPECT_EQ(failure.action, c.action);
            EXPECT_EQ(failure.subject, kPath);
        }
        EXPECT_EQ(file.files.open_files, 0);
    }
}

TEST(ComposeOsLineTest, OneBlankAlwaysJoinsTheParts) {
    const struct {
        const char* name;
        std::wstring_view product, service_pack, version_line;
        std::wstring os;
    } cases[] = {
        {"fail picks the service pack", L"Windows XP", L"Service Pack 3", L"fail",
         L"Windows XP Service Pack 3"},
        {"fail without a service pack", L"Windows XP", L"", L"fail", L"Windows XP "},
        {"any other line is shown", L"Windows XP", L"Service Pack 3", L"5.1.2600",
         L"Windows XP 5.1.2600"},
        {"empty line", L"Windows XP", L"Service Pack 3", L"", L"Windows XP "},
        {"no product name", L"", L"Service Pack 3", L"fail", L" Service Pack 3"},
        {"nothing at all", L"", L"", L"", L" "},
        {"fail is matched whole", L"P", L"SP", L"fai", L"P fai"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComposeOsLine(c.product, c.service_pack, c.version_line), c.os);
    }
}

}  // namespace
}  // namespace qtk::testing
