// The dump's own logic: its command line, its JSON and its hashes.
#include "hosts/dump/DumpArguments.h"
#include "hosts/dump/DumpReport.h"
#include "hosts/dump/Json.h"
#include "hosts/dump/Sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Json(std::wstring_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

TEST(JsonString, EscapesWhatJsonRequiresAndWritesTheRestAsUtf8) {
    EXPECT_EQ(Json(L""), "\"\"");
    EXPECT_EQ(Json(L"a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(Json(L"\r\n\t\b\f"), "\"\\r\\n\\t\\b\\f\"");
    EXPECT_EQ(Json(std::wstring(L"\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\"");
    EXPECT_EQ(Json(std::wstring(L"a\0b", 3)), "\"a\\u0000b\"");  // an embedded NUL is kept
    EXPECT_EQ(Json(L"\u00e9\u20ac"), "\"\xC3\xA9\xE2\x82\xAC\"");
    EXPECT_EQ(Json(L"\u07ff\u0800\uffff"), "\"\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\"");
    // A surrogate pair is one character; a lone surrogate keeps its escape.
    EXPECT_EQ(Json(L"\xD83D\xDE00"), "\"\xF0\x9F\x98\x80\"");
    EXPECT_EQ(Json(std::wstring(L"x\xD83D", 2)), "\"x\\ud83d\"");
    EXPECT_EQ(Json(std::wstring(L"\xDE00\xD83D" L"y", 3)), "\"\\ude00\\ud83dy\"");
}

TEST(JsonReport, KeysInOrderNullsWhereNothingIsKnown) {
    DumpReport report;
    EXPECT_EQ(ToJson(report), "{\"result\":\"0x00000000\",\"error\":null,\"form\":[],\"formText\":\"\",\"files\":[]}");

    report.result = static_cast<HRESULT>(0x80020009);
    report.error = ErrorReport{L"Can't call BinaryRead", L"Tandervale.QORUpload.2"};
    report.form = {{L"a", {L"1", L"3"}}, {L"", {L""}}};
    report.formText = L"a=1,3;=";
    FileReport stored{L"f", L"C:\\x\\a \"b\".txt", L"a \"b\".txt", L"text/plain; charset=\"x\"", L"C:\\t\\1a.tmp",
                      12, std::string("ab12")};
    FileReport gone{L"f", L"b", L"b", L"", L"C:\\t\\1b.tmp", 0, std::nullopt};
    report.files = {stored, gone};
    EXPECT_EQ(ToJson(report),
              "{\"result\":\"0x80020009\","
              "\"error\":{\"description\":\"Can't call BinaryRead\",\"source\":\"Tandervale.QORUpload.2\"},"
              "\"form\":[{\"name\":\"a\",\"values\":[\"1\",\"3\"]},{\"name\":\"\",\"values\":[\"\"]}],"
              "\"formText\":\"a=1,3;=\","
              "\"files\":[{\"field\":\"f\",\"userPath\":\"C:\\\\x\\\\a \\\"b\\\".txt\",\"fileName\":\"a \\\"b\\\".txt\","
              "\"contentType\":\"text/plain; charset=\\\"x\\\"\",\"tmpPath\":\"C:\\\\t\\\\1a.tmp\",\"size\":12,\"sha256\":\"ab12\"},"
              "{\"field\":\"f\",\"userPath\":\"b\",\"fileName\":\"b\",\"contentType\":\"\",\"tmpPath\":\"C:\\\\t\\\\1b.tmp\","
              "\"size\":0,\"sha256\":null}]}");
}

TEST(JsonReport, ResultCodesAreEightHexDigits) {
    EXPECT_EQ(ResultCodeText(S_OK), "0x00000000");
    EXPECT_EQ(ResultCodeText(S_FALSE), "0x00000001");
    EXPECT_EQ(ResultCodeText(E_INVALIDARG), "0x80070057");
    EXPECT_EQ(ResultCodeText(static_cast<HRESULT>(0xFFFFFFFF)), "0xFFFFFFFF");
}

DumpArguments Parse(std::vector<std::wstring> args) { return ParseDumpArguments(args); }

TEST(DumpArguments, PairsInOrderEitherWayRound) {
    DumpArguments a = Parse({L"--content-type", L"text/plain", L"--body", L"b1",
                             L"--body=b2", L"--content-type=multipart/form-data; boundary=x=y",
                             L"--content-type", L"", L"--body", L"--body"});
    ASSERT_TRUE(a.error.empty()) << std::string(a.error.begin(), a.error.end());
    ASSERT_EQ(a.requests.size(), 3u);
    EXPECT_EQ(a.requests[0].contentType, L"text/plain");
    EXPECT_EQ(a.requests[0].bodyPath, L"b1");
    // Only the first "=" separates an option from its value.
    EXPECT_EQ(a.requests[1].contentType, L"multipart/form-data; boundary=x=y");
    EXPECT_EQ(a.requests[1].bodyPath, L"b2");
    // An empty content type is a request without one; a value may look like an option.
    EXPECT_EQ(a.requests[2].contentType, L"");
    EXPECT_EQ(a.requests[2].bodyPath, L"--body");
    EXPECT_FALSE(a.help);
    EXPECT_TRUE(a.settings.empty());
    EXPECT_TRUE(Parse({L"--body", L"x", L"--help"}).help);
}

TEST(DumpArguments, SettingsAnywhereInTheOrderGivenAsSignedDecimals) {
    const DumpArguments a = Parse({L"--code-page", L"65001", L"--content-type", L"a", L"--max-total-bytes=10",
                                   L"--body", L"b", L"--max-file-bytes", L"-1", L"--max-files=0", L"--max-parts",
                                   L"007", L"--read-chunk-bytes=2147483647", L"--content-type=c", L"--body=d"});
    ASSERT_TRUE(a.error.empty()) << std::string(a.error.begin(), a.error.end());
    ASSERT_EQ(a.requests.size(), 2u);
    EXPECT_EQ(a.requests[0].bodyPath, L"b");
    const std::vector<std::pair<std::wstring, LONG>> expected = {
        {L"CodePage", 65001}, {L"MaxTotalBytes", 10}, {L"MaxFileBytes", -1},
        {L"MaxFiles", 0},     {L"MaxParts", 7},       {L"ReadChunkBytes", 2147483647}};
    ASSERT_EQ(a.settings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(a.settings[i].property, expected[i].first);
        EXPECT_EQ(a.settings[i].value, expected[i].second);
    }
    EXPECT_EQ(Parse({L"--max-parts=-2147483648", L"--content-type", L"a", L"--body", L"b"}).settings.at(0).value,
              -2147483647 - 1);
}

TEST(DumpArguments, RefusesWhatIsNotARequest) {
    const std::vector<std::vector<std::wstring>> bad = {
        {},
        {L"--content-type", L"text/plain"},                                     // no body
        {L"--body", L"b"},                                                      // no content type
        {L"--content-type", L"a", L"--body", L"b", L"--content-type", L"c"},    // incomplete second pair
        {L"--content-type", L"a", L"--content-type", L"b", L"--body", L"c"},    // twice in one pair
        {L"--content-type", L"a", L"--body"},                                   // value missing
        {L"--content-type", L"a", L"--body", L""},                              // empty file name
        {L"--content-type", L"a", L"--body", L"b", L"extra"},                   // stray argument
        {L"--contenttype", L"a", L"--body", L"b"},                              // unknown option
        // Settings: a decimal number that fits 32 bits, once each.
        {L"--content-type", L"a", L"--body", L"b", L"--code-page"},
        {L"--content-type", L"a", L"--body", L"b", L"--code-page="},
        {L"--content-type", L"a", L"--body", L"b", L"--max-files", L"x"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-files", L"1.5"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-parts", L"+3"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-parts", L" 3"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-parts", L"-"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-total-bytes=0x10"},
        {L"--content-type", L"a", L"--body", L"b", L"--max-file-bytes", L"2147483648"},
        {L"--content-type", L"a", L"--body", L"b", L"--read-chunk-bytes", L"-2147483649"},
        {L"--content-type", L"a", L"--body", L"b", L"--code-page", L"1", L"--code-page=2"},
        {L"--code-page", L"1"},                                                 // settings but no request
    };
    for (const auto& args : bad) {
        const DumpArguments a = Parse(args);
        EXPECT_FALSE(a.error.empty()) << "accepted " << args.size() << " arguments";
        EXPECT_TRUE(a.requests.empty());
        EXPECT_TRUE(a.settings.empty());
    }
}

TEST(Sha256, KnownDigestsInOneCallAndFromAFile) {
    std::string hex;
    ASSERT_EQ(Sha256Hex("", hex), S_OK);
    EXPECT_EQ(hex, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    ASSERT_EQ(Sha256Hex("abc", hex), S_OK);
    EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", hex), S_OK);
    EXPECT_EQ(hex, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    // A file longer than one read block, holding every byte value.
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7);
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameW(dir, L"qsh", 0, path), 0u);
    FILE* file = _wfopen(path, L"wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    fclose(file);
    std::string fromFile, fromBytes;
    EXPECT_EQ(Sha256HexOfFile(path, fromFile), S_OK);
    EXPECT_EQ(Sha256Hex(bytes, fromBytes), S_OK);
    EXPECT_EQ(fromFile, fromBytes);
    DeleteFileW(path);
    EXPECT_TRUE(FAILED(Sha256HexOfFile(path, fromFile))) << "a missing file has no digest";
}

}  // namespace
