#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <set>

#include "support/ChunkedInput.h"
#include "support/MemoryInput.h"
#include "parse/ParseObserver.h"
#include "tests/FileSeams.h"
#include "tests/MultipartHarness.h"
#include "tests/ReferenceMultipart.h"
#include "support/XAlarm.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace qor;

namespace {

class MultipartFiles : public ::testing::Test {
protected:
    TempDirectory temp;

    static std::string Bytes(size_t count, unsigned seed) {
        std::mt19937 random(seed);
        std::string data(count, '\0');
        for (char& c : data) c = static_cast<char>(random() & 0xff);
        return data;
    }

    // Parses body and returns the alarm that left the parse.
    static XFileAlarm ParseExpectingAlarm(PostDataParser& parser, const std::string& body) {
        try {
            ParseMultipartBody(parser, body);
        } catch (const XFileAlarm& alarm) {
            return alarm;
        }
        ADD_FAILURE() << "no alarm";
        return XFileAlarm("none", nullptr);
    }

    // Whether a descriptor is still open in this process.
    static bool IsOpen(int fd) { return rt::Seek(fd, 0, SEEK_CUR) != -1; }

    static std::string BaseName(const std::string& path) {
        const size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
};

TEST_F(MultipartFiles, EachFileHoldsExactlyItsPartsBytesUntilTheParserDies) {
    std::string every;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
    const std::string tricky = "\r\n--AaB03\r\n\r\n--AaB03x-\r\r\n--AaB03xx\n\r";
    const std::vector<std::string> datas = {every, Bytes(3 * 8192 + 5, 1), tricky, "", "\r"};

    std::string body;
    for (size_t i = 0; i < datas.size(); ++i)
        body += Part("name=\"f" + std::to_string(i) + "\"; filename=\"file" + std::to_string(i) + ".bin\"", datas[i]);
    body += Part("name=\"text\"", "between") + Closing();

    std::set<std::string> created;
    {
        PostDataParser parser;
        ParseMultipartBody(parser, body);
        const std::vector<StoredFile> files = StoredFiles(parser);
        ASSERT_EQ(files.size(), datas.size());
        for (size_t i = 0; i < datas.size(); ++i) {
            EXPECT_EQ(files[i].data, datas[i]) << i;
            EXPECT_EQ(files[i].size, static_cast<int32_t>(datas[i].size())) << i;
            EXPECT_EQ(files[i].tmpPath.rfind(temp.Path(), 0), 0u) << files[i].tmpPath;
#ifndef _WIN32
            struct stat info;
            ASSERT_EQ(lstat(files[i].tmpPath.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0600u) << "owner-only permission";
            EXPECT_TRUE(S_ISREG(info.st_mode));
#endif
            created.insert(BaseName(files[i].tmpPath));
        }
        EXPECT_EQ(created.size(), datas.size()) << "one file per part";
        const std::vector<std::string> listed = temp.Files();
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), created);
    }
    EXPECT_TRUE(temp.Files().empty());
}

// Data that lies in the body's memory goes to the file straight from there,
// one write per MiB; a part smaller than the put buffer goes out at its close.
TEST_F(MultipartFiles, FileDataInMemoryReachesTheDescriptorInLargeWrites) {
    constexpr unsigned kMiB = 1u << 20;
    const std::vector<std::pair<size_t, std::vector<unsigned>>> rows = {
        {0, {}},          {1, {1}},         {8191, {8191}},
        {8192, {8192}},   {20480, {20480}}, {2 * kMiB + 5, {kMiB, kMiB, 5}},
    };
    std::string body = Part("name=\"t\"", Bytes(20000, 7));  // text parts write nothing
    std::vector<unsigned> expected;
    for (size_t i = 0; i < rows.size(); ++i) {
        body += Part("name=\"f\"; filename=\"" + std::to_string(i) + "\"", Bytes(rows[i].first, static_cast<unsigned>(i)));
        expected.insert(expected.end(), rows[i].second.begin(), rows[i].second.end());
    }
    body += Closing();

    PostDataParser parser;
    WriteRecorder recorder;
    MemoryInput input(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
    parser.Parse(kMultipartType.c_str(), input);
    ASSERT_EQ(parser.Files().Count(), rows.size());
    EXPECT_EQ(recorder.Counts(), expected);
    for (const WriteRecorder::Write& write : recorder.writes) EXPECT_FALSE(IsOpen(write.fd)) << "closed";
    EXPECT_EQ(StoredFiles(parser)[5].data, Bytes(2 * kMiB + 5, 5));
}

// Hands the body out in chunks of a fixed size, as successive BinaryRead
// answers.
class FixedChunks final : public ChunkedInput {
public:
    FixedChunks(const std::string& body, uint32_t chunk)
        : ChunkedInput(static_cast<uint32_t>(body.size()), chunk), body_(body) {}

protected:
    uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) override {
        bytes = reinterpret_cast<const unsigned char*>(body_.data()) + given_;
        given_ += count;
        return count;
    }
    void EndedEarly(uint32_t, uint32_t) override { std::abort(); }

private:
    const std::string& body_;
    uint32_t given_ = 0;
};

// Data read in small chunks is gathered into writes of a MiB; runs of a
// quarter MiB or more go out straight. A second file after the first reuses
// the gathering buffer and gets only its own bytes.
TEST_F(MultipartFiles, ChunkedDataIsGatheredIntoLargeWrites) {
    constexpr unsigned kMiB = 1u << 20;
    struct Row {
        uint32_t chunk;
        size_t size;
        std::vector<unsigned> counts;
    };
    const std::vector<Row> rows = {
        {7, 70000, {70000}},           {4096, 3 * kMiB, {kMiB, kMiB, kMiB}}, {65536, 2 * kMiB + 5, {kMiB, kMiB, 5}},
        {65536, 0, {}},                {65536, kMiB - 1, {kMiB - 1}},
    };
    for (const Row& row : rows) {
        const std::string data = Bytes(row.size, row.chunk), second = Bytes(1000, 9);
        const std::string body = Part("name=\"t\"", "text") + Part("name=\"f\"; filename=\"a\"", data) +
                                 Part("name=\"g\"; filename=\"b\"", second) + Closing();
        PostDataParser parser;
        WriteRecorder recorder;
        FixedChunks input(body, row.chunk);
        parser.Parse(kMultipartType.c_str(), input);
        std::vector<unsigned> expected = row.counts;
        expected.push_back(1000);
        EXPECT_EQ(recorder.Counts(), expected) << row.chunk << " " << row.size;
        const std::vector<StoredFile> files = StoredFiles(parser);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_TRUE(files[0].data == data && files[1].data == second) << row.chunk << " " << row.size;
    }
    // Chunks of 300,000 bytes go straight to the file, each in one write.
    const std::string data = Bytes(2 * kMiB, 3);
    const std::string body = Part("name=\"f\"; filename=\"a\"", data) + Closing();
    PostDataParser parser;
    WriteRecorder recorder;
    FixedChunks input(body, 300000);
    parser.Parse(kMultipartType.c_str(), input);
    const std::vector<unsigned> counts = recorder.Counts();
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0u), 2 * kMiB);
    EXPECT_LE(counts.size(), 2 * kMiB / 300000 + 3);
    EXPECT_EQ(StoredFiles(parser)[0].data, data);
}

