// The mail download: numbered files across both phases, old files removed
// first, bodies past the packet buffer, the acknowledgement after the frame.
#include <algorithm>
#include <functional>
#include <set>

#include "tests/download/download_fixture.h"

namespace {

std::string LightMail(const std::string& tag3 = "t3", const std::string& body = "z") {
  return Record({Field(1, "t1"), Field(2, "t2"), Field(3, tag3), Field(4, "t4"), Field(5, "x"),
                 Field(6, "y"), Field(7, body, 2)});
}

std::string Mail(const std::string& body, const std::string& from = "from@example") {
  return Record({Field(1, from), Field(2, "2026/12/08 10:00"), Field(3, "subject"), Field(4, "4"),
                 Field(5, body, 3)});
}

const std::string kLightFile = "X-PORIKA-LIGHT: t1,t2,t3,t4\r\n\r\nx\r\ny\r\nz";

std::string MailFile(const std::string& body, const std::string& from = "from@example") {
  return "X-PORIKA-MAIL: " + from + ",2026/12/08 10:00,subject,4\r\n" + body;
}

class MailTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    SetPath(FilePath("mail???.txt"));  // as the dispatch leaves it
  }

  // Peer side: one phase, each item followed by its acknowledgement.
  void ServePhase(unsigned group, const std::vector<std::string>& items) {
    Next();
    Send(2, group, 1, std::to_string(items.size()));
    if (items.empty()) return;
    Next();
    for (const auto& item : items) {
      Send(3, group, 2, item);
      Next();
    }
  }

  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }
};

TEST_F(MailTest, TwoLightMailsAndThreeMailsAreNumberedInOneRun) {
  const std::string sjis = "\x96\x7B\x95\xB6\r\n\x82\xA0";  // "本文" CR LF "あ"
  PeerScript script([&] {
    ServePhase(4, {LightMail(), LightMail("t3", sjis)});
    ServePhase(5, {Mail("body one"), Mail(sjis), Mail(std::string("nul\0inside", 10))});
  });
  EXPECT_EQ(W(DownloadMail(path)), W(nullptr));
  script.Join();
  EXPECT_EQ(Files(), (std::set<std::string>{"mail000.txt", "mail001.txt", "mail002.txt",
                                            "mail003.txt", "mail004.txt"}));
  EXPECT_EQ(ReadLocal(folder / "mail000.txt"), kLightFile);
  EXPECT_EQ(ReadLocal(folder / "mail001.txt"),
            "X-PORIKA-LIGHT: t1,t2,t3,t4\r\n\r\nx\r\ny\r\n" + sjis);
  EXPECT_EQ(ReadLocal(folder / "mail002.txt"), MailFile("body one"));
  EXPECT_EQ(ReadLocal(folder / "mail003.txt"), MailFile(sjis));
  EXPECT_EQ(ReadLocal(folder / "mail004.txt"), MailFile(std::string("nul\0inside", 10)));
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/4/1:", "3/4/2:", kAck, kAck,
                                             "2/5/1:", "3/5/2:", kAck, kAck, kAck}));
  EXPECT_EQ(std::wstring(path), FilePath("mail004.txt"));
}

TEST_F(MailTest, MissingTagLeavesAGapAndIsReportedAtTheEnd) {
  const std::string noTag3 = Record({Field(1, "t1"), Field(2, "t2"), Field(4, "t4"), Field(5, "x"),
                                     Field(6, "y"), Field(7, "z")});
  // Tags 1 to 4 alone still make a mail, with an empty body.
  const std::string noBody = Record(
      {Field(1, "from@example"), Field(2, "2026/12/08 10:00"), Field(3, "subject"), Field(4, "4")});
  PeerScript script([&] {
    ServePhase(4, {LightMail(), noTag3});
    ServePhase(5, {Mail("m"), noBody, noBody + "\x1E\x05"});
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_BAD_DATA));
  script.Join();
  EXPECT_EQ(Files(),
            (std::set<std::string>{"mail000.txt", "mail002.txt", "mail003.txt", "mail004.txt"}));
  EXPECT_EQ(ReadLocal(folder / "mail002.txt"), MailFile("m"));
  EXPECT_EQ(ReadLocal(folder / "mail003.txt"), MailFile(""));
  EXPECT_EQ(ReadLocal(folder / "mail004.txt"), MailFile(""));
}

