// Upload request building and response reading, without a network.
#include <gtest/gtest.h>

#include "service/Upload.h"

namespace tallowdesk {
namespace {

TEST(ConversionTable, MatchesExtensionInAnyCase) {
    EXPECT_EQ(MimeTypeForFile("Report.DocX"),
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    EXPECT_EQ(MimeTypeForFile("a.b.tab"), "text/tab-separated-values");
    EXPECT_EQ(MimeTypeForFile("slides.PPS"), "application/vnd.ms-powerpoint");
    EXPECT_EQ(MimeTypeForFile("photo.jpeg"), std::nullopt);
    EXPECT_EQ(MimeTypeForFile("README"), std::nullopt);
    EXPECT_EQ(MimeTypeForFile("docx"), std::nullopt);

    EXPECT_TRUE(IsConvertibleFile("/home/u/Notes.TxT"));
    EXPECT_TRUE(IsConvertibleFile("sheet.xlsx"));
    // Only the last component's extension counts.
    EXPECT_FALSE(IsConvertibleFile("/home/u/table.csv/photo"));
    EXPECT_FALSE(IsConvertibleFile("/home/u/photo.JPG"));
    EXPECT_FALSE(IsConvertibleFile(""));
}

TEST(ConvertedUpload, SlugIsEncodedAndCutAtWholeCharacters) {
    EXPECT_EQ(BuildSlug("my report.doc."), "my%20report.doc");
    EXPECT_EQ(BuildSlug(std::string(300, 'a')), std::string(250, 'a'));
    // 83 escapes fill 249 characters; the next one would split.
    EXPECT_EQ(BuildSlug(std::string(100, ' ')).size(), 249u);
    // "é" is two bytes, six characters encoded: never split in half.
    std::string accents;
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
    const std::string slug = BuildSlug(accents);
    EXPECT_EQ(slug.size(), 246u);
    EXPECT_EQ(slug.substr(slug.size() - 6), "%C3%A9");

    EXPECT_EQ(BuildConvertedUploadHeaders("TOK", 5000000000ULL, "text/csv", "a.csv"),
              (std::vector<std::string>{"GData-Version:3.0", "Authorization:GoogleLogin auth=TOK",
                                        "Content-Length: 5000000000", "Content-Type: text/csv",
                                        "Slug: a.csv"}));
}

TEST(ResumableUpload, FolderIdOfTheTarget) {
    EXPECT_EQ(FolderIdFromUploadUrl("https://h/feeds/default/private/full/folder%3Aabc/contents"),
              "abc");
    EXPECT_EQ(FolderIdFromUploadUrl("https://h/feeds/default/private/full"), std::nullopt);
    EXPECT_EQ(FolderIdFromUploadUrl("https://h/feeds/default/private/full/folder%3Aabc?x=1"),
              "abc");
    EXPECT_EQ(FolderIdFromUploadUrl("https://h/feeds/default/private/full/folder%3A/contents"),
              std::nullopt);
    // Uploading into the Root Folder location failed: "root" went out as a
    // parent id that names no entry.
    EXPECT_EQ(FolderIdFromUploadUrl("https://h/feeds/default/private/full/folder%3Aroot/contents"),
              std::nullopt);
}

TEST(ResumableUpload, SessionRequestTemplates) {
    const std::string tail =
        R"({"inlined":{"name":"gdConvert","content":"false","contentType":"text/plain"}},)"
        R"({"inlined":{"name":"visibilitySetting","content":"{\"visibilityState\":\"private\",)"
        R"(\"role\":0,\"restrictedToDomain\":false,\"visibilityEntries\":[{\"visibilityState\":)"
        R"(\"private\",\"role\":0,\"restrictedToDomain\":false}]}","contentType":"text/plain"}}]}})";
    EXPECT_EQ(BuildUploadSessionRequest("a.txt", 12, std::string("F1")),
              R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[{"external":)"
              R"({"name":"file","filename":"a.txt","formPost":{},"size":12}},)"
              R"({"inlined":{"name":"parentId","content":"F1","contentType":"text/plain"}},)" +
                  tail);
    EXPECT_EQ(BuildUploadSessionRequest("a.txt", 12, std::nullopt),
              R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[{"external":)"
              R"({"name":"file","filename":"a.txt","formPost":{},"size":12}},)" +
                  tail);
    // Regression: names were inserted raw and sizes past 2 GiB wrapped.
    const std::string odd =
        BuildUploadSessionRequest("say \"hi\"\\\n.txt", 4294967296ULL + 7, std::nullopt);
    EXPECT_NE(odd.find(R"("filename":"say \"hi\"\\\n.txt")"), std::string::npos);
    EXPECT_NE(odd.find(R"("size":4294967303})"), std::string::npos);
    EXPECT_EQ(JsonEscape(std::string("\x01\x1f\xC3\xA9", 4)), "\\u0001\\u001f\xC3\xA9");
}

TEST(ResumableUpload, SessionUrlFromLocationHeader) {
    EXPECT_EQ(ExtractSessionUrl("HTTP/1.1 200 OK\r\nLocation: https://h/up?upload_id=X\r\n\r\n",
                                "{\"url\":\"https://other\"}"),
              "https://h/up?upload_id=X");
    // The last response's header, matched by its whole name.
    EXPECT_EQ(ExtractSessionUrl("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"
                                "Content-Location: https://wrong\r\nlocation:https://h/s\r\n\r\n",
                                ""),
              "https://h/s");
    EXPECT_EQ(ExtractSessionUrl("HTTP/1.1 302 Found\r\nLocation: https://h/redirect\r\n\r\n"
                                "HTTP/1.1 200 OK\r\n\r\n",
                                ""),
              std::nullopt);
    EXPECT_EQ(ExtractSessionUrl("", "{\"url\":\"https://h/s\"}"), std::nullopt);
}

// Regression: a Location header skipped the clean-up of the body's URL, so a
// service answering "...?upload_id=X&file_id=000" got the file's parameters
// back and answered 404.
TEST(ResumableUpload, SessionUrlFromLocationIsCleanedLikeTheBodys) {
    const struct {
        const char* location;
        const char* expected;
    } cases[] = {
        {"https://h/up?upload_id=X&file_id=000", "https://h/up?upload_id=X"},
        {"https://h/up?file_id=000&upload_id=X", "https://h/up"},
        {"https://h/up?upload_id=X\\u0026a=1", "https://h/up?upload_id=X&a=1"},
        {"https://h/up?upload_id=X\\u0026file_id=1", "https://h/up?upload_id=X"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractSessionUrl(
                      std::string("HTTP/1.1 200 OK\r\nLocation: ") + c.location + "\r\n\r\n", ""),
                  c.expected)
            << c.location;
    }
}

TEST(ResumableUpload, SessionUrlFromJsonBody) {
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
    EXPECT_EQ(
        ExtractSessionUrl(headers, R"({"sessionStatus":{"externalFieldTransfers":[{"formPostInfo":)"
                                   R"({"url":"https://h/upload/resumableupload?upload_id=U1\u0026)"
                                   R"(file_id=000"}}]}})"),
        "https://h/upload/resumableupload?upload_id=U1");
    EXPECT_EQ(ExtractSessionUrl(headers, R"({"url":"https://h/up?file_id=000\u0026x=1"})"),
              "https://h/up");
    EXPECT_EQ(ExtractSessionUrl(headers, R"({"url":"https://h/up?a=1\u0026b=2","n":1})"),
              "https://h/up?a=1&b=2");
    // The URL ends at the first of its ends, not at the first kind of end
    // found anywhere in the rest of the answer.
    EXPECT_EQ(ExtractSessionUrl(headers, R"({"url":"https://h/up?upload_id=1","x":"a&file_id"})"),
              "https://h/up?upload_id=1");
    EXPECT_EQ(ExtractSessionUrl(headers, R"({"url":"https://h/up?file_id=1&file_id=2"})"),
              "https://h/up");
    EXPECT_EQ(ExtractSessionUrl(headers, R"({"url":"http://h/up"})"), std::nullopt);
    EXPECT_EQ(ExtractSessionUrl(headers, ""), std::nullopt);
}

TEST(ResumableUpload, EntryIdOfTheFinalAnswer) {
    EXPECT_EQ(ExtractUploadedEntryId(R"({"url":"https://h/x?id\u003dfile%3AF1\u0026v=1"})"),
              "file%3AF1");
    EXPECT_EQ(ExtractUploadedEntryId(R"({"url":"https://h/x?id\u003dfile%3AF1"})"), "file%3AF1");
    EXPECT_EQ(ExtractUploadedEntryId(R"({"kind":"x","id":"file%3AF2","n":"y"})"), "file%3AF2");
    EXPECT_EQ(ExtractUploadedEntryId(R"({"done":true})"), std::nullopt);
    EXPECT_EQ(ExtractUploadedEntryId(R"({"id":""})"), std::nullopt);
}

}  // namespace
}  // namespace tallowdesk