TEST_F(MultipartFiles, ExistingNamesAreNeverOpenedAndFreshOnesAreTried) {
    const std::string taken = temp.Join("taken.tmp");
    WriteWholeFile(taken, "keep me");
    std::vector<std::string> names = {taken};
#ifndef _WIN32
    // A link planted under the next name must not be followed, nor may a
    // dangling one create its target.
    const std::string victim = temp.Join("victim");
    WriteWholeFile(victim, "victim data");
    ASSERT_EQ(symlink(victim.c_str(), temp.Join("link.tmp").c_str()), 0);
    ASSERT_EQ(symlink(temp.Join("nowhere").c_str(), temp.Join("dangling.tmp").c_str()), 0);
    names.push_back(temp.Join("link.tmp"));
    names.push_back(temp.Join("dangling.tmp"));
#endif
    names.push_back(temp.Join("fresh.tmp"));
    names.push_back(temp.Join("unused.tmp"));
    {
        PostDataParser parser;
        ScriptedNames scripted(names);
        ParseMultipartBody(parser, Part("name=\"f\"; filename=\"a.txt\"", "upload") + Closing());
        ASSERT_EQ(parser.Files().Count(), 1u);
        EXPECT_EQ(Str(parser.Files()[0].tmpPath.Name()), temp.Join("fresh.tmp"));
        EXPECT_EQ(ReadWholeFile(temp.Join("fresh.tmp")), "upload");
        EXPECT_EQ(scripted.Used(), names.size() - 1);
    }
    EXPECT_EQ(ReadWholeFile(taken), "keep me");
    EXPECT_FALSE(PathExists(temp.Join("fresh.tmp")));
#ifndef _WIN32
    EXPECT_EQ(ReadWholeFile(victim), "victim data");
    EXPECT_FALSE(PathExists(temp.Join("nowhere")));
#endif
}