TEST_F(MailTest, OldMailFilesGoOnlyOnceTheNewSetIsWhole) {
  for (int i = 0; i < 10; ++i) WriteLocal(folder / ("mail00" + std::to_string(i) + ".txt"), "old");
  for (const char* keep : {"MAIL010.TXT", "mail1000.txt", "mailbox.txt", "mail7.txt", "mail01.txt"})
    WriteLocal(folder / keep, "old");
  // A part file that an earlier, killed download left goes too.
  WriteLocal(folder / ".palvo-mail123.txt.part", "half");
  const std::set<std::string> kept = {"mail1000.txt", "mailbox.txt", "mail7.txt", "mail01.txt"};
  std::set<std::string> atLastRequest;
  PeerScript script([&] {
    Next();
    Send(2, 4, 1, "1");
    Next();
    Send(3, 4, 2, LightMail());
    Next();
    Next();
    atLastRequest = Files();
    Send(2, 5, 1, "0");
  });
  EXPECT_EQ(W(DownloadMail(path)), W(nullptr));
  script.Join();
  // While the transfer ran, the old set was all there, the new mail aside.
  EXPECT_EQ(atLastRequest.count("mail005.txt"), 1u);
  EXPECT_EQ(atLastRequest.count(".palvo-mail000.txt.part"), 1u);
  EXPECT_EQ(atLastRequest.count(".palvo-mail123.txt.part"), 0u);
  auto after = kept;
  after.insert("mail000.txt");
  after.insert("palvo-attic");
  EXPECT_EQ(Files(), after);
  EXPECT_EQ(ReadLocal(folder / "mail000.txt"), kLightFile);
  // The earlier set is not deleted: it waits in the attic, every file of it.
  const fs::path attic = fs::directory_iterator(folder / "palvo-attic")->path();
  std::set<std::string> earlier;
  for (const auto& entry : fs::directory_iterator(attic)) {
    earlier.insert(entry.path().filename().string());
    EXPECT_EQ(ReadLocal(entry.path()), "old");
  }
  EXPECT_EQ(earlier,
            (std::set<std::string>{"MAIL010.TXT", "mail000.txt", "mail001.txt", "mail002.txt",
                                   "mail003.txt", "mail004.txt", "mail005.txt", "mail006.txt",
                                   "mail007.txt", "mail008.txt", "mail009.txt"}));
}

