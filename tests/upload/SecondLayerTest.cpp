// IQORUpload2 and IQORFileInfo2 as pages use them: settings, limits, code
// pages, chunked reading, file names, content types and SaveAs.
#include "tests/upload/UploadTestSupport.h"

#include <random>

namespace upload_test {
namespace {

constexpr std::wstring_view kMultipart = L"multipart/form-data; boundary=xYz";

// A multipart part: a text field, or a file when fileName is given.
std::string Part(const std::string& name, const std::string& data, const char* fileName = nullptr,
                 const std::string& headers = "") {
    std::string part = "--xYz\r\nContent-Disposition: form-data; name=\"" + name + "\"";
    if (fileName) part += "; filename=\"" + std::string(fileName) + "\"";
    return part + "\r\n" + headers + "\r\n" + data + "\r\n";
}
const std::string kClosing = "--xYz--\r\n";

ComPtr<IQORUpload2> Second(IQORUpload* upload) {
    ComPtr<IQORUpload2> second;
    EXPECT_EQ(upload->QueryInterface(IID_IQORUpload2, second.put_void()), S_OK);
    return second;
}

// The file infos of Files in order, by their second interface.
std::vector<ComPtr<IQORFileInfo2>> FileInfos(IQORUpload* upload) {
    std::vector<ComPtr<IQORFileInfo2>> infos;
    ComPtr<IQORVariantDictionary> files;
    EXPECT_EQ(upload->get_Files(files.put()), S_OK);
    LONG count = 0;
    files->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant value;
        EXPECT_EQ(files->get_Item(*Int(i).get(), value.put()), S_OK);
        ComPtr<IQORFileInfo2> info;
        EXPECT_EQ(V_DISPATCH(value.get())->QueryInterface(IID_IQORFileInfo2, info.put_void()), S_OK);
        infos.push_back(info);
    }
    return infos;
}

std::wstring Read(IQORFileInfo2* info, HRESULT (STDMETHODCALLTYPE IQORFileInfo2::*getter)(BSTR*)) {
    UniqueBstr text;
    EXPECT_EQ((info->*getter)(text.put()), S_OK);
    return std::wstring(text.get() ? text.get() : L"", text.length());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

using SecondLayer = UploadTest;

// Defaults, round trips, and refused values, through the vtable and by name.
TEST_F(SecondLayer, SettingsStartAtZeroAndRefuseWhatTheyCannotMean) {
    auto upload = NewUpload();
    auto second = Second(upload.get());
    using Getter = HRESULT (STDMETHODCALLTYPE IQORUpload2::*)(LONG*);
    using Putter = HRESULT (STDMETHODCALLTYPE IQORUpload2::*)(LONG);
    const struct {
        const wchar_t* name;
        Getter get;
        Putter put;
        LONG good, bad;
    } rows[] = {
        {L"CodePage", &IQORUpload2::get_CodePage, &IQORUpload2::put_CodePage, 65001, 12345},
        {L"MaxTotalBytes", &IQORUpload2::get_MaxTotalBytes, &IQORUpload2::put_MaxTotalBytes, 1, -1},
        {L"MaxFileBytes", &IQORUpload2::get_MaxFileBytes, &IQORUpload2::put_MaxFileBytes, 0x7FFFFFFF, -5},
        {L"MaxFiles", &IQORUpload2::get_MaxFiles, &IQORUpload2::put_MaxFiles, 3, -1},
        {L"MaxParts", &IQORUpload2::get_MaxParts, &IQORUpload2::put_MaxParts, 100, INT_MIN},
        {L"ReadChunkBytes", &IQORUpload2::get_ReadChunkBytes, &IQORUpload2::put_ReadChunkBytes, 7, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LONG value = -1;
        EXPECT_EQ((second.get()->*row.get)(&value), S_OK);
        EXPECT_EQ(value, 0);
        EXPECT_EQ((second.get()->*row.get)(nullptr), E_POINTER);
        EXPECT_EQ((second.get()->*row.put)(row.good), S_OK);
        EXPECT_EQ((second.get()->*row.put)(row.bad), E_INVALIDARG);
        EXPECT_NE(TakeErrorInfo().description.find(row.name), std::wstring::npos);
        EXPECT_EQ((second.get()->*row.get)(&value), S_OK);
        EXPECT_EQ(value, row.good) << "a refused value leaves the setting alone";

        // A script sets and reads it by name, and sees the refusal as an exception.
        EXPECT_EQ(CallByName(upload.get(), row.name, DISPATCH_PROPERTYPUT, {*Int(0).get()}).hr, S_OK);
        NamedCall read = CallByName(upload.get(), row.name, DISPATCH_PROPERTYGET);
        EXPECT_EQ(read.hr, S_OK);
        EXPECT_EQ(V_I4(read.result.get()), 0);
        NamedCall refused = CallByName(upload.get(), row.name, DISPATCH_PROPERTYPUT, {*Int(row.bad).get()});
        EXPECT_EQ(refused.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(refused.scode, E_INVALIDARG);
        EXPECT_NE(refused.description.find(row.name), std::wstring::npos) << refused.description;
    }
    EXPECT_EQ(second->put_CodePage(1252), S_OK);
    EXPECT_EQ(second->put_CodePage(-65001), E_INVALIDARG);
    EXPECT_EQ(second->put_CodePage(0), S_OK);
    TakeErrorInfo();
}

// Each limit at its value passes, one past fails with its own code and a
// description naming it, before anything of the call is kept: the results of
// the call before and the temporary directory stay as they were.
TEST_F(SecondLayer, EachLimitAtItsValueAndOnePast) {
    const std::string url = "a=1&b=2&a=3";
    const std::string multipart = Part("a", "1") + Part("f", std::string(5000, 'x'), "f.bin") +
                                  Part("g", "tiny", "g.txt") + kClosing;
    const struct {
        const wchar_t* what;
        bool isMultipart;
        HRESULT (STDMETHODCALLTYPE IQORUpload2::*put)(LONG);
        LONG value;
        HRESULT expected;
        const wchar_t* named;
    } rows[] = {
        {L"total, pairs", false, &IQORUpload2::put_MaxTotalBytes, 11, S_OK, nullptr},
        {L"total, pairs", false, &IQORUpload2::put_MaxTotalBytes, 10, QOR_E_BODY_TOO_LARGE, L"MaxTotalBytes (10)"},
        {L"total, parts", true, &IQORUpload2::put_MaxTotalBytes, LONG(multipart.size()), S_OK, nullptr},
        {L"total, parts", true, &IQORUpload2::put_MaxTotalBytes, LONG(multipart.size() - 1), QOR_E_BODY_TOO_LARGE,
         L"MaxTotalBytes"},
        {L"parts, pairs", false, &IQORUpload2::put_MaxParts, 3, S_OK, nullptr},
        {L"parts, pairs", false, &IQORUpload2::put_MaxParts, 2, QOR_E_TOO_MANY_PARTS, L"MaxParts (2)"},
        {L"parts, parts", true, &IQORUpload2::put_MaxParts, 3, S_OK, nullptr},
        {L"parts, parts", true, &IQORUpload2::put_MaxParts, 2, QOR_E_TOO_MANY_PARTS, L"MaxParts (2)"},
        {L"files", true, &IQORUpload2::put_MaxFiles, 2, S_OK, nullptr},
        {L"files", true, &IQORUpload2::put_MaxFiles, 1, QOR_E_TOO_MANY_FILES, L"MaxFiles (1)"},
        {L"file bytes", true, &IQORUpload2::put_MaxFileBytes, 5000, S_OK, nullptr},
        {L"file bytes", true, &IQORUpload2::put_MaxFileBytes, 4999, QOR_E_FILE_TOO_LARGE, L"MaxFileBytes (4999)"},
        {L"file bytes leave pairs alone", false, &IQORUpload2::put_MaxFileBytes, 1, S_OK, nullptr},
    };
    for (const auto& row : rows) {
        for (LONG chunk : {0, 7}) {
            SCOPED_TRACE(std::wstring(row.what) + L" " + std::to_wstring(row.value) + L" chunk " + std::to_wstring(chunk));
            auto upload = NewUpload();
            ASSERT_EQ(Start(upload.get()), S_OK);
            host.SetReadShape(ReadShape::Stream);
            ASSERT_EQ(Post(upload.get(), kUrlEncoded, "kept=1"), S_OK);
            const FormView before = ReadForm(upload.get());
            const size_t filesBefore = TempFileCount();
            auto second = Second(upload.get());
            ASSERT_EQ(second->put_ReadChunkBytes(chunk), S_OK);
            ASSERT_EQ((second.get()->*row.put)(row.value), S_OK);
            const int readsBefore = host.Calls(HostStep::BinaryRead);
            const HRESULT hr = Post(upload.get(), row.isMultipart ? kMultipart : kUrlEncoded, row.isMultipart ? multipart : url);
            EXPECT_EQ(hr, row.expected);
            if (row.expected == S_OK) {
                EXPECT_NE(ReadForm(upload.get()), before);
                continue;
            }
            EXPECT_NE(TakeErrorInfo().description.find(row.named), std::wstring::npos);
            EXPECT_EQ(ReadForm(upload.get()), before);
            EXPECT_TRUE(ReadFiles(upload.get()).empty());
            EXPECT_EQ(TempFileCount(), filesBefore);
            if (row.expected == QOR_E_BODY_TOO_LARGE) {
                EXPECT_EQ(host.Calls(HostStep::BinaryRead), readsBefore) << "an oversized body is not read at all";
            }
        }
    }
}

// With a chunk size, the body is read in BinaryReads of at most that many
// bytes, parsed as it comes, and the results are those of the one read,
// whatever the chunk size and however short the host's answers are.
TEST_F(SecondLayer, ChunkedReadingGivesTheResultsOfOneRead) {
    std::mt19937 random(20261209);
    auto bytes = [&](size_t count) {
        const std::string alphabet = "ab-\r\n-xYz\x00\xff=&%2";
        std::string out;
        for (size_t i = 0; i < count; ++i) out += alphabet[random() % alphabet.size()];
        return out;
    };
    for (int round = 0; round < 12; ++round) {
        const bool isMultipart = round % 3 != 0;
        std::string body;
        if (isMultipart) {
            for (int part = 0; part < 4; ++part)
                body += Part("p" + std::to_string(part % 3), bytes(random() % 3000), part % 2 ? "x.bin" : nullptr);
            body += round % 4 == 1 ? "--xYz--" : kClosing;  // some without the final line break
        } else {
            body = bytes(2000 + random() % 2000);
        }
        const std::wstring type(isMultipart ? kMultipart : kUrlEncoded);

        auto reference = NewUpload();
        ASSERT_EQ(Start(reference.get()), S_OK);
        ASSERT_EQ(Post(reference.get(), type, body), S_OK);
        const FormView form = ReadForm(reference.get());
        std::vector<std::string> data;
        for (const FileView& file : ReadFiles(reference.get())) data.push_back(FileBytes(file.tmpPath));

        for (const auto& [chunk, hostAnswersAtMost] : {std::pair{1L, 0UL}, {7L, 0UL}, {4096L, 0UL},
                                                        {LONG(body.size()), 0UL}, {4096L, 5UL}}) {
            SCOPED_TRACE(std::to_string(round) + " chunk " + std::to_string(chunk) + " short " +
                         std::to_string(hostAnswersAtMost));
            auto upload = NewUpload();
            ASSERT_EQ(Start(upload.get()), S_OK);
            ASSERT_EQ(Second(upload.get())->put_ReadChunkBytes(chunk), S_OK);
            host.SetReadShape(ReadShape::Stream, hostAnswersAtMost);
            const int readsBefore = host.Calls(HostStep::BinaryRead);
            ASSERT_EQ(Post(upload.get(), type, body), S_OK);
            EXPECT_LE(host.LastReadCount(), chunk);
            const size_t perRead = hostAnswersAtMost ? std::min<size_t>(chunk, hostAnswersAtMost) : chunk;
            EXPECT_LE(size_t(host.Calls(HostStep::BinaryRead) - readsBefore), (body.size() + perRead - 1) / perRead);
            EXPECT_EQ(ReadForm(upload.get()), form);
            std::vector<std::string> chunkedData;
            for (const FileView& file : ReadFiles(upload.get())) chunkedData.push_back(FileBytes(file.tmpPath));
            EXPECT_EQ(chunkedData, data);
            host.SetReadShape(ReadShape::ByteArray);
        }
    }
}

// A body that ends before TotalBytes fails the chunked call and leaves
// nothing; a limit stops the reading at once.
TEST_F(SecondLayer, ChunkedReadingStopsAtAnEarlyEndAndAtALimit) {
    auto upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    auto second = Second(upload.get());
    ASSERT_EQ(second->put_ReadChunkBytes(16), S_OK);
    host.SetReadShape(ReadShape::Stream);
    const std::string body = Part("a", "1") + Part("f", std::string(100, 'z'), "f.txt") + kClosing;
    host.SetTotalBytes(LONG(body.size()));
    EXPECT_EQ(Post(upload.get(), kMultipart, body.substr(0, 90)), QOR_E_BODY_INCOMPLETE);
    EXPECT_NE(TakeErrorInfo().description.find(L"ended after 90 of its"), std::wstring::npos);
    EXPECT_EQ(TempFileCount(), 0u);
    // The closing delimiter ends the parse before the missing bytes matter.
    host.SetTotalBytes(LONG(body.size() + 10));
    EXPECT_EQ(Post(upload.get(), kMultipart, body), S_OK);
    EXPECT_EQ(ReadFiles(upload.get()).size(), 1u);
    // Pairs run to the end of the body, so they miss them.
    EXPECT_EQ(Post(upload.get(), kUrlEncoded, "x=1&y=2"), QOR_E_BODY_INCOMPLETE);
    EXPECT_EQ(ReadForm(upload.get()).fields.size(), 2u) << "a and f from the call that succeeded";
    EXPECT_EQ(TempFileCount(), 1u);
    TakeErrorInfo();

    // MaxParts 1 stops a body of 1000 pairs within the first chunks.
    std::string pairs;
    for (int i = 0; i < 1000; ++i) pairs += "k" + std::to_string(i) + "=v&";
    host.SetTotalBytes(LONG(pairs.size()));
    ASSERT_EQ(second->put_MaxParts(1), S_OK);
    const int readsBefore = host.Calls(HostStep::BinaryRead);
    EXPECT_EQ(Post(upload.get(), kUrlEncoded, pairs), QOR_E_TOO_MANY_PARTS);
    EXPECT_LE(host.Calls(HostStep::BinaryRead) - readsBefore, 2);
    TakeErrorInfo();
}

// With ReadChunkBytes, each host call failing, the k-th BinaryRead failing
// for every k (with full and with short answers), and a body that ends
// early (an empty answer mid-body): the call fails with the host's code or
// the early end's, Form, Files and the temporary files are as before it,
// only the kept Request is still held, and the next request is served.
TEST_F(SecondLayer, ChunkedReadingSurvivesEachHostFailure) {
    const HRESULT code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x321);
    const std::string kept = Part("t", "kept") + Part("k", "kept-file", "kept.txt") + kClosing;
    const struct {
        std::wstring type;
        std::string body;
    } bodies[] = {
        {std::wstring(kMultipart),
         Part("t", "text") + Part("f", std::string(150, 'a'), "one.txt") + Part("g", std::string(150, 'b'), "two.txt") +
             kClosing},
        {std::wstring(kUrlEncoded), "a=1&b=" + std::string(300, 'x') + "&t=3"},
    };
    const LONG chunk = 64;
    for (const auto& [type, body] : bodies) {
        // What the kept request and then this body give without a fault.
        FormView form;
        std::vector<FileView> files;
        {
            auto reference = NewUpload();
            ASSERT_EQ(Start(reference.get()), S_OK);
            host.SetTotalBytes(LONG(kept.size()));
            ASSERT_EQ(Post(reference.get(), kMultipart, kept), S_OK);
            host.SetTotalBytes(LONG(body.size()));
            ASSERT_EQ(Post(reference.get(), type, body), S_OK);
            form = ReadForm(reference.get());
            files = WithoutTmpPaths(ReadFiles(reference.get()));
        }
        struct Fault {
            std::string what;
            HostStep step;
            int nth;            // 0: the body ends after endsAfter bytes instead
            ULONG shortAnswers;  // the host answers at most this many bytes (0: what is asked)
            size_t endsAfter;
        };
        std::vector<Fault> faults;
        for (HostStep step : {HostStep::GetServerVariables, HostStep::GetItem, HostStep::GetTotalBytes})
            faults.push_back({"step " + std::to_string(int(step)), step, 1, 0, 0});
        for (ULONG shortAnswers : {0UL, 5UL}) {
            const size_t perRead = shortAnswers ? shortAnswers : chunk;
            for (size_t k = 1; k <= (body.size() + perRead - 1) / perRead; ++k)
                faults.push_back({"read " + std::to_string(k) + " short " + std::to_string(shortAnswers),
                                  HostStep::BinaryRead, int(k), shortAnswers, 0});
        }
        // Ends where a chunk ends, and in the middle of one; a multipart
        // body that keeps its closing delimiter would not miss the rest.
        for (size_t end = 0; end + kClosing.size() < body.size(); end += chunk / 2)
            faults.push_back({"ends after " + std::to_string(end), HostStep::BinaryRead, 0, 0, end});

        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(type == kUrlEncoded ? "pairs, " : "parts, ") + fault.what);
            auto upload = NewUpload();
            ASSERT_EQ(Start(upload.get()), S_OK);
            ASSERT_EQ(Second(upload.get())->put_ReadChunkBytes(chunk), S_OK);
            host.SetReadShape(ReadShape::Stream, fault.shortAnswers);
            host.SetTotalBytes(LONG(kept.size()));
            ASSERT_EQ(Post(upload.get(), kMultipart, kept), S_OK);
            const FormView formBefore = ReadForm(upload.get());
            const std::vector<FileView> filesBefore = ReadFiles(upload.get());
            ASSERT_EQ(filesBefore.size(), 1u);

            host.SetContentType(type);
            host.SetTotalBytes(LONG(body.size()));
            if (fault.nth) {
                host.SetBody(body);
                host.FailNthCall(fault.step, fault.nth, code);
            } else {
                host.SetBody(body.substr(0, fault.endsAfter));
            }
            EXPECT_EQ(upload->ProcessPostData(), fault.nth ? code : QOR_E_BODY_INCOMPLETE);
            const std::wstring description = TakeErrorInfo().description;
            if (fault.nth) {
                const wchar_t* expected[] = {L"", L"", L"Can't obtain server variables", L"Can't obtain content-type",
                                             L"Can't obtain total bytes", L"Can't call BinaryRead"};
                EXPECT_EQ(description, expected[int(fault.step)]);
            } else {
                EXPECT_EQ(description, L"The request body ended after " + std::to_wstring(fault.endsAfter) +
                                           L" of its " + std::to_wstring(body.size()) + L" bytes");
            }
            host.FailNthCall(fault.step, 0, S_OK);
            EXPECT_EQ(ReadForm(upload.get()), formBefore);
            EXPECT_EQ(ReadFiles(upload.get()), filesBefore);
            EXPECT_EQ(FileBytes(filesBefore[0].tmpPath), "kept-file");
            EXPECT_EQ(TempFileCount(), 1u) << "the failed call's files are deleted";
            EXPECT_EQ(host.LiveObjects(), 1) << "only the kept Request is still held";

            host.SetBody(body);
            ASSERT_EQ(upload->ProcessPostData(), S_OK);
            EXPECT_EQ(ReadForm(upload.get()), form);
            EXPECT_EQ(WithoutTmpPaths(ReadFiles(upload.get())), files);
            host.SetReadShape(ReadShape::ByteArray);
        }
    }
}

// Text from the client in the page's code page; temporary paths stay the
// system's. Without CodePage (or with 0) the conversion is IQORUpload's.
TEST_F(SecondLayer, CodePageConvertsWhatTheClientSent) {
    const std::string body = Part("caf\xC3\xA9", "\xE6\x97\xA5\xFF") +
                             Part("f", "data", "C:\\d\xC3\xA9j\xC3\xA0\\na\xC3\xAFve.txt",
                                  "Content-Type: text/plain; name=\xC3\xA9\r\n") +
                             kClosing;
    const struct {
        LONG codePage;
        const wchar_t *name, *value, *fileName, *contentType;
    } rows[] = {
        {0, L"caf\u00C3\u00A9", L"\u00E6\u2014\u00A5\u00FF", L"na\u00C3\u00AFve.txt", L"text/plain; name=\u00C3\u00A9"},
        {1252, L"caf\u00C3\u00A9", L"\u00E6\u2014\u00A5\u00FF", L"na\u00C3\u00AFve.txt", L"text/plain; name=\u00C3\u00A9"},
        {65001, L"caf\u00E9", L"\u65E5\uFFFD", L"na\u00EFve.txt", L"text/plain; name=\u00E9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codePage);
        auto upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Second(upload.get())->put_CodePage(row.codePage), S_OK);
        ASSERT_EQ(Post(upload.get(), kMultipart, body), S_OK);
        const FormView form = ReadForm(upload.get());
        ASSERT_EQ(form.fields.size(), 2u);
        EXPECT_EQ(form.fields[0].first, row.name);
        EXPECT_EQ(form.fields[0].second, std::vector<std::wstring>{row.value});
        const auto infos = FileInfos(upload.get());
        ASSERT_EQ(infos.size(), 1u);
        EXPECT_EQ(Read(infos[0].get(), &IQORFileInfo2::get_FileName), row.fileName);
        EXPECT_EQ(Read(infos[0].get(), &IQORFileInfo2::get_ContentType), row.contentType);
        EXPECT_TRUE(FileExists(Read(infos[0].get(), &IQORFileInfo2::get_TmpPath)));
    }
}

// SaveAs writes a copy beside nothing partial, refuses what it must, and
// works only while the upload object keeps the temporary file.
TEST_F(SecondLayer, SaveAsCopiesTheFileAndNeverLeavesAPartialOne) {
    const std::wstring out = TempDirectory() + L"\\saved";
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    const std::string data(20000, 'd');
    ComPtr<IQORFileInfo2> info;
    {
        auto upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kMultipart, Part("f", data, "../../etc/x.bin") + kClosing), S_OK);
        info = FileInfos(upload.get()).at(0);
        const std::wstring target = out + L"\\" + Read(info.get(), &IQORFileInfo2::get_FileName);
        EXPECT_EQ(target, out + L"\\x.bin");

