#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

class MailUploadTest : public TextUploadTest {
 protected:
  MailUploadTest() : TextUploadTest("mail000.txt", UploadMail) {}

  // The one record of a successful upload, with its frame checked.
  std::string Sent(const std::string& file, unsigned group) {
    Message result;
    auto requests = Upload(file, &result);
    EXPECT_EQ(Text(result), Text(nullptr));
    EXPECT_EQ(requests.size(), 1u);
    if (requests.size() != 1) return "";
    EXPECT_EQ(requests[0].code, 3u);
    EXPECT_EQ(requests[0].group, group);
    EXPECT_EQ(requests[0].operation, 3u);
    EXPECT_EQ(AnnouncedLength(requests[0]), requests[0].payload.size() + 4);
    return requests[0].payload;
  }
};

std::string Light(const std::string& v1, const std::string& v2, const std::string& v3,
                  const std::string& v4, const std::string& x, const std::string& y,
                  const std::string& body) {
  return "\x1C" + Field(1, 1, v1) + Field(2, 1, v2) + Field(3, 1, v3) + Field(4, 1, v4) +
         Field(5, 1, x) + Field(6, 1, y) + Field(7, 2, body);
}

std::string Mail(const std::string& v1, const std::string& v2, const std::string& v3,
                 const std::string& v4, const std::string& body) {
  return "\x1C" + Field(1, 1, v1) + Field(2, 1, v2) + Field(3, 1, v3) + Field(4, 1, v4) +
         Field(5, 3, body);
}

TEST_F(MailUploadTest, LightMailFileAsTheDownloadWritesIt) {
  EXPECT_EQ(Sent("X-PORIKA-LIGHT: t1,t2,t3,t4\r\n\r\nx\r\ny\r\nz", 4),
            Light("t1", "t2", "t3", "t4", "x", "y", "z"));
  // Exactly four lines: the body is empty.
  EXPECT_EQ(Sent("X-PORIKA-LIGHT: a,b,c,d\r\n\r\n\r\nsecond\r\n", 4),
            Light("a", "b", "c", "d", "", "second", ""));
}

TEST_F(MailUploadTest, MailFileAsTheDownloadWritesIt) {
  const std::string body = "line 1\r\n\tTAB\x82\xA0\xFF\r\n\r\nend";
  EXPECT_EQ(Sent("X-PORIKA-MAIL: 090,\x8E\x52\x93\x63,2007/01/02,1\r\n" + body, 5),
            Mail("090", "\x8E\x52\x93\x63", "2007/01/02", "1", body));
  // The header line alone, without a line end.
  EXPECT_EQ(Sent("X-PORIKA-MAIL: a,b,c,d", 5), Mail("a", "b", "c", "d", ""));
}

TEST_F(MailUploadTest, HeaderValues) {
  // Spaces behind the key go; spaces behind commas stay; a fourth comma and
  // what follows belong to value 4; values may be empty.
  EXPECT_EQ(Sent("X-PORIKA-MAIL:    a, b,,d,e f\nB", 5), Mail("a", " b", "", "d,e f", "B"));
  EXPECT_EQ(Sent("X-PORIKA-MAIL:,,,\n", 5), Mail("", "", "", "", ""));
}

TEST_F(MailUploadTest, FortyByteHeaderAndThousandByteBody) {
  const std::string header = "X-PORIKA-MAIL: 012345,abcdefgh,ijkl,mn\r\n";
  ASSERT_EQ(header.size(), 40u);
  std::string body(1000, '\0');
  for (int i = 0; i < 1000; ++i) body[i] = static_cast<char>(i % 251);
  const std::string sent = Sent(header + body, 5);
  EXPECT_EQ(sent, Mail("012345", "abcdefgh", "ijkl", "mn", body));
  // The body field announces 1000 bytes.
  EXPECT_EQ(sent.substr(sent.size() - 1000 - 4, 4), Le32(1000));
}

TEST_F(MailUploadTest, LargeBodyStreamsWhole) {
  std::string body(300000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 13 + i / 4096);
  EXPECT_EQ(Sent("X-PORIKA-LIGHT: a,b,c,d\r\n\r\nx\r\ny\r\n" + body, 4),
            Light("a", "b", "c", "d", "x", "y", body));
}