// Wherever the link fails, the earlier set stays exactly as it was and no new
// file is left, not even a part file.
TEST_F(MailTest, AFailedDownloadLeavesTheOldSetExactlyAsItWas) {
  const struct {
    const char* where;
    std::function<void()> serve;
    const WCHAR* message;
  } cases[] = {
      {"light mail count", [] {}, MSG_COMM_LIGHT_MAIL_COUNT},
      {"second light mail",
       [this] {
         Next();
         Send(2, 4, 1, "2");
         Next();
         Send(3, 4, 2, LightMail());
         Next();
       },
       MSG_COMM_LIGHT_MAIL},
      {"mail count",
       [this] {
         ServePhase(4, {LightMail(), LightMail()});
       },
       MSG_COMM_MAIL_COUNT},
      {"rest of a mail body",
       [this] {
         ServePhase(4, {LightMail()});
         Next();
         Send(2, 5, 1, "1");
         Next();
         const auto frame = ResponseFrame(3, 5, 2, Mail(Pattern(9000)));
         peer.Write(frame.data(), 7000);
       },
       MSG_COMM_CONTENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    peer.Purge();
    WriteLocal(folder / "mail000.txt", "old 0");
    WriteLocal(folder / "MAIL001.TXT", "old 1");
    WriteLocal(folder / "mailbox.txt", "keep");
    PeerScript script([&] { c.serve(); });
    EXPECT_EQ(W(DownloadMail(path)), W(c.message));
    script.Join();
    EXPECT_EQ(Files(), (std::set<std::string>{"MAIL001.TXT", "mail000.txt", "mailbox.txt"}));
    EXPECT_EQ(ReadLocal(folder / "mail000.txt"), "old 0");
    EXPECT_EQ(ReadLocal(folder / "MAIL001.TXT"), "old 1");
  }
}

TEST_F(MailTest, NothingOnTheHandsetWritesNothing) {
  PeerScript script([&] {
    ServePhase(4, {});
    ServePhase(5, {});
  });
  EXPECT_EQ(W(DownloadMail(path)), W(nullptr));
  script.Join();
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/4/1:", "2/5/1:"}));
}

TEST_F(MailTest, A10000ByteMailIsAcknowledgedOnlyAfterItsLastByte) {
  // Frame of exactly 10,000 bytes: 12 header bytes and a 9,988-byte record.
  const std::string shell = Mail("");
  const std::string body = Pattern(10000 - 12 - shell.size());
  const std::string record = Mail(body);
  ASSERT_EQ(record.size() + 12, 10000u);
  bool ackEarly = true;
  PeerScript script([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "1");
    Next();
    const auto frame = ResponseFrame(3, 5, 2, record);
    peer.Write(frame.data(), 6000);
    ackEarly = !Quiet(400);
    peer.Write(frame.data() + 6000, frame.size() - 6000);
    Next();
  });
  EXPECT_EQ(W(DownloadMail(path)), W(nullptr));
  script.Join();
  EXPECT_FALSE(ackEarly);
  EXPECT_EQ(ReadLocal(folder / "mail000.txt"), MailFile(body));
  EXPECT_EQ(Log().back(), kAck);
}

TEST_F(MailTest, ASkipped8193ByteMailIsReadOffBeforeItsAcknowledgement) {
  // No tag 3: skipped, yet its 4,097 bytes beyond the packet buffer are consumed.
  std::string skipped =
      Record({Field(1, "a"), Field(2, "b"), Field(4, "d"), Field(5, std::string(1, 'p'), 3)});
  skipped += Pattern(8193 - 12 - skipped.size());
  ASSERT_EQ(skipped.size() + 12, 8193u);
  bool ackEarly = true;
  PeerScript script([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "2");
    Next();
    const auto frame = ResponseFrame(3, 5, 2, skipped);
    peer.Write(frame.data(), 4096 + 4000);
    ackEarly = !Quiet(400);
    peer.Write(frame.data() + 8096, frame.size() - 8096);
    Next();
    Send(3, 5, 2, Mail("after"));
    Next();
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_BAD_DATA));
  script.Join();
  EXPECT_FALSE(ackEarly);
  EXPECT_EQ(Files(), (std::set<std::string>{"mail001.txt"}));
  EXPECT_EQ(ReadLocal(folder / "mail001.txt"), MailFile("after"));
}

TEST_F(MailTest, LightMailsThatDoNotFitThePacketBuffer) {
  // Only the body runs past: it is streamed into the file whole.
  const std::string longBody = Pattern(7000, 3);
  // The body fits but the frame goes on: skipped, its rest read off the port.
  const std::string trailing = LightMail() + Pattern(6000);
  // A field running past the received frame, and too few fields after tag 4.
  std::string pastFrame = LightMail("t3", "zz");
  pastFrame[pastFrame.size() - 6] = 3;
  const std::string tooFew = Record({Field(1, "t1"), Field(2, "t2"), Field(3, "t3"), Field(4, "t4"),
                                     Field(5, "x"), Field(6, "y")});
  PeerScript script([&] {
    ServePhase(4, {LightMail("t3", longBody), trailing, pastFrame, tooFew, LightMail()});
    ServePhase(5, {});
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_BAD_DATA));
  script.Join();
  EXPECT_EQ(Files(), (std::set<std::string>{"mail000.txt", "mail004.txt"}));
  EXPECT_EQ(ReadLocal(folder / "mail000.txt"),
            "X-PORIKA-LIGHT: t1,t2,t3,t4\r\n\r\nx\r\ny\r\n" + longBody);
  EXPECT_EQ(ReadLocal(folder / "mail004.txt"), kLightFile);
}