TEST_F(MultipartFiles, TooManyTakenNamesRaiseWithTheLastPathAndStoreNothingOfThePart) {
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        names.push_back(temp.Join("taken" + std::to_string(i)));
        WriteWholeFile(names.back(), "x");
    }
    PostDataParser parser;
    ScriptedNames scripted(names);
    const XFileAlarm alarm = ParseExpectingAlarm(
        parser, Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"a.txt\"", "data") + Closing());
    EXPECT_STREQ(alarm.Message(), "Unable to create file");
    EXPECT_STREQ(alarm.Category(), "File System: ");
    ASSERT_NE(alarm.Detail(), nullptr);
    EXPECT_EQ(std::string(alarm.Detail()), names[15]) << "retries are bounded";
    EXPECT_EQ(scripted.Used(), 16u);
    EXPECT_EQ(parser.Files().Count(), 0u);
    EXPECT_EQ(Fields(parser), FieldsView{}) << "the failed parse is taken back whole";
    for (const std::string& name : names) EXPECT_EQ(ReadWholeFile(name), "x");
}

TEST_F(MultipartFiles, NoTemporaryNameRaisesWithoutDetail) {
    PostDataParser parser;
    ScriptedNames none({});
    const XFileAlarm alarm = ParseExpectingAlarm(
        parser, Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"a.txt\"", "data") + Closing());
    EXPECT_STREQ(alarm.Message(), "Unable to create file");
    EXPECT_EQ(alarm.Detail(), nullptr);
    EXPECT_EQ(parser.Files().Count(), 0u);
    EXPECT_EQ(Fields(parser), FieldsView{});
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(MultipartFiles, UncreatableTemporaryDirectoryRaisesAndStoresNothing) {
    const std::string missing = temp.Join("missing");
    TempDirectory::SetVariable(missing);
    PostDataParser parser;
    const XFileAlarm alarm = ParseExpectingAlarm(
        parser, Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"a.txt\"", "data") + Part("name=\"b\"", "2"));
    EXPECT_STREQ(alarm.Message(), "Unable to create file");
#ifdef _WIN32
    // This runtime yields no name at all for a missing directory.
    EXPECT_EQ(alarm.Detail(), nullptr);
#else
    ASSERT_NE(alarm.Detail(), nullptr);
    EXPECT_EQ(std::string(alarm.Detail()).rfind(missing + "/", 0), 0u) << alarm.Detail();
#endif
    EXPECT_EQ(parser.Files().Count(), 0u);
    EXPECT_EQ(Fields(parser), FieldsView{});
    TempDirectory::SetVariable(temp.Path());
}

// A write that fails part-way through a file: the alarm leaves the parse
// with no detail and the writer closed, later parts are not read, and the
// whole parse is taken back: the values it gave fields of an earlier parse,
// its new fields, its records and their files. The earlier parse stays.
TEST_F(MultipartFiles, WriteFailingPartWayTakesBackTheWholeParse) {
    const std::string data = Bytes(50000, 3);
    const std::string body = Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"one.txt\"", "x") +
                             Part("name=\"n\"", "new") + Part("name=\"f\"; filename=\"big.bin\"", data) +
                             Part("name=\"b\"", "2") + Closing();
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"a\"", "0") + Part("name=\"f\"; filename=\"kept.txt\"", "k") + Closing());
    const std::vector<StoredFile> kept = StoredFiles(parser);
    {
        WriteRecorder recorder(20001);  // one.txt's byte, then 20000 of big.bin
        const XFileAlarm alarm = ParseExpectingAlarm(parser, body);
        EXPECT_STREQ(alarm.Message(), "Unable to write file");
        EXPECT_EQ(alarm.Detail(), nullptr);
        // big.bin's data goes out in runs as the body's buffer shows them;
        // the run that crosses the budget comes back short.
        const std::vector<unsigned> counts = recorder.Counts();
        ASSERT_GE(counts.size(), 2u);
        EXPECT_EQ(counts[0], 1u);
        EXPECT_GT(std::accumulate(counts.begin(), counts.end(), 0u), 20001u);
        EXPECT_FALSE(IsOpen(recorder.writes.back().fd));
    }
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"0"}}, {"f", {"kept.txt"}}}));
    EXPECT_EQ(StoredFiles(parser), kept);
    EXPECT_EQ(temp.Files().size(), 1u) << "only the earlier parse's file is left";
    // The parser goes on as if the failed parse had not been.
    ParseMultipartBody(parser, Part("name=\"n\"", "3") + Part("name=\"a\"", "4") + Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"0", "4"}}, {"f", {"kept.txt"}}, {"n", {"3"}}}));
    EXPECT_EQ(parser.FindField("n"), 2);
}

