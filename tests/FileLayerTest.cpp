#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/ByteString.h"
#include "support/FileHandles.h"
#include "tests/FileSeams.h"
#include "support/RuntimeFiles.h"
#include "support/TemporaryFile.h"
#include "tests/TempDirectory.h"
#include "support/XAlarm.h"
#include "support/XFile.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace qor;

namespace {

class FileLayer : public ::testing::Test {
protected:
    TempDirectory temp;

    template <typename Action>
    static XFileAlarm AlarmOf(Action action) {
        try {
            action();
        } catch (const XFileAlarm& alarm) {
            return alarm;
        }
        ADD_FAILURE() << "no alarm";
        return XFileAlarm("none", nullptr);
    }

    static void WriteAll(int fd, const std::string& data) {
        ASSERT_EQ(rt::DirectWrite(fd, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
    }
};

TEST(Alarms, CarryCategoryMessageAndAnOwnedDetail) {
    std::string path = "C:\\temp\\x.tmp";
    XFileAlarm original("Unable to create file", path.c_str());
    path[0] = 'D';  // the alarm holds its own copy
    EXPECT_STREQ(original.Category(), "File System: ");
    EXPECT_EQ(std::strlen(original.Category()), 13u);
    EXPECT_STREQ(original.Message(), "Unable to create file");
    EXPECT_STREQ(original.Detail(), "C:\\temp\\x.tmp");
    {
        XFileAlarm copy(original);
        EXPECT_NE(copy.Detail(), original.Detail());
        EXPECT_STREQ(copy.Detail(), "C:\\temp\\x.tmp");
        EXPECT_EQ(copy.Message(), original.Message());
    }
    EXPECT_STREQ(original.Detail(), "C:\\temp\\x.tmp");
    EXPECT_EQ(XFileAlarm("Unable to close file", nullptr).Detail(), nullptr);

    // Thrown by value and caught as the base alarm.
    try {
        throw XFileAlarm("Unable to write file", nullptr);
    } catch (const XAlarm& alarm) {
        EXPECT_STREQ(alarm.Category(), "File System: ");
        EXPECT_STREQ(alarm.Message(), "Unable to write file");
    }
}

TEST_F(FileLayer, OpenFileHandleFailuresNameThePath) {
    const std::string missingDir = temp.Join("no-such-dir") + TempDirectory::kSeparator + "f.tmp";
    XFileAlarm alarm = AlarmOf([&] { OpenFileHandle(missingDir.c_str(), FileModeWrite); });
    EXPECT_STREQ(alarm.Category(), "File System: ");
    EXPECT_STREQ(alarm.Message(), "Unable to create file");
    EXPECT_STREQ(alarm.Detail(), missingDir.c_str());

    // Read-only opens only: never a creation, even with the create bit.
    const std::string missing = temp.Join("missing");
    for (uint16_t mode : {FileModeRead, uint16_t(FileModeRead | FileModeOpenOrCreate)}) {
        alarm = AlarmOf([&] { OpenFileHandle(missing.c_str(), mode); });
        EXPECT_STREQ(alarm.Message(), "Unable to open file");
        EXPECT_STREQ(alarm.Detail(), missing.c_str());
    }
    alarm = AlarmOf([&] { OpenFileHandle(missing.c_str(), FileModeOpen | FileModeWrite); });
    EXPECT_STREQ(alarm.Message(), "Unable to open file");
    EXPECT_FALSE(PathExists(missing));

    alarm = AlarmOf([] { CloseFileHandle(1 << 20); });
    EXPECT_STREQ(alarm.Message(), "Unable to close file");
    EXPECT_EQ(alarm.Detail(), nullptr);
}

TEST_F(FileLayer, CreationTruncatesAndAppendPositionsAtTheEnd) {
    const std::string path = temp.Join("data");
    WriteWholeFile(path, std::string(100, 'a'));

    int32_t offset = -1;
    int fd = OpenFileHandle(path.c_str(), FileModeOpenOrCreate | FileModeAppend | FileModeWrite, &offset);
    EXPECT_EQ(offset, 100);
    WriteAll(fd, "tail");
    CloseFileHandle(fd);
    EXPECT_EQ(ReadWholeFile(path), std::string(100, 'a') + "tail");

    // A file that was just created is not positioned.
    const std::string fresh = temp.Join("fresh");
    offset = -1;
    fd = OpenFileHandle(fresh.c_str(), FileModeOpenOrCreate | FileModeAppend | FileModeWrite, &offset);
    EXPECT_EQ(offset, 0);
    CloseFileHandle(fd);
    EXPECT_TRUE(PathExists(fresh));

    // Without an open bit the file is created or truncated.
    fd = OpenFileHandle(path.c_str(), FileModeWrite, &offset);
    EXPECT_EQ(offset, 0);
    CloseFileHandle(fd);
    EXPECT_EQ(ReadWholeFile(path), "");
}

#ifndef _WIN32
TEST_F(FileLayer, UnseekableFileRaisesSeekAndKeepsNoDescriptor) {
    const std::string fifo = temp.Join("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int probe = rt::Open("/dev/null", rt::kReadOnly, 0);
    rt::Close(probe);
    const XFileAlarm alarm = AlarmOf(
        [&] { OpenFileHandle(fifo.c_str(), FileModeOpen | FileModeAppend | FileModeRead | FileModeWrite); });
    EXPECT_STREQ(alarm.Message(), "Unable to seek file");
    EXPECT_STREQ(alarm.Detail(), fifo.c_str());
    // The lowest free descriptor is the same as before: none was kept.
    const int after = rt::Open("/dev/null", rt::kReadOnly, 0);
    EXPECT_EQ(after, probe);
    rt::Close(after);
}
#endif

TEST_F(FileLayer, XFileWritesFullBlocksWhenTheNextByteArrivesAndTheRestAtClose) {
    const std::string path = temp.Join("blocks");
    WriteWholeFile(path, "old content that mode 0 truncates");
    WriteRecorder recorder;
    std::string sent;
    {
        XFile file(path.c_str(), 0, 8192);
        for (int i = 0; i < 8192; ++i) {
            sent.push_back(static_cast<char>(i * 7));
            file.PutByte(static_cast<unsigned char>(sent.back()));
        }
        EXPECT_TRUE(recorder.writes.empty()) << "a full buffer waits for the next byte";
        sent.push_back('x');
        file.PutByte('x');
        EXPECT_EQ(recorder.Counts(), std::vector<unsigned>{8192});
        // A put too large for the room hands the waiting byte on, then goes
        // out whole; a small one waits for the close.
        std::string more(8191 + 4096, 'y');
        file.PutBytes(reinterpret_cast<const unsigned char*>(more.data()), static_cast<uint32_t>(more.size()));
        file.PutBytes(reinterpret_cast<const unsigned char*>("tail"), 4);
        sent += more + "tail";
        EXPECT_EQ(recorder.Counts(), (std::vector<unsigned>{8192, 1, 12287}));
        file.Close();
        EXPECT_EQ(recorder.Counts(), (std::vector<unsigned>{8192, 1, 12287, 4}));
        file.Close();  // once closed, nothing more happens
        EXPECT_EQ(recorder.writes.size(), 4u);
    }
    EXPECT_EQ(ReadWholeFile(path), sent);

    // Destruction flushes a file that was not closed; no byte, empty file.
    {
        XFile file(path.c_str(), 0, 8192);
        file.PutByte('z');
    }
    EXPECT_EQ(ReadWholeFile(path), "z");
    { XFile file(path.c_str(), 0, 8192); }
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST_F(FileLayer, FailedWriteDropsWaitingBytesAndCloseStillCloses) {
    const std::string path = temp.Join("short");
    WriteRecorder recorder(8192 + 100);
    XFile file(path.c_str(), 0, 8192);
    const std::string data(3 * 8192, 'd');
    file.PutBytes(reinterpret_cast<const unsigned char*>(data.data()), 8192);
    file.PutByte('e');  // hands the full buffer on
    file.PutBytes(reinterpret_cast<const unsigned char*>(data.data()), 100);
    XFileAlarm alarm = AlarmOf([&] { file.PutBytes(reinterpret_cast<const unsigned char*>(data.data()), 8192); });
    EXPECT_STREQ(alarm.Message(), "Unable to write file");
    EXPECT_EQ(alarm.Detail(), nullptr);
    EXPECT_EQ(file.Pending(), 0u) << "bytes of the failed block are not written again";
    file.PutByte('f');
    alarm = AlarmOf([&] { file.Close(); });  // the last byte meets the exhausted medium
    EXPECT_STREQ(alarm.Message(), "Unable to write file");
    const int fd = recorder.writes.back().fd;
    EXPECT_EQ(rt::Seek(fd, 0, SEEK_CUR), -1) << "descriptor closed";
    file.Close();  // already closed: no write, no alarm
    EXPECT_EQ(recorder.Counts(), (std::vector<unsigned>{8192, 101, 1}));
    EXPECT_EQ(ReadWholeFile(path).size(), 8192u + 100u);
}

TEST_F(FileLayer, TemporaryFilesAreCreatedExclusivelyUnderFreshNames) {
    ByteString first, second;
    XFile a(XFile::NewTemporary{}, first, 8192);
    XFile b(XFile::NewTemporary{}, second, 8192);
    EXPECT_NE(std::string(first.Text()), std::string(second.Text()));
    EXPECT_EQ(std::string(first.Text()).rfind(temp.Path(), 0), 0u);
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(first.Text(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    a.Close();
    b.Close();

    // An existing name is skipped; the file under it keeps its content.
    const std::string taken = temp.Join("taken");
    WriteWholeFile(taken, "mine");
    ByteString path;
    {
        ScriptedNames names({taken, temp.Join("next")});
        XFile c(XFile::NewTemporary{}, path, 8192);
        c.PutByte('n');
        c.Close();
    }
    EXPECT_STREQ(path.Text(), temp.Join("next").c_str());
    EXPECT_EQ(ReadWholeFile(taken), "mine");
    EXPECT_EQ(ReadWholeFile(temp.Join("next")), "n");
}

// The owner deletes its file when it goes, and only a file it created: a
// failed creation leaves names that others hold alone, and a moved-from
// owner deletes nothing.
TEST_F(FileLayer, TemporaryFileDeletesOnlyWhatItCreated) {
    const std::string taken = temp.Join("taken");
    WriteWholeFile(taken, "mine");
    std::string created;
    {
        TemporaryFile moved;
        {
            TemporaryFile file;
            {
                ScriptedNames names(std::vector<std::string>(16, taken));
                EXPECT_STREQ(AlarmOf([&] { XFile writer(file, 8192); }).Message(), "Unable to create file");
            }
            EXPECT_EQ(file.Name().Length(), 0u);
            XFile writer(file, 8192);
            writer.PutByte('x');
            writer.Close();
            created = file.Text();
            moved = std::move(file);
        }
        EXPECT_EQ(ReadWholeFile(created), "x") << "the moved-from owner deleted nothing";
        EXPECT_STREQ(moved.Text(), created.c_str());
    }
    EXPECT_FALSE(PathExists(created));
    EXPECT_EQ(ReadWholeFile(taken), "mine");

    // A released file (moved away by its new owner) is no longer deleted.
    std::string released;
    {
        TemporaryFile file;
        XFile writer(file, 8192);
        writer.Close();
        released = file.Text();
        file.Release();
        EXPECT_EQ(file.Name().Length(), 0u);
    }
    EXPECT_TRUE(PathExists(released));
    std::remove(released.c_str());
}

}  // namespace
