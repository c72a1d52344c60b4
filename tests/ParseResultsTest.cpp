#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/ParserHarness.h"
#include "support/RuntimeFiles.h"

using namespace qor;

namespace {

ByteString B(const std::string& s) {
    ByteString b;
    b.AppendBytes(s.data(), static_cast<uint32_t>(s.size()));
    return b;
}

// Adds the value under the name, as a URL-encoded body of one pair does.
void AddField(PostDataParser& parser, const std::string& name, const std::string& value) {
    ParseBody(parser, "application/x-www-form-urlencoded", name + "=" + value);
}

int32_t LinearFind(const PostDataParser& parser, const std::string& name) {
    for (uint32_t i = 0; i < parser.Fields().Count(); ++i)
        if (std::strcmp(parser.Fields()[i].name.Text(), name.c_str()) == 0) return static_cast<int32_t>(i);
    return -1;
}

bool FileExists(const char* path) {
    const int fd = rt::Open(path, rt::kReadOnly | rt::kBinary, 0);
    if (fd < 0) return false;
    rt::Close(fd);
    return true;
}

}  // namespace

TEST(FindField, ExactCaseSensitiveNulTerminatedNames) {
    PostDataParser parser;
    EXPECT_EQ(parser.FindField("a"), -1);
    AddField(parser, "name", "1");
    AddField(parser, "Name", "2");
    AddField(parser, "", "3");
    AddField(parser, "name2", "4");
    EXPECT_EQ(parser.FindField("name"), 0);
    EXPECT_EQ(parser.FindField("Name"), 1);
    EXPECT_EQ(parser.FindField(""), 2);
    EXPECT_EQ(parser.FindField("name2"), 3);
    EXPECT_EQ(parser.FindField("nam"), -1);
    EXPECT_EQ(parser.FindField("NAME"), -1);
    EXPECT_EQ(parser.FindField(B(std::string("name\0x", 6))), 0);  // compared up to the NUL

    // Later fields are found too; a repeated name keeps its first position.
    AddField(parser, "late", "5");
    AddField(parser, "Name", "6");
    EXPECT_EQ(parser.FindField("late"), 4);
    EXPECT_EQ(parser.FindField("Name"), 1);
    EXPECT_EQ(parser.Fields().Count(), 5u);
}

TEST(FindField, AgreesWithAnOrderedScanOverManyNames) {
    PostDataParser parser;
    std::mt19937 gen(3);
    std::vector<std::string> probes;
    for (int i = 0; i < 4000; ++i) {
        std::string name = "k" + std::to_string(gen() % 5000);
        if (i % 7 == 0) name[0] = 'K';
        if (i % 5 == 0) {
            // Lookups interleave with growth of the list.
            ASSERT_EQ(parser.FindField(name.c_str()), LinearFind(parser, name)) << name;
        }
        if (parser.FindField(name.c_str()) < 0) AddField(parser, name, "v");
        probes.push_back(name + (i % 3 == 0 ? "x" : ""));
    }
    for (const std::string& p : probes) ASSERT_EQ(parser.FindField(p.c_str()), LinearFind(parser, p)) << p;

}

TEST(FormText, JoinsFieldsUnescapedInListOrder) {
    PostDataParser parser;
    EXPECT_EQ(Str(parser.FormText()), "");
    AddField(parser, "a", "1");
    AddField(parser, "a", "2");
    AddField(parser, "", "x;y,z");
    AddField(parser, "b", "3");
    // A multipart text value may hold a NUL: the value ends there.
    ParseBody(parser, "multipart/form-data; boundary=z",
              std::string("--z\r\nContent-Disposition: form-data; name=b\r\n\r\n4\0hidden\r\n--z--", 62));
    EXPECT_EQ(Str(parser.FormText()), "a=1,2;=x;y,z;b=3,4");
}