        EXPECT_EQ(info->SaveAs(UniqueBstr(SysAllocString(target.c_str())).get(), VARIANT_FALSE), S_OK);
        EXPECT_EQ(FileBytes(target), data);
        // Again, by name as a script calls it, with overwrite omitted: refused.
        NamedCall again = CallByName(info.get(), L"SaveAs", DISPATCH_METHOD, {*Text(target).get()});
        EXPECT_EQ(again.scode, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        EXPECT_NE(again.description.find(target), std::wstring::npos) << again.description;
        WriteFileBytes(target, "older");
        UniqueVariant yes;
        V_VT(yes.get()) = VT_BOOL;
        V_BOOL(yes.get()) = VARIANT_TRUE;
        EXPECT_EQ(CallByName(info.get(), L"SaveAs", DISPATCH_METHOD, {*Text(target).get(), *yes.get()}).hr, S_OK);
        EXPECT_EQ(FileBytes(target), data);
        EXPECT_EQ(info->SaveAs(UniqueBstr(SysAllocString((out + L"\\second.bin").c_str())).get(), VARIANT_FALSE), S_OK);

        const std::wstring missing = out + L"\\no\\such\\dir\\x.bin";
        EXPECT_EQ(HRESULT_FACILITY(info->SaveAs(UniqueBstr(SysAllocString(missing.c_str())).get(), VARIANT_TRUE)),
                  FACILITY_WIN32);
        EXPECT_NE(TakeErrorInfo().description.find(missing), std::wstring::npos);
        EXPECT_EQ(info->SaveAs(UniqueBstr(SysAllocString(L"")).get(), VARIANT_TRUE), E_INVALIDARG);
        EXPECT_EQ(FilesIn(out), 2u) << "x.bin and second.bin, and no temporary copy";
    }
    // The upload object is gone, and its temporary file with it.
    EXPECT_EQ(info->SaveAs(UniqueBstr(SysAllocString((out + L"\\late.bin").c_str())).get(), VARIANT_TRUE),
              QOR_E_UPLOAD_GONE);
    EXPECT_NE(TakeErrorInfo().description.find(L"gone"), std::wstring::npos);
    EXPECT_EQ(FilesIn(out), 2u);
    for (const wchar_t* name : {L"x.bin", L"second.bin"}) DeleteFileW((out + L"\\" + name).c_str());
    RemoveDirectoryW(out.c_str());
}

