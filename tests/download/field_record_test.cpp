// Field records: decoding in place in the packet buffer, and the encoder.
#include <cstring>

#include "tests/download/download_fixture.h"

namespace {

class FieldRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTestProcess(); }

  // Puts a bookmark frame carrying record into the packet buffer; returns its end.
  int Load(const std::string& record) {
    const auto frame = ResponseFrame(3, 8, 2, record);
    std::memset(g_packet, 0xAA, kBufferBytes);
    std::memcpy(g_packet, frame.data(), frame.size());
    g_packet[frame.size()] = 0;
    return static_cast<int>(frame.size());
  }
};

TEST_F(FieldRecordTest, EncodesTheBookmarkExampleAs35Bytes) {
  BYTE* p = g_packet;
  *p++ = kRecordStart;
  p = EncodeField(p, 1, 2, "A", 1);
  p = EncodeField(p, 2, 1, "B", 1);
  p = EncodeField(p, 3, 1, "05", 2);
  p = EncodeField(p, 4, 2, "01", 2);
  const std::vector<BYTE> expected = {0x1C, 0x1E, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x41,
                                      0x1E, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x42, 0x1E,
                                      0x03, 0x01, 0x02, 0x00, 0x00, 0x00, 0x30, 0x35, 0x1E,
                                      0x04, 0x02, 0x02, 0x00, 0x00, 0x00, 0x30, 0x31};
  ASSERT_EQ(p - g_packet, 35);
  EXPECT_EQ(std::vector<BYTE>(g_packet, p), expected);

  // A length above 255 goes into the following bytes, little-endian.
  BYTE big[300 + 7];
  EXPECT_EQ(EncodeField(big, 7, 2, std::string(300, 'x').data(), 300), big + 307);
  EXPECT_EQ(big[3], 0x2C);
  EXPECT_EQ(big[4], 0x01);
  EXPECT_EQ(big[5], 0x00);
}

TEST_F(FieldRecordTest, AbsentAndReorderedFieldsAreFoundOnlyInAscendingOrder) {
  // Without tag 2: tag 3 is looked for where tag 2 was expected.
  int end = Load(Record({Field(1, "title"), Field(3, "5"), Field(4, "1")}));
  int pos = kFirstField;
  bool bad = false;
  EXPECT_STREQ(DecodeField(&pos, end, 1, &bad), "title");
  const int afterTitle = pos;
  EXPECT_EQ(DecodeField(&pos, end, 2, &bad), nullptr);
  EXPECT_EQ(pos, afterTitle);
  EXPECT_STREQ(DecodeField(&pos, end, 3, &bad), "5");
  EXPECT_STREQ(DecodeField(&pos, end, 4, &bad), "1");
  EXPECT_EQ(pos, end);
  EXPECT_FALSE(bad);

  // Tag 2 before tag 1: tag 1 is absent, then 2, 3 and 4 are found.
  end = Load(Record({Field(2, "url"), Field(1, "t"), Field(3, "7"), Field(4, "0")}));
  pos = kFirstField;
  EXPECT_EQ(DecodeField(&pos, end, 1, &bad), nullptr);
  EXPECT_STREQ(DecodeField(&pos, end, 2, &bad), "url");
  EXPECT_EQ(DecodeField(&pos, end, 3, &bad), nullptr);  // tag 1 stands there
  EXPECT_FALSE(bad);
}

TEST_F(FieldRecordTest, EmptyFieldsOddTypeBytesAndStartBytesAreAccepted) {
  std::string record = Record({Field(1, "", 9), Field(2, "u", 0)});
  record[0] = 0x55;  // not 0x1C
  record[1] = 0x00;  // field start byte is not checked either
  const int end = Load(record);
  int pos = kFirstField;
  bool bad = false;
  EXPECT_STREQ(DecodeField(&pos, end, 1, &bad), "");
  EXPECT_STREQ(DecodeField(&pos, end, 2, &bad), "u");
  EXPECT_FALSE(bad);
  // The end of the record: nothing more, and nothing bad about it.
  EXPECT_EQ(DecodeField(&pos, end, 3, &bad), nullptr);
  EXPECT_FALSE(bad);
}

TEST_F(FieldRecordTest, FieldsRunningPastTheReceivedBytesAreFaultyAndUntouched) {
  // A length one byte too long.
  std::string record = Record({Field(1, "abc")});
  record[4] = 4;
  int end = Load(record);
  int pos = kFirstField;
  bool bad = false;
  EXPECT_EQ(DecodeField(&pos, end, 1, &bad), nullptr);
  EXPECT_TRUE(bad);
  EXPECT_EQ(pos, kFirstField);
  EXPECT_EQ(g_packet[end + 1], 0xAA);  // nothing written behind the terminator

  // A length near 4 GB must not wrap around.
  record = Record({Field(1, "abc")});
  record[4] = record[5] = record[6] = record[7] = '\xFF';
  end = Load(record);
  bad = false;
  EXPECT_EQ(DecodeField(&pos, end, 1, &bad), nullptr);
  EXPECT_TRUE(bad);

  // A field header cut off by the end of the frame.
  end = Load(Record({Field(1, "t")}) + "\x1E\x02\x01\x05");
  pos = kFirstField;
  bad = false;
  EXPECT_STREQ(DecodeField(&pos, end, 1, &bad), "t");
  EXPECT_EQ(DecodeField(&pos, end, 2, &bad), nullptr);
  EXPECT_TRUE(bad);

  // Positional fields follow the same rule.
  end = Load(Record({Field(5, "xy")}));
  pos = kFirstField;
  DWORD length = 0;
  EXPECT_EQ(TakeField(&pos, end - 1, &length), nullptr);
  EXPECT_EQ(pos, kFirstField);
  const char* data = TakeField(&pos, end, &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 2u);
  EXPECT_STREQ(data, "xy");
}

TEST_F(FieldRecordTest, DecimalTextsReadLikeAtol) {
  EXPECT_EQ(ReadDecimal("12"), 12);
  EXPECT_EQ(ReadDecimal("  -7x"), -7);
  EXPECT_EQ(ReadDecimal("+05"), 5);
  EXPECT_EQ(ReadDecimal("abc"), 0);
  EXPECT_EQ(ReadDecimal(""), 0);
  EXPECT_EQ(ReadDecimal("99999999999999999999"), 2147483647);
  EXPECT_EQ(ReadDecimal("-99999999999999999999"), -2147483647 - 1);
}

}  // namespace