TEST_F(MailUploadTest, NotAMailFile) {
  EXPECT_EQ(Text(Check("")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-MAIL: a,b\r\nbody")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("x-porika-light: a,b,c,d\r\n\r\nx\r\ny\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check(" X-PORIKA-MAIL: a,b,c,d\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-MAIL: a,b,c,d\tx\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-MAIL: a\tb,c,d,e\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-LIGHT: a,b,c,d\r\n \r\nx\r\ny\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-LIGHT: a,b,c,d\r\n\r\nx\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("X-PORIKA-LIGHT: a,b,c,d\r\n")), Text(MSG_CHECK_FORMAT));
}

TEST_F(MailUploadTest, HeaderLinesMustLieInTheFirstWindow) {
  // A header line longer than the window arrives cut.
  EXPECT_EQ(Text(Check("X-PORIKA-MAIL:" + std::string(5000, ' ') + "a,b,c,d\r\nbody")),
            Text(MSG_CHECK_FORMAT));
  // A light mail whose fourth line crosses byte 4096.
  EXPECT_EQ(Text(Check("X-PORIKA-LIGHT: a,b,c,d\r\n\r\n" + std::string(4000, 'x') + "\r\n" +
                       std::string(100, 'y') + "\r\nbody")),
            Text(MSG_CHECK_FORMAT));
  // Ending exactly at byte 4096 is still inside.
  const std::string full = "X-PORIKA-MAIL:" + std::string(4073, ' ') + "a,b,c,d\r\n";
  ASSERT_EQ(full.size(), 4096u);
  EXPECT_EQ(Sent(full + "body", 5), Mail("a", "b", "c", "d", "body"));
  // A last header line without LF that ends the file at byte 4096 is whole:
  // the body is empty, whether the line filled the first window or needed a
  // second fill to end.
  const std::string whole = "X-PORIKA-MAIL:" + std::string(4075, ' ') + "a,b,c,d";
  ASSERT_EQ(whole.size(), 4096u);
  EXPECT_EQ(Sent(whole, 5), Mail("a", "b", "c", "d", ""));
  const std::string light =
      "X-PORIKA-LIGHT:" + std::string(3967, ' ') + "a,b,c,d\r\n\r\nx\r\n" + std::string(100, 'y');
  ASSERT_EQ(light.size(), 4096u);
  EXPECT_EQ(Sent(light, 4), Light("a", "b", "c", "d", "x", std::string(100, 'y'), ""));
}

TEST_F(MailUploadTest, RecordHeadMustFitThePacketBuffer) {
  // 36 + 4061 bytes of values fill the buffer exactly; one more does not fit.
  const std::string fits = "X-PORIKA-MAIL: " + std::string(4058, 'v') + ",a,b,c\r\nbody";
  EXPECT_EQ(Sent(fits, 5), Mail(std::string(4058, 'v'), "a", "b", "c", "body"));
  EXPECT_EQ(Text(Check("X-PORIKA-MAIL: " + std::string(4059, 'v') + ",a,b,c\r\nbody")),
            Text(MSG_CHECK_FORMAT));
  // A light mail: 50 + 4047 bytes.
  EXPECT_EQ(Text(Check("X-PORIKA-LIGHT: " + std::string(2000, 'v') + ",a,b,c\r\n\r\n" +
                       std::string(2044, 'x') + "\r\ny\r\n")),
            Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Sent("X-PORIKA-LIGHT: " + std::string(2000, 'v') + ",a,b,c\r\n\r\n" +
                     std::string(2043, 'x') + "\r\ny\r\n",
                 4),
            Light(std::string(2000, 'v'), "a", "b", "c", std::string(2043, 'x'), "y", ""));
}

TEST_F(MailUploadTest, RefusedMail) {
  Message result;
  auto requests = Upload("X-PORIKA-MAIL: a,b,c,d\r\nbody", &result,
                         [](const ReceivedRequest&, std::size_t) { return Reply{"NG"}; });
  EXPECT_EQ(Text(result), Text(MSG_UPLOAD_FAILED));
  EXPECT_EQ(requests.size(), 1u);

  requests = Run([&] { return UploadMail((dir_ / "none.txt").wstring().c_str()); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_FILE_OPEN_ERROR));
  EXPECT_TRUE(requests.empty());
}

}  // namespace
