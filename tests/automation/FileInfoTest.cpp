#include "tests/automation/TestSupport.h"

#include "automation/Arguments.h"

namespace qor::test {
namespace {

class FileInfoTest : public LockAccountedTest {};

TEST_F(FileInfoTest, PropertiesAreFreshCopiesOfWhatWasGiven) {
    auto info = CQORFileInfo::Create(ToAutomationString("C:\\Users\\me\\report.txt"),
                                     ToAutomationString("C:\\users\\root\\Temp\\1efe.tmp"), 2147483647);
    UniqueBstr first, second, tmp;
    EXPECT_EQ(info->get_UserPath(first.put()), S_OK);
    EXPECT_EQ(info->get_UserPath(second.put()), S_OK);
    EXPECT_STREQ(first.get(), L"C:\\Users\\me\\report.txt") << "directories stay in the name";
    EXPECT_STREQ(second.get(), first.get());
    EXPECT_NE(first.get(), second.get()) << "two separate strings";
    EXPECT_EQ(info->get_TmpPath(tmp.put()), S_OK);
    EXPECT_STREQ(tmp.get(), L"C:\\users\\root\\Temp\\1efe.tmp");
    LONG size = 0;
    EXPECT_EQ(info->get_Size(&size), S_OK);
    EXPECT_EQ(size, 2147483647);
    EXPECT_EQ(info->get_UserPath(nullptr), E_POINTER);
    EXPECT_EQ(info->get_TmpPath(nullptr), E_POINTER);
    EXPECT_EQ(info->get_Size(nullptr), E_POINTER);

    auto unnamed = CQORFileInfo::Create(ToAutomationString(""), UniqueBstr(), 0);
    EXPECT_EQ(unnamed->get_UserPath(first.put()), S_OK);
    ASSERT_NE(first.get(), nullptr);
    EXPECT_EQ(first.length(), 0u);
    EXPECT_EQ(unnamed->get_TmpPath(tmp.put()), S_OK);
    EXPECT_EQ(tmp.get(), nullptr);
}

// FileName is what is left of UserPath after its last "\\", "/" or ":",
// never "." or "..": a name that stays inside any directory it joins.
TEST_F(FileInfoTest, FileNameIsTheLastSegmentOfTheClientPath) {
    const struct {
        const char* userPath;
        const wchar_t* fileName;
    } rows[] = {
        {"report.txt", L"report.txt"},
        {"C:\\Users\\me\\report.txt", L"report.txt"},
        {"/home/me/photo.jpeg", L"photo.jpeg"},
        {"..\\../mixed/seps\\a b.c", L"a b.c"},
        {"C:x.txt", L"x.txt"},
        {"dir\\", L""},
        {"dir/", L""},
        {"..", L""},
        {"a/..", L""},
        {"a\\.", L""},
        {"...", L"..."},
        {"", L""},
    };
    for (const auto& row : rows) {
        auto info = CQORFileInfo::Create(ToAutomationString(row.userPath), UniqueBstr(), 0);
        UniqueBstr name, type;
        EXPECT_EQ(info->get_FileName(name.put()), S_OK);
        ASSERT_NE(name.get(), nullptr);
        EXPECT_EQ(std::wstring(name.get(), name.length()), row.fileName) << row.userPath;
        EXPECT_EQ(info->get_ContentType(type.put()), S_OK);
        EXPECT_EQ(type.length(), 0u) << "no content type given: empty, not null";
    }
    auto info = CQORFileInfo::Create(UniqueBstr(), UniqueBstr(), 0);
    EXPECT_EQ(info->get_FileName(nullptr), E_POINTER);
    EXPECT_EQ(info->get_ContentType(nullptr), E_POINTER);
}

}  // namespace
}  // namespace qor::test