TEST_F(MailTest, FramesThatFailEndTheirPhase) {
  // A light mail of the wrong operation.
  PeerScript light([&] {
    Next();
    Send(2, 4, 1, "1");
    Next();
    Send(3, 4, 3, LightMail());
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_COMM_LIGHT_MAIL));
  light.Join();
  EXPECT_TRUE(Quiet());

  // The mail count never comes.
  PeerScript count([&] { ServePhase(4, {LightMail()}); });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_COMM_MAIL_COUNT));
  count.Join();
  EXPECT_TRUE(Files().empty());
  peer.Purge();

  // A mail of the wrong group is not acknowledged.
  PeerScript mail([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "1");
    Next();
    Send(3, 4, 2, Mail("m"));
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_COMM_MAIL));
  mail.Join();
  EXPECT_TRUE(Quiet());
}

TEST_F(MailTest, SilenceWhileTheRestOfAMailIsOnThePort) {
  const std::string body = Pattern(9000);
  PeerScript script([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "1");
    Next();
    const auto frame = ResponseFrame(3, 5, 2, Mail(body));
    peer.Write(frame.data(), 7000);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_COMM_CONTENT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  script.Join();
  EXPECT_TRUE(Files().empty());  // what arrived of it went with its part file
  EXPECT_TRUE(Quiet());          // no acknowledgement

  // The same while a skipped mail's rest is discarded.
  peer.Purge();
  PeerScript skipped([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "1");
    Next();
    const auto frame = ResponseFrame(3, 5, 2, Record({Field(1, "only")}) + Pattern(9000));
    peer.Write(frame.data(), 7000);
  });
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_COMM_CONTENT));
  skipped.Join();
  EXPECT_TRUE(Quiet());
}

#ifndef _WIN32
TEST_F(MailTest, FullDiskIsReportedAndTheMailIsNotAcknowledged) {
  PeerScript mail([&] {
    ServePhase(4, {});
    Next();
    Send(2, 5, 1, "2");
    Next();
    Send(3, 5, 2, Mail(Pattern(9000)));
  });
  {
    FileSizeLimit limit(4096);
    EXPECT_EQ(W(DownloadMail(path)), W(MSG_CANNOT_WRITE));
  }
  mail.Join();
  EXPECT_TRUE(Quiet());
  EXPECT_TRUE(Files().empty());

  PeerScript light([&] {
    Next();
    Send(2, 4, 1, "2");
    Next();
    Send(3, 4, 2, LightMail());
    Next();
  });
  {
    FileSizeLimit limit(20);
    EXPECT_EQ(W(DownloadMail(path)), W(MSG_CANNOT_WRITE));
  }
  light.Join();
  EXPECT_EQ(Log().back(), kAck) << testing::PrintToString(Log());
  EXPECT_TRUE(Quiet());  // nothing after the first light mail's acknowledgement
  EXPECT_TRUE(Files().empty());
}
#endif

TEST_F(MailTest, FoldersThatCannotHoldAMailName) {
  SetPath(L"mail???.txt");  // no folder at all
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_CANNOT_WRITE));
  // A folder leaving fewer than 11 units for "mail000.txt".
  std::wstring longFolder = FolderPath(folder);
  longFolder += std::wstring(259 - 10 - longFolder.size() - 1, L'f') + L"\\";
  ASSERT_EQ(longFolder.size(), 249u);
  SetPath(longFolder);
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_CANNOT_WRITE));
  // Nor one leaving room for "mail000.txt" but not for its part name.
  SetPath(longFolder.substr(0, 249 - 11) + L"\\");
  EXPECT_EQ(W(DownloadMail(path)), W(MSG_CANNOT_WRITE));
  EXPECT_TRUE(Quiet());
}

}  // namespace