TEST_F(MultipartFiles, FailingFinalWriteRaisesFromTheClose) {
    const std::string data = Bytes(5000, 4);  // smaller than the put buffer: written at the close
    {
        PostDataParser parser;
        WriteRecorder recorder(4000);
        const XFileAlarm alarm =
            ParseExpectingAlarm(parser, Part("name=\"f\"; filename=\"a\"", data) + Part("name=\"b\"", "2"));
        EXPECT_STREQ(alarm.Message(), "Unable to write file");
        EXPECT_EQ(recorder.Counts(), (std::vector<unsigned>{5000}));
        EXPECT_FALSE(IsOpen(recorder.writes.back().fd));
        EXPECT_EQ(parser.Files().Count(), 0u);
        EXPECT_EQ(parser.Fields().Count(), 0u);
        EXPECT_TRUE(temp.Files().empty());
    }
}

#ifndef _WIN32
// The same failure from the system itself: a file-size limit makes the third
// block's write come back short.
TEST_F(MultipartFiles, FileSizeLimitEndsTheParseAndLeavesNoFileBehind) {
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const std::string data = Bytes(50000, 5);
    bool raised = false;
    {
        PostDataParser parser;
        try {
            ParseMultipartBody(parser, Part("name=\"f\"; filename=\"big\"", data) + Closing());
        } catch (const XFileAlarm& alarm) {
            raised = std::string(alarm.Message()) == "Unable to write file" && alarm.Detail() == nullptr;
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(parser.Files().Count(), 0u);
        EXPECT_TRUE(temp.Files().empty());
    }
    EXPECT_TRUE(raised);
}
#endif

// What a progress display hears: each file as its storing begins, with its
// name and nothing stored yet, and once it is complete, with its size; a
// part whose storing fails is never reported stored.
TEST_F(MultipartFiles, AnObserverHearsOfEachFileAsItIsStored) {
    struct Recorder final : ParseObserver {
        std::vector<std::string> events;
        void FileStarted(const UploadedFile& f) noexcept override {
            events.push_back("start " + Str(f.userPath) + " " + std::to_string(f.size));
        }
        void FileStored(const UploadedFile& f) noexcept override {
            events.push_back("stored " + Str(f.userPath) + " " + std::to_string(f.size));
        }
    };
    const std::string body = Part("name=\"t\"", "text") + Part("name=\"a\"; filename=\"C:\\a.txt\"", "abc") +
                             Part("name=\"b\"; filename=\"b.bin\"", Bytes(300000, 1)) + Part("name=\"u\"", "x") +
                             Closing();
    const std::vector<std::string> all = {"start C:\\a.txt 0", "stored C:\\a.txt 3", "start b.bin 0",
                                          "stored b.bin 300000"};
    struct Row {
        uint32_t maxFileBytes;
        std::vector<std::string> events;
    } rows[] = {{0, all}, {100000, {all[0], all[1], all[2]}}};
    for (const Row& row : rows) {
        PostDataParser parser;
        Recorder recorder;
        ParseLimits limits;
        limits.maxFileBytes = row.maxFileBytes;
        try {
            ParseBody(parser, kMultipartType, body, limits, &recorder);
        } catch (const ParseLimitExceeded&) {
            EXPECT_EQ(parser.Files().Count(), 0u);
        }
        EXPECT_EQ(recorder.events, row.events) << row.maxFileBytes;
    }
}

}  // namespace
