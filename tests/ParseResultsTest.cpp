#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ParserHarness.h"
#include "RuntimeFiles.h"

namespace {

ByteString B(const std::string& s) {
    ByteString b;
    b.AppendBytes(s.data(), static_cast<uint32_t>(s.size()));
    return b;
}

void AddField(PostDataParser& parser, const std::string& name, const std::string& value) {
    parser.fields.Emplace(B(name), B(value));
}

int32_t LinearFind(const PostDataParser& parser, const std::string& name) {
    for (uint32_t i = 0; i < parser.fields.Count(); ++i)
        if (std::strcmp(parser.fields[i].name.Text(), name.c_str()) == 0) return static_cast<int32_t>(i);
    return -1;
}

bool FileExists(const char* path) {
    const int fd = rt::Open(path, rt::kReadOnly | rt::kBinary, 0);
    if (fd < 0) return false;
    rt::Close(fd);
    return true;
}

std::string MakeTempFile(const char* content) {
    char* name = rt::TempName();
    EXPECT_NE(name, nullptr);
    if (name == nullptr) return {};
    std::string path(name);
    std::free(name);
    const int fd = rt::Open(path.c_str(), rt::kWriteOnly | rt::kCreate | rt::kExclusive | rt::kBinary,
                            rt::kOwnerReadWrite);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) {
        EXPECT_EQ(rt::Write(fd, content, static_cast<unsigned>(std::strlen(content))),
                  static_cast<int>(std::strlen(content)));
        EXPECT_EQ(rt::Close(fd), 0);
    }
    return path;
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

    // Fields appended directly are found too; a repeated name answers with
    // its first position, as an ordered scan does.
    AddField(parser, "late", "5");
    AddField(parser, "Name", "6");
    EXPECT_EQ(parser.FindField("late"), 4);
    EXPECT_EQ(parser.FindField("Name"), 1);
    EXPECT_EQ(parser.fields.Count(), 6u);
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

    // Parsing after direct appends: every name still resolves to its one field.
    PostDataParser mixed;
    AddField(mixed, "b", "direct");
    ParseBody(mixed, "application/x-www-form-urlencoded", "a=1&b=2&c=3");
    AddField(mixed, "d", "direct");
    ParseBody(mixed, "application/x-www-form-urlencoded", "d=4&c=5&e=6&a=7");
    EXPECT_EQ(Fields(mixed), (FieldsView{{"b", {"direct", "2"}},
                                         {"a", {"1", "7"}},
                                         {"c", {"3", "5"}},
                                         {"d", {"direct", "4"}},
                                         {"e", {"6"}}}));

    // Replacing the list wholesale is noticed as well.
    parser.fields = FormFieldList();
    AddField(parser, "k1", "v");
    EXPECT_EQ(parser.FindField("k1"), 0);
    EXPECT_EQ(parser.FindField(probes[1].c_str()), LinearFind(parser, probes[1]));
}

TEST(FormText, JoinsFieldsUnescapedInListOrder) {
    PostDataParser parser;
    EXPECT_EQ(Str(parser.FormText()), "");
    AddField(parser, "a", "1");
    parser.fields[0].values.Append(B("2"));
    AddField(parser, "", "x;y,z");
    AddField(parser, "b", "3");
    parser.fields[2].values.Append(B(std::string("4\0hidden", 8)));
    EXPECT_EQ(Str(parser.FormText()), "a=1,2;=x;y,z;b=3,4");
    EXPECT_EQ(Str(parser.line), "a=1,2;=x;y,z;b=3,4");  // built in the work string
}

TEST(ResultLists, GrowByDoublingAndKeepElementsInPlaceOrder) {
    ByteStringList list;
    EXPECT_EQ(list.Capacity(), 16u);
    std::vector<const char*> texts;
    for (int i = 0; i < 40; ++i) {
        list.Append(B("value" + std::to_string(i)));
        if (i == 15) {
            EXPECT_EQ(list.Capacity(), 16u);
        }
        if (i == 16) {
            EXPECT_EQ(list.Capacity(), 32u);
        }
    }
    EXPECT_EQ(list.Capacity(), 64u);
    EXPECT_EQ(list.Count(), 40u);
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
        EXPECT_EQ(one.Capacity(), 1u);
        List moved(std::move(one));  // the inline element moves across
        EXPECT_EQ(Texts(moved), std::vector<std::string>{"a"});
        EXPECT_EQ(one.Count(), 0u);
        one.Emplace("again");  // the moved-from list is usable
        moved.Emplace("b");    // outgrows the inline room
        moved.Emplace("c");
        EXPECT_EQ(moved.Capacity(), 4u);
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
    const std::string first = MakeTempFile("data one");
    const std::string second = MakeTempFile("");
    const std::string gone = MakeTempFile("deleted early");
    ASSERT_TRUE(FileExists(first.c_str()));
    ASSERT_TRUE(FileExists(gone.c_str()));
    {
        PostDataParser parser;
        for (const std::string* path : {&first, &gone, &second}) {
            UploadedFile file;
            file.fieldName.Assign("upload");
            file.userPath.Assign("C:\\docs\\a.txt");
            file.tmpPath.Assign(path->c_str());
            parser.files.Append(file);
        }
        UploadedFile neverCreated;
        neverCreated.tmpPath.Assign((first + ".missing").c_str());
        parser.files.Append(neverCreated);
        // A file the script already removed is no error at destruction.
        ASSERT_EQ(rt::Unlink(gone.c_str()), 0);
        EXPECT_TRUE(FileExists(first.c_str()));  // nothing deleted before destruction
    }
    EXPECT_FALSE(FileExists(first.c_str()));
    EXPECT_FALSE(FileExists(second.c_str()));
    EXPECT_FALSE(FileExists(gone.c_str()));
}
