#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

class AddressUploadTest : public TextUploadTest {
 protected:
  AddressUploadTest() : TextUploadTest("address.txt", UploadAddressBook) {}

  // The vCards, one record each.
  std::vector<std::string> Cards(const std::vector<ReceivedRequest>& requests) {
    return BulkRecords(requests, 3, "10");
  }
};

const std::string kCard1 =
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:\x8E\x52\x93\x63;\x91\xBE\x98\x59\r\nEND:VCARD\r\n";
const std::string kCard2 = "BEGIN:VCARD\r\nVERSION:2.1\r\nTEL:0312345678\r\nEND:VCARD\r\n";

TEST_F(AddressUploadTest, DownloadedFileUploadsUnchanged) {
  Message result;
  auto cards = Cards(Upload(kCard1 + kCard2, &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0], kCard1);
  EXPECT_EQ(cards[1], kCard2);
}

TEST_F(AddressUploadTest, LinesAreReEndedWithCrLf) {
  Message result;
  auto cards = Cards(
      Upload("\n\nBEGIN:VCARD\nN:a\n\nNOTE:x\ry\nEND:VCARD\rtrailing\n\r\n\nBEGIN:VCARD\nEND:VCARD",
             &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(cards.size(), 2u);
  // Empty lines inside stay; text after a lone CR is dropped.
  EXPECT_EQ(cards[0], "BEGIN:VCARD\r\nN:a\r\n\r\nNOTE:x\r\nEND:VCARD\r\n");
  EXPECT_EQ(cards[1], "BEGIN:VCARD\r\nEND:VCARD\r\n");
}

TEST_F(AddressUploadTest, VCardOfExactly4096Bytes) {
  // 13 + (5 + k + 2) + 11 bytes with CR LF line ends; LF alone counts 2 as well.
  const std::string card = "BEGIN:VCARD\nNOTE:" + std::string(4065, 'n') + "\nEND:VCARD\n";
  Message result;
  auto cards = Cards(Upload(card, &result));
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].size(), 4096u);

  EXPECT_EQ(Text(Check("BEGIN:VCARD\nNOTE:" + std::string(4066, 'n') + "\nEND:VCARD\n")),
            Text(MSG_CHECK_FORMAT));
}

TEST_F(AddressUploadTest, StructureErrorsSendNothing) {
  EXPECT_EQ(Text(Check("begin:vcard\nEND:VCARD\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("BEGIN:VCARD \nEND:VCARD\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check(kCard1 + "END:VCARD\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check(kCard1 + "BEGIN:VCARD\r\nN:x\r\n")), Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check("BEGIN:VCARD\n" + std::string(5000, 'x') + "\nEND:VCARD\n")),
            Text(MSG_CHECK_FORMAT));
  EXPECT_EQ(Text(Check(std::string(5000, 'x') + "\n")), Text(MSG_CHECK_FORMAT));
}

TEST_F(AddressUploadTest, EmptyFileOpensAndClosesTheUpload) {
  Message result;
  auto requests = Upload("\r\n\n", &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  EXPECT_TRUE(Cards(requests).empty());
  EXPECT_EQ(requests.size(), 3u);
}

TEST_F(AddressUploadTest, RefusedVCardStillEndsTheUpload) {
  Message result;
  auto requests = Upload(
      kCard1 + kCard2 + kCard1, &result,
      [](const ReceivedRequest& r, std::size_t index) { return Reply{index == 3 ? "1" : "0"}; });
  // The handset cleared its address book at the start: it is incomplete now.
  EXPECT_EQ(Text(result), Text(MSG_ADDRESS_INCOMPLETE));
  auto cards = Cards(requests);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[1], kCard2);
}

}  // namespace