// MoveTo takes a stored file out of the upload object's keeping: it is then
// the page's, where the page put it, and every file info of it says so.
TEST_F(SecondLayer, MoveToHandsTheFileOverAndNeverLeavesAPartialOne) {
    const std::wstring out = TempDirectory() + L"\\moved", sub = out + L"\\sub";
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    const std::string a(70000, 'a'), b = "bbb";
    auto path = [](const std::wstring& text) { return UniqueBstr(SysAllocString(text.c_str())); };
    auto moveTo = [&](IQORFileInfo2* info, const std::wstring& target, bool overwrite) {
        ComPtr<IQORFileInfo3> third;
        EXPECT_EQ(info->QueryInterface(IID_IQORFileInfo3, third.put_void()), S_OK);
        return third->MoveTo(path(target).get(), overwrite ? VARIANT_TRUE : VARIANT_FALSE);
    };
    const std::wstring target = out + L"\\a.bin", other = sub + L"\\b.bin";
    std::vector<ComPtr<IQORFileInfo2>> infos;
    std::wstring tmpOfB;
    {
        auto upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kMultipart, Part("a", a, "a.bin") + Part("b", b, "b.bin") + kClosing), S_OK);
        infos = FileInfos(upload.get());
        const std::wstring tmpOfA = Read(infos[0].get(), &IQORFileInfo2::get_TmpPath);
        tmpOfB = Read(infos[1].get(), &IQORFileInfo2::get_TmpPath);

        // A directory that is not there: the file stays where it was, the
        // upload object's, and nothing is left at the destination's folder.
        EXPECT_EQ(HRESULT_FACILITY(moveTo(infos[0].get(), out + L"\\none\\a.bin", true)), FACILITY_WIN32);
        EXPECT_NE(TakeErrorInfo().description.find(out + L"\\none\\a.bin"), std::wstring::npos);
        EXPECT_EQ(FileBytes(tmpOfA), a);

        ASSERT_EQ(moveTo(infos[0].get(), target, false), S_OK);
        EXPECT_EQ(FileBytes(target), a);
        EXPECT_EQ(GetFileAttributesW(tmpOfA.c_str()), INVALID_FILE_ATTRIBUTES) << "moved, not copied";
        EXPECT_EQ(Read(infos[0].get(), &IQORFileInfo2::get_TmpPath), target);
        EXPECT_EQ(FilesIn(out), 1u) << "no temporary name left beside it";

        // Twice, or SaveAs after it: refused, naming where the file went.
        EXPECT_EQ(moveTo(infos[0].get(), out + L"\\again.bin", true), QOR_E_FILE_MOVED);
        EXPECT_NE(TakeErrorInfo().description.find(target), std::wstring::npos);
        NamedCall save = CallByName(infos[0].get(), L"SaveAs", DISPATCH_METHOD, {*Text(out + L"\\copy.bin").get()});
        EXPECT_EQ(save.scode, QOR_E_FILE_MOVED);
        EXPECT_NE(save.description.find(target), std::wstring::npos) << save.description;

        // An existing file is replaced only with overwrite; another directory is fine.
        WriteFileBytes(other, "older");
        EXPECT_EQ(moveTo(infos[1].get(), other, false), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(FileBytes(other), "older");
        EXPECT_EQ(FileBytes(tmpOfB), b);
        EXPECT_EQ(FilesIn(sub), 1u);
        UniqueVariant yes;
        V_VT(yes.get()) = VT_BOOL;
        V_BOOL(yes.get()) = VARIANT_TRUE;
        EXPECT_EQ(CallByName(infos[1].get(), L"MoveTo", DISPATCH_METHOD, {*Text(other).get(), *yes.get()}).hr, S_OK);
        EXPECT_EQ(FileBytes(other), b);

        // Another call's rebuilt Files still know both files moved.
        ASSERT_EQ(Post(upload.get(), kMultipart, Part("c", "c", "c.bin") + kClosing), S_OK);
        auto rebuilt = FileInfos(upload.get());
        ASSERT_EQ(rebuilt.size(), 3u);
        EXPECT_EQ(Read(rebuilt[0].get(), &IQORFileInfo2::get_TmpPath), target);
        EXPECT_EQ(moveTo(rebuilt[1].get(), out + L"\\b2.bin", false), QOR_E_FILE_MOVED);
    }
    // The upload object is gone: the moved files stay, the others went with it.
    EXPECT_EQ(FileBytes(target), a);
    EXPECT_EQ(FileBytes(other), b);
    EXPECT_EQ(TempFileCount(), 0u);
    EXPECT_EQ(moveTo(infos[0].get(), out + L"\\late.bin", false), QOR_E_FILE_MOVED);
    auto lateUpload = NewUpload();
    ASSERT_EQ(Start(lateUpload.get()), S_OK);
    ASSERT_EQ(Post(lateUpload.get(), kMultipart, Part("d", "d", "d.bin") + kClosing), S_OK);
    auto late = FileInfos(lateUpload.get()).at(0);
    lateUpload.reset();
    EXPECT_EQ(moveTo(late.get(), out + L"\\late.bin", false), QOR_E_UPLOAD_GONE);
    EXPECT_EQ(FilesIn(out), 1u);
    for (const std::wstring& file : {target, other}) DeleteFileW(file.c_str());
    RemoveDirectoryW(sub.c_str());
    RemoveDirectoryW(out.c_str());
}

