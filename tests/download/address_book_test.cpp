// The address book download: vCards back to back, byte for byte.
#include "tests/download/download_fixture.h"

namespace {

std::string VCard(const std::string& name, const std::string& lineEnd = "\r\n") {
  return "BEGIN:VCARD" + lineEnd + "VERSION:2.1" + lineEnd + "N;CHARSET=SHIFT_JIS:" + name +
         lineEnd + "END:VCARD" + lineEnd;
}

class AddressBookTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    target = FilePath("address.txt");
  }
  void Serve(const std::vector<std::string>& items) {
    Next();
    Send(2, 3, 1, std::to_string(items.size()));
    if (items.empty()) return;
    Next();
    for (const auto& item : items) {
      Send(3, 3, 2, item);
      Next();
    }
  }
  std::wstring target;
};

TEST_F(AddressBookTest, NoEntriesGiveAnEmptyFile) {
  WriteLocal(folder / "address.txt", "older");
  PeerScript script([&] { Serve({}); });
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(nullptr));
  script.Join();
  ASSERT_TRUE(fs::exists(folder / "address.txt"));
  EXPECT_EQ(fs::file_size(folder / "address.txt"), 0u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/3/1:"}));
  EXPECT_TRUE(Quiet());
}

TEST_F(AddressBookTest, EntriesAreConcatenatedUnchanged) {
  const std::vector<std::string> cards = {VCard("\x8E\x52\x93\x63;\x91\xBE\x98\x59"),
                                          VCard("Suzuki", "\n"), VCard(std::string("N\0ul", 4))};
  PeerScript script([&] { Serve(cards); });
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "address.txt"), cards[0] + cards[1] + cards[2]);
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/3/1:", "3/3/2:", kAck, kAck, kAck}));
}

TEST_F(AddressBookTest, WrongGroupOnTheSecondItemLeavesTheOlderFile) {
  WriteLocal(folder / "address.txt", "older");
  PeerScript script([&] {
    Next();
    Send(2, 3, 1, "3");
    Next();
    Send(3, 3, 2, VCard("first"));
    Next();
    Send(3, 4, 2, VCard("second"));
  });
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(MSG_COMM_ADDRESS));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "address.txt"), "older");
  EXPECT_EQ(Names(), std::vector<std::string>{"address.txt"});
  EXPECT_TRUE(Quiet());  // the second is not acknowledged
}

TEST_F(AddressBookTest, AnEntryLongerThanThePacketBufferIsKeptWhole) {
  const std::string big = VCard(Pattern(9000));
  PeerScript script([&] { Serve({big, VCard("after")}); });
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "address.txt"), big + VCard("after"));
}

TEST_F(AddressBookTest, TheRestOfALongEntryNeverComing) {
  PeerScript script([&] {
    Next();
    Send(2, 3, 1, "1");
    Next();
    const auto frame = ResponseFrame(3, 3, 2, VCard(Pattern(9000)));
    peer.Write(frame.data(), 6000);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(MSG_COMM_ADDRESS));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  script.Join();
}

TEST_F(AddressBookTest, LocalFileProblems) {
  const std::wstring missing = FolderPath(folder / "missing") + L"address.txt";
  EXPECT_EQ(W(DownloadAddressBook(missing.c_str())), W(MSG_CANNOT_WRITE));
  EXPECT_TRUE(Quiet());
  EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(MSG_COMM_ADDRESS_COUNT));
  EXPECT_TRUE(Names().empty());
  peer.Purge();
#ifndef _WIN32
  // A full disk, in the part of an entry that came with its frame and in the
  // part that followed from the port.
  for (rlim_t room : {100u, 5000u}) {
    PeerScript script([&] { Serve({VCard(Pattern(9000))}); });
    {
      FileSizeLimit limit(room);
      EXPECT_EQ(W(DownloadAddressBook(target.c_str())), W(MSG_CANNOT_WRITE));
    }
    script.Join();
    EXPECT_EQ(Log().back(), kAck);
    EXPECT_TRUE(Names().empty());
    log.clear();
  }
#else
  if (!HaveFullDevice()) GTEST_SKIP() << "no full device";
  PeerScript script([&] { Serve({VCard(Pattern(9000))}); });
  EXPECT_EQ(W(DownloadAddressBook(kFullDevice)), W(MSG_CANNOT_WRITE));
  script.Join();
  EXPECT_EQ(Log().back(), kAck);
#endif
}

}  // namespace