TEST(ResultLists, KeepElementsInAppendOrderAsTheyGrow) {
    ByteStringList list;
    for (int i = 0; i < 40; ++i) {
        list.Append(B("value" + std::to_string(i)));
        ASSERT_EQ(list.Count(), static_cast<uint32_t>(i + 1));
        ASSERT_EQ(Str(list[0]), "value0");
        ASSERT_EQ(Str(list.Last()), "value" + std::to_string(i));
    }
    for (uint32_t i = 0; i < 40; ++i) ASSERT_EQ(Str(list[i]), "value" + std::to_string(i));

    // Appending an element of the list itself while it grows.
    ByteStringList full;
    for (int i = 0; i < 16; ++i) full.Append(B(std::to_string(i)));
    full.Append(full[3]);
    EXPECT_EQ(Str(full.Last()), "3");

    // A copy of a record owns its own strings.
    FormField field(B("f"), B("one"));
    FormField copy(field);
    copy.values[0].Assign("two");
    copy.values.Append(B("three"));
    EXPECT_EQ(Str(field.values[0]), "one");
    EXPECT_EQ(field.values.Count(), 1u);
    EXPECT_EQ(copy.values.Count(), 2u);
}

// An element that counts the live instances and can be told to fail its
// n-th copy, to see that lists with inline room neither leak nor destroy
// twice when they move, grow, are assigned or fail to copy.
struct Counted {
    static int live;
    static int copiesBeforeFailure;  // < 0: never fail
    std::string text;
    explicit Counted(std::string t) : text(std::move(t)) { ++live; }
    Counted(const Counted& other) : text(other.text) {
        if (copiesBeforeFailure == 0) throw std::bad_alloc();
        if (copiesBeforeFailure > 0) --copiesBeforeFailure;
        ++live;
    }
    Counted(Counted&& other) noexcept : text(std::move(other.text)) { ++live; }
    ~Counted() { --live; }
};
int Counted::live = 0;
int Counted::copiesBeforeFailure = -1;

std::vector<std::string> Texts(const OrderedList<Counted, 1>& list) {
    std::vector<std::string> out;
    for (const Counted& c : list) out.push_back(c.text);
    return out;
}

TEST(ResultLists, InlineRoomSurvivesMovesGrowthAssignmentAndFailedCopies) {
    using List = OrderedList<Counted, 1>;
    {
        List one(1);
        one.Emplace("a");
        List moved(std::move(one));  // the inline element moves across
        EXPECT_EQ(Texts(moved), std::vector<std::string>{"a"});
        EXPECT_EQ(one.Count(), 0u);
        one.Emplace("again");  // the moved-from list is usable
        moved.Emplace("b");    // outgrows the inline room
        moved.Emplace("c");
        EXPECT_EQ(Texts(moved), (std::vector<std::string>{"a", "b", "c"}));
        List stolen(std::move(moved));  // heap storage is taken over as it is
        EXPECT_EQ(Texts(stolen), (std::vector<std::string>{"a", "b", "c"}));
        moved.Emplace("fresh");
        EXPECT_EQ(Texts(moved), std::vector<std::string>{"fresh"});

        one = stolen;  // copy-assign over an inline list
        EXPECT_EQ(Texts(one), (std::vector<std::string>{"a", "b", "c"}));
        stolen = List(1);  // assign an empty inline list over heap storage
        EXPECT_EQ(stolen.Count(), 0u);
        stolen.Emplace("z");
        one = std::move(stolen);
        EXPECT_EQ(Texts(one), std::vector<std::string>{"z"});

        List three(1);
        for (const char* t : {"x", "y", "w"}) three.Emplace(t);
        Counted::copiesBeforeFailure = 2;  // the third copy fails
        EXPECT_THROW(List copy(three), std::bad_alloc);
        Counted::copiesBeforeFailure = -1;
        EXPECT_EQ(Texts(three), (std::vector<std::string>{"x", "y", "w"}));
        EXPECT_EQ(Counted::live, 1 + 1 + 3);  // one, moved, three
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(ParserLifetime, DestructionDeletesEveryTemporaryFile) {
    std::vector<std::string> paths;
    {
        PostDataParser parser;
        std::string body;
        for (const char* data : {"data one", "", "deleted early"})
            body += std::string("--z\r\nContent-Disposition: form-data; name=up; filename=a.txt\r\n\r\n") + data +
                    "\r\n";
        ParseBody(parser, "multipart/form-data; boundary=z", body + "--z--");
        for (const UploadedFile& file : parser.Files()) paths.push_back(file.tmpPath.Text());
        ASSERT_EQ(paths.size(), 3u);
        for (const std::string& path : paths) ASSERT_TRUE(FileExists(path.c_str())) << path;
        // A file the script already removed is no error at destruction.
        ASSERT_EQ(rt::Unlink(paths[2].c_str()), 0);
    }
    for (const std::string& path : paths) EXPECT_FALSE(FileExists(path.c_str())) << path;
}