// What a page's TypeName reads: the name in each object's type information.
// Objects that gained members through a second interface still describe
// themselves by the first, while the new members stay reachable by name.
TEST_F(SecondLayer, TypeNamesAreThoseOfTheFirstLayer) {
    auto upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(Post(upload.get(), kMultipart, Part("a", "1") + Part("f", "x", "x.txt") + kClosing), S_OK);
    ComPtr<IQORVariantDictionary> form, files;
    ASSERT_EQ(upload->get_Form(form.put()), S_OK);
    ASSERT_EQ(upload->get_Files(files.put()), S_OK);
    UniqueVariant values, file;
    ComPtr<IUnknown> enumerator;
    ASSERT_EQ(form->get_Item(*Text(L"a").get(), values.put()), S_OK);
    ASSERT_EQ(files->get_Item(*Int(1).get(), file.put()), S_OK);
    ASSERT_EQ(form->get__NewEnum(enumerator.put()), S_OK);

    const struct { const char* object; IUnknown* unknown; const wchar_t* typeName; const wchar_t* newMember; } rows[] = {
        {"upload object", upload.get(), L"IQORUpload", L"CodePage"},
        {"Form", form.get(), L"IQORVariantDictionary", nullptr},
        {"Files", files.get(), L"IQORVariantDictionary", nullptr},
        {"Form(name)", V_DISPATCH(values.get()), L"IQORVariantCollection", nullptr},
        {"Files(1)", V_DISPATCH(file.get()), L"IQORFileInfo", L"FileName"},
        {"Form's enumerator", enumerator.get(), nullptr, nullptr},  // no IDispatch: "Unknown"
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.object);
        ComPtr<IDispatch> dispatch;
        const HRESULT hr = row.unknown->QueryInterface(IID_IDispatch, dispatch.put_void());
        if (!row.typeName) {
            EXPECT_EQ(hr, E_NOINTERFACE);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
        UniqueBstr name;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name.get(), row.typeName);
        if (row.newMember) {
            EXPECT_EQ(CallByName(dispatch.get(), row.newMember, DISPATCH_PROPERTYGET).hr, S_OK) << "reached by name";
        }
    }
}

}  // namespace
}  // namespace upload_test
