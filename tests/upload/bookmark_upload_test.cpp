#include "handset/content.h"
#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

// The comment line the bookmark download writes first.
const std::string kComment = handset::kBookmarkComment;

std::string Record(const std::string& title, const std::string& url, const std::string& number,
                   const std::string& folder) {
  return "\x1C" + Field(1, 2, title) + Field(2, 1, url) + Field(3, 1, number) + Field(4, 2, folder);
}

class BookmarkUploadTest : public TextUploadTest {
 protected:
  BookmarkUploadTest() : TextUploadTest("bookmark.txt", UploadBookmarks) {}

  std::vector<std::string> Records(const std::vector<ReceivedRequest>& requests) {
    return BulkRecords(requests, 8, "13");
  }
};

TEST_F(BookmarkUploadTest, DownloadedFileUploadsWithItsNumbers) {
  Message result;
  auto requests =
      Upload(kComment + "03\t07\tA\tB\r\n19\t99\t\x83\x65\x83\x58\x83\x67\thttp://x/\r\n", &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  const auto records = Records(requests);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], Record("A", "B", "07", "03"));
  EXPECT_EQ(records[0].size(), 35u);
  EXPECT_EQ(std::string(requests[2].header.begin(), requests[2].header.end()),
            std::string("\xE1\x01\x00\x03\x27\x00\x00\x00\x00\x08\x00\x03", 12));
  EXPECT_EQ(records[1], Record("\x83\x65\x83\x58\x83\x67", "http://x/", "99", "19"));
}

TEST_F(BookmarkUploadTest, EntriesWithoutNumberTakeTheFreeOnes) {
  Message result;
  auto records = Records(Upload("1\tfirst\tu1\n0\t00\tsecond\tu2\n2\tthird\tu3\n", &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], Record("first", "u1", "01", "01"));
  EXPECT_EQ(records[1], Record("second", "u2", "00", "00"));
  EXPECT_EQ(records[2], Record("third", "u3", "02", "02"));
}

TEST_F(BookmarkUploadTest, SeparatorsAndFieldCounts) {
  Message result;
  auto records = Records(Upload(
      // leading blanks and TAB runs
      "  \t3\t\t07\t\tA B\t\t\tB\n"
      // trailing TABs: two fields, the URL ends at the first TAB
      "4\tT\tU\t\t\r\n"
      // a TAB run is one separator: 05 becomes the title
      "00\t05\t\thttp://u\n"
      // digits as a title when only two fields stand
      "1\t123\tV\n"
      // anything behind the third field is ignored
      "2\t08\tW\tX\tmore\n"
      // folder digits with a leading zero
      "019\tY\tZ\n",
      &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[0], Record("A B", "B", "07", "03"));
  EXPECT_EQ(records[1], Record("T", "U", "00", "04"));
  EXPECT_EQ(records[2], Record("05", "http://u", "01", "00"));
  EXPECT_EQ(records[3], Record("123", "V", "02", "01"));
  EXPECT_EQ(records[4], Record("W", "X", "08", "02"));
  EXPECT_EQ(records[5], Record("Y", "Z", "03", "19"));
}

TEST_F(BookmarkUploadTest, ValidationMessages) {
  EXPECT_EQ(Text(Check("3 \tA\tB\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("x3\tA\tB\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("3\tA\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("3\tA\t\t\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("3\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("20\tA\tB\n")), Text(MSG_CHECK_FOLDER_RANGE));
  EXPECT_EQ(Text(Check("99999999999\tA\tB\n")), Text(MSG_CHECK_FOLDER_RANGE));
  EXPECT_EQ(Text(Check("0\t100\tA\tB\n")), Text(MSG_CHECK_NUMBER_RANGE));
  EXPECT_EQ(Text(Check("0\t7a\tA\tB\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("0\t5\tA\tB\n1\t05\tC\tD\n")), Text(MSG_CHECK_NUMBER_DUPLICATE));
  // The first failing line decides, even after good ones.
  EXPECT_EQ(Text(Check("0\tA\tB\n1\tC\tD\n25\tE\tF\n0\t7a\tG\tH\n")), Text(MSG_CHECK_FOLDER_RANGE));
}

TEST_F(BookmarkUploadTest, AHundredEntriesAndNoMore) {
  std::string file = kComment;
  for (int i = 0; i < 100; ++i) file += "1\tt" + std::to_string(i) + "\tu\n";
  Message result;
  auto records = Records(Upload(file, &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(records.size(), 100u);
  EXPECT_EQ(records[99], Record("t99", "u", "99", "01"));

  EXPECT_EQ(Text(Check(file + "\n; comment\n2\tone more\tu\n")), Text(MSG_CHECK_TOO_MANY));
}

TEST_F(BookmarkUploadTest, CommentsAndBlankLinesOnly) {
  Message result;
  auto requests = Upload(kComment + "\r\n   \n;x\n\t\t\n", &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  EXPECT_TRUE(Records(requests).empty());
  EXPECT_EQ(requests.size(), 3u);
}

TEST_F(BookmarkUploadTest, LongLinesArriveInPieces) {
  // The first piece is a good entry; the rest of the line starts with a letter.
  EXPECT_EQ(Text(Check("0" + std::string(3000, '\t') + "T\t" + std::string(2000, 'U') + "\n")),
            Text(MSG_CHECK_FORMAT));
}

TEST_F(BookmarkUploadTest, RecordMustFitThePacketBuffer) {
  // 33 + 4064 bytes is the whole buffer.
  Message result;
  auto requests =
      Upload("0\t" + std::string(2032, 'T') + "\t" + std::string(2032, 'U') + "\n", &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  const auto records = Records(requests);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].size(), 4097u);
  EXPECT_EQ(AnnouncedLength(requests[2]), 4101u);

  EXPECT_EQ(Text(Check("0\t" + std::string(2032, 'T') + "\t" + std::string(2033, 'U') + "\n")),
            Text(MSG_CHECK_FORMAT));
}

TEST_F(BookmarkUploadTest, RefusedRecordStillEndsTheUpload) {
  Message result;
  auto requests =
      Upload("0\tA\ta\n0\tB\tb\n0\tC\tc\n", &result, [](const ReceivedRequest& r, std::size_t) {
        return Reply{r.operation == 3 && r.payload.find('B') != std::string::npos ? "1" : "0"};
      });
  EXPECT_EQ(Text(result), Text(MSG_BOOKMARKS_INCOMPLETE));
  const auto records = Records(requests);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1], Record("B", "b", "01", "00"));
}

TEST_F(BookmarkUploadTest, MissingFileSendsNothing) {
  Message result;
  auto requests =
      Run([&] { return UploadBookmarks((dir_ / "no-such-file").wstring().c_str()); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_FILE_OPEN_ERROR));
  EXPECT_TRUE(requests.empty());
}

}  // namespace
