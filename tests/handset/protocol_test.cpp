// The simulated handset in-process over a PeerPort, driven by the raw client.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "handset/handset.h"
#include "tests/handset/raw_client.h"
#include "tests/support/handset_peer.h"

namespace {

using handset::Content;
using handset::Fault;
using handset::Frame;

Content SampleContent() {
  Content c;
  c.files.push_back({"a.jpg", "image", "JPEGDATA", "2006/01/02 03:04"});
  c.files.push_back({"\x89\xB9.mid", "music", std::string("\x00\x01\x02", 3), "2005/12/31 23:59"});
  c.bookmarks.push_back({3, 7, "A", "B"});
  c.bookmarks.push_back({0, 0, "\x93\x56\x8B\x43", "http://x/"});
  c.addresses.push_back("BEGIN:VCARD\r\nN:a\r\nEND:VCARD\r\n");
  c.lightMails.push_back({true, {"t1", "t2", "t3", "t4"}, "x", "y", "z"});
  c.mails.push_back({false, {"m1", "m2", "m3", "m4,more"}, "", "", "body\r\n"});
  return c;
}

class HandsetProtocol : public ::testing::Test {
 protected:
  HandsetProtocol() : hs_(SampleContent()), client_(hs_.PortName()) {}
  void SetUp() override {
    ASSERT_TRUE(hs_.ok());
    ASSERT_TRUE(client_.ok());
  }
  void Goodbye() {
    client_.Send(255, 1, 2);
    ASSERT_TRUE(hs_.WaitForGoodbye(++goodbyes_));
  }
  int goodbyes_ = 0;
  InProcessHandset hs_;
  RawClient client_;
};

TEST_F(HandsetProtocol, HelloPinAndGoodbye) {
  RawClient::Response r;
  client_.Send(0, 1, 1, "1");
  r = client_.Receive();
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.direction, 0x02u);
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.group, 1u);
  EXPECT_EQ(r.op, 1u);
  EXPECT_EQ(r.payload, "OK");
  EXPECT_EQ(client_.Ask(1, 2, 1, "9999"), "NG");
  // A rejected PIN returns to standby: requests get no answer until a hello.
  client_.Send(2, 6, 1);
  EXPECT_EQ(client_.Drain(300), "");
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 6, 1), "2");
  Goodbye();
  client_.Send(2, 6, 1);
  EXPECT_EQ(client_.Drain(300), "");  // back in standby
  auto log = hs_->Log();
  ASSERT_GE(log.size(), 6u);
  EXPECT_TRUE(log[0].Is(0, 1, 1));
  EXPECT_EQ(log[0].connection, 1);
  EXPECT_EQ(log[3].connection, 2);
  // Two requests outside a session were flagged, nothing else.
  EXPECT_EQ(hs_->Violations().size(), 2u);
}

TEST_F(HandsetProtocol, HelloAndPinMustBeExact) {
  EXPECT_EQ(client_.Ask(0, 1, 1, "2"), "NG");
  client_.Send(0, 1, 1, "1");
  EXPECT_EQ(client_.Receive().payload, "OK");
  EXPECT_EQ(client_.Ask(1, 2, 1, "12345"), "NG");
  hs_->OverrideReply(0, 1, 1, "OK\r\n", 1);
  EXPECT_EQ(client_.Ask(0, 1, 1, "1"), "OK\r\n");
  EXPECT_EQ(client_.Ask(1, 2, 1, "1234"), "<none>");  // refused hello: still standby
  client_.LogIn();
  hs_->SetPin("0042");
  EXPECT_EQ(client_.Ask(0, 1, 1, "1"), "OK");
  EXPECT_EQ(client_.Ask(1, 2, 1, "0042"), "OK");
}

TEST_F(HandsetProtocol, NoiseBeforeRequestsIsSkipped) {
  client_.SendRaw(std::string("\x00\xE1\x00\xE1", 4) + RawClient::Request(0, 1, 1, "1"));
  EXPECT_EQ(client_.Receive().payload, "OK");
  EXPECT_FALSE(hs_->Violations().empty());  // the program never sends noise
}

TEST_F(HandsetProtocol, ListingItemsWaitForTheAcknowledgement) {
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 6, 1), "2");
  client_.Send(3, 6, 7);
  RawClient::Response r = client_.Receive();
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.code, 3u);
  EXPECT_EQ(r.group, 6u);
  EXPECT_EQ(r.op, 7u);
  EXPECT_EQ(r.payload, "a.jpg\timage\t8\t2006/01/02 03:04");
  EXPECT_EQ(client_.Drain(300), "");  // nothing before the acknowledgement
  client_.Send(16, 9, 16, "0");
  r = client_.Receive();
  EXPECT_EQ(r.payload, "\x89\xB9.mid\tmusic\t3\t2005/12/31 23:59");
  client_.Send(16, 9, 16, "0");
  Goodbye();
  EXPECT_TRUE(hs_->Violations().empty());
}

TEST_F(HandsetProtocol, AWrongAcknowledgementIsReported) {
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 6, 1), "2");
  client_.Send(3, 6, 7);
  EXPECT_TRUE(client_.Receive().ok);
  client_.Send(16, 9, 16, "1");  // wrong payload, still moves on
  EXPECT_TRUE(client_.Receive().ok);
  client_.Send(2, 6, 1);  // anything but the acknowledgement or goodbye
  client_.Drain(200);
  ASSERT_EQ(hs_->Violations().size(), 2u);
}

TEST_F(HandsetProtocol, FileDownloadEchoesTheRequest) {
  client_.LogIn();
  std::string req = "a.jpg\timage\t";
  EXPECT_EQ(client_.Ask(3, 6, 2, req), req + "JPEGDATA");
  EXPECT_EQ(client_.Ask(3, 6, 2, "a.jpg\tmusic\t"), "");  // wrong category
  EXPECT_EQ(client_.Ask(3, 6, 2, "b.jpg\timage\t"), "");
  EXPECT_TRUE(hs_->Violations().empty());
  EXPECT_EQ(client_.Ask(3, 6, 2, "a.jpg\timage"), "");  // malformed request
  EXPECT_EQ(hs_->Violations().size(), 1u);
}

TEST_F(HandsetProtocol, BookmarkAddressAndMailItems) {
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 8, 1), "2");
  client_.Send(3, 8, 2);
  RawClient::Response r = client_.Receive();
  EXPECT_EQ(r.group, 8u);
  EXPECT_EQ(r.op, 2u);
  EXPECT_EQ(r.payload, std::string("\x1C\x1E\x01\x02\x01\x00\x00\x00\x41"
                                   "\x1E\x02\x01\x01\x00\x00\x00\x42"
                                   "\x1E\x03\x01\x02\x00\x00\x00\x30\x37"
                                   "\x1E\x04\x02\x02\x00\x00\x00\x30\x33",
                                   35));
  client_.Send(16, 9, 16, "0");
  EXPECT_TRUE(client_.Receive().ok);
  client_.Send(16, 9, 16, "0");

  EXPECT_EQ(client_.Ask(2, 3, 1), "1");
  client_.Send(3, 3, 2);
  EXPECT_EQ(client_.Receive().payload, "BEGIN:VCARD\r\nN:a\r\nEND:VCARD\r\n");
  client_.Send(16, 9, 16, "0");

  EXPECT_EQ(client_.Ask(2, 4, 1), "1");
  client_.Send(3, 4, 2);
  r = client_.Receive();
  EXPECT_EQ(r.group, 4u);
  handset::MailItem m;
  std::string why;
  ASSERT_TRUE(handset::MailFromRecord(r.payload, true, &m, &why)) << why;
  EXPECT_EQ(m.line2, "y");
  client_.Send(16, 9, 16, "0");

  EXPECT_EQ(client_.Ask(2, 5, 1), "1");
  client_.Send(3, 5, 2);
  r = client_.Receive();
  ASSERT_TRUE(handset::MailFromRecord(r.payload, false, &m, &why)) << why;
  EXPECT_EQ(m.header[3], "m4,more");
  EXPECT_EQ(m.body, "body\r\n");
  client_.Send(16, 9, 16, "0");
  Goodbye();
  EXPECT_TRUE(hs_->Violations().empty());
}

TEST_F(HandsetProtocol, UploadsAreCheckedAndStored) {
  client_.LogIn();
  // A file: header-only frame, the payload following in pieces.
  std::string payload = "new.png\timage\tPNGBYTES";
  client_.SendRaw(RawClient::Request(3, 6, 3, "", payload.size() + 4));
  client_.SendRaw(payload.substr(0, 5));
  client_.SendRaw(payload.substr(5));
  EXPECT_EQ(client_.Receive().payload, "0");
  EXPECT_EQ(client_.Ask(3, 6, 3, "x.txt\timage\tdata"), "1");  // category against the extension
  EXPECT_EQ(client_.Ask(3, 6, 3, "../x.txt\tother\tdata"), "1");
  EXPECT_EQ(client_.Ask(3, 6, 2, "new.png\timage\t"), "new.png\timage\tPNGBYTES");

  // Bookmarks: start "13", preparation, records, end; the set is replaced.
  EXPECT_EQ(client_.Ask(3, 8, 4, "13"), "0");
  EXPECT_EQ(client_.Ask(3, 8, 5), "0");
  handset::Bookmark b{19, 99, "T", "U"};
  EXPECT_EQ(client_.Ask(3, 8, 3, handset::BookmarkRecord(b)), "0");
  EXPECT_EQ(client_.Ask(3, 8, 3, handset::BookmarkRecord({1, 99, "T2", "U2"})),
            "1");  // number twice
  EXPECT_EQ(client_.Ask(3, 8, 3, handset::BookmarkRecord({20, 1, "T2", "U2"})), "1");  // folder 20
  std::string cut = handset::BookmarkRecord({1, 2, "T3", "U3"});
  cut[3] = 1;  // title sent with type 1
  EXPECT_EQ(client_.Ask(3, 8, 3, cut), "1");
  EXPECT_EQ(client_.Ask(3, 8, 6), "0");
  ASSERT_EQ(hs_->GetContent().bookmarks.size(), 1u);
  EXPECT_EQ(hs_->GetContent().bookmarks[0].title, "T");

  // Addresses: start "10"; every line with CR LF.
  EXPECT_EQ(client_.Ask(3, 3, 4, "13"), "1");  // the bookmark start text
  EXPECT_EQ(client_.Ask(3, 3, 4, "10"), "0");
  EXPECT_EQ(client_.Ask(3, 3, 5), "0");
  EXPECT_EQ(client_.Ask(3, 3, 3, "BEGIN:VCARD\r\nN:b\r\nEND:VCARD\r\n"), "0");
  EXPECT_EQ(client_.Ask(3, 3, 3, "BEGIN:VCARD\nN:b\r\nEND:VCARD\r\n"), "1");
  EXPECT_EQ(client_.Ask(3, 3, 6), "0");
  EXPECT_EQ(hs_->GetContent().addresses.size(), 1u);

  // Mails.
  handset::MailItem m;
  m.header[3] = "subject";
  m.body = "hello";
  EXPECT_EQ(client_.Ask(3, 5, 3, handset::MailRecord(m)), "0");
  EXPECT_EQ(client_.Ask(3, 4, 3, handset::MailRecord(m)), "1");  // a mail record as light mail
  EXPECT_EQ(hs_->GetContent().mails.size(), 2u);

  hs_->RefuseUpload(5, 1);
  EXPECT_EQ(client_.Ask(3, 5, 3, handset::MailRecord(m)), "1");  // second mail of the connection
  EXPECT_EQ(hs_->GetContent().mails.size(), 2u);
  Goodbye();
}

TEST_F(HandsetProtocol, ItemOverridesAndRawFrames) {
  std::vector<Frame> items = hs_->Items(6);
  ASSERT_EQ(items.size(), 2u);
  items[1].group = 7;
  items.push_back({3, 6, 7, "noTabs"});
  hs_->OverrideItems(6, items);
  hs_->OverrideReply(2, 8, 1, "abc");
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 6, 1), "3");
  EXPECT_EQ(client_.Ask(2, 8, 1), "abc");
  client_.Send(3, 6, 7);
  EXPECT_TRUE(client_.Receive().ok);
  client_.Send(16, 9, 16, "0");
  EXPECT_EQ(client_.Receive().group, 7u);
  client_.Send(16, 9, 16, "0");
  EXPECT_EQ(client_.Receive().payload, "noTabs");
}

TEST_F(HandsetProtocol, FaultsBendTheFrames) {
  client_.LogIn();
  Fault noise;
  noise.action = Fault::kNoise;
  noise.bytes = std::string("\x00\xE1\x00", 3);
  noise.code = 2;
  hs_->AddFault(noise);
  Fault pieces;
  pieces.action = Fault::kPieces;
  pieces.maxPiece = 1;
  pieces.ms = 1;
  hs_->AddFault(pieces);
  std::size_t skipped = 0;
  client_.Send(2, 6, 1);
  RawClient::Response r = client_.Receive(3000, &skipped);
  EXPECT_EQ(r.payload, "2");
  EXPECT_EQ(skipped, 3u);

  hs_->ClearControl();
  Fault extra;
  extra.action = Fault::kExtra;
  extra.bytes = "JUNK";
  extra.nth = 1;
  extra.code = 3;
  hs_->AddFault(extra);
  client_.Send(3, 6, 2, "a.jpg\timage\t");
  EXPECT_EQ(client_.Receive().payload, "a.jpg\timage\tJPEGDATA");
  EXPECT_EQ(client_.Drain(300), "JUNK");

  hs_->ClearControl();
  Fault silence;
  silence.action = Fault::kSilence;
  silence.at = 5;
  silence.code = 2;
  silence.group = 8;
  hs_->AddFault(silence);
  client_.Send(2, 8, 1);
  EXPECT_EQ(client_.Drain(300).size(), 5u);
}

TEST(HandsetServe, VanishingPortEndsServing) {
  InProcessHandset hs(SampleContent());
  RawClient client(hs.PortName());
  client.LogIn();
  Fault vanish;
  vanish.action = Fault::kVanish;
  vanish.at = 20;
  hs->AddFault(vanish);
  client.Send(3, 6, 2, "a.jpg\timage\t");
  EXPECT_LE(client.Drain(300).size(), 20u);
}

}  // namespace

namespace {

TEST_F(HandsetProtocol, LargeFramesBothWays) {
  Content c = SampleContent();
  std::string big(10000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  c.files.push_back({"big.bin", "other", big, "2006/01/01 00:00"});
  hs_->SetContent(c);
  client_.LogIn();
  EXPECT_EQ(client_.Ask(3, 6, 2, "big.bin\tother\t"), "big.bin\tother\t" + big);

  // An upload of 100000 bytes written in odd pieces.
  std::string payload = "up.bin\tother\t" + std::string(100000, 'u');
  client_.SendRaw(RawClient::Request(3, 6, 3, "", payload.size() + 4));
  for (std::size_t pos = 0; pos < payload.size(); pos += 3001)
    client_.SendRaw(payload.substr(pos, 3001));
  EXPECT_EQ(client_.Receive().payload, "0");
  EXPECT_EQ(hs_->GetContent().files.back().data.size(), 100000u);

  // A mail item of 10000 bytes goes out whole.
  std::vector<Frame> mails = hs_->Items(5);
  mails[0].payload += std::string(10000, 'm');
  hs_->OverrideItems(5, mails);
  EXPECT_EQ(client_.Ask(2, 5, 1), "1");
  client_.Send(3, 5, 2);
  RawClient::Response r = client_.Receive();
  EXPECT_EQ(r.length, mails[0].payload.size() + 4);
  client_.Send(16, 9, 16, "0");
  Goodbye();
  EXPECT_TRUE(hs_->Violations().empty());
}

TEST_F(HandsetProtocol, BrokenRequestsAreReportedAndSurvived) {
  hs_->SetStallMs(200);
  client_.SendRaw(RawClient::Request(0, 1, 1, "", 10) + "1");  // announces 6 payload bytes
  EXPECT_EQ(client_.Drain(500), "");
  ASSERT_EQ(hs_->Violations().size(), 1u);
  EXPECT_NE(hs_->Violations()[0].find("cut short"), std::string::npos);
  std::string hello = RawClient::Request(0, 1, 1, "1");
  hello[8] = 1;
  client_.SendRaw(hello);
  EXPECT_EQ(client_.Receive().payload, "OK");
  EXPECT_EQ(hs_->Violations().size(), 2u);
  client_.SendRaw(RawClient::Request(0, 1, 1, "", 2));  // length below 4
  client_.LogIn();
  EXPECT_EQ(hs_->Violations().size(), 3u);
  // Requests the handset does not know get no answer.
  client_.Send(3, 6, 9);
  client_.Send(3, 8, 3, "x");  // a record outside a bulk upload
  EXPECT_EQ(client_.Receive().payload, "1");
  EXPECT_EQ(hs_->Violations().size(), 5u);
}

TEST_F(HandsetProtocol, SilenceEndsTheSession) {
  hs_->SetIdleResetMs(200);
  client_.LogIn();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  client_.Send(2, 6, 1);
  EXPECT_EQ(client_.Drain(300), "");
  client_.LogIn();
  EXPECT_EQ(client_.Ask(2, 6, 1), "2");
}

TEST_F(HandsetProtocol, ThrottleSlowsTheWrites) {
  Content c = SampleContent();
  c.files.push_back({"big.bin", "other", std::string(8000, 'b'), "2006/01/01 00:00"});
  hs_->SetContent(c);
  client_.LogIn();
  hs_->SetThrottle(16000);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_.Ask(3, 6, 2, "big.bin\tother\t").size(), 8014u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

// A line that was idle sends no faster afterwards: a pause earns no credit.
TEST_F(HandsetProtocol, ThrottleBanksNoCreditWhileIdle) {
  Content c = SampleContent();
  c.files.push_back({"big.bin", "other", std::string(8000, 'b'), "2006/01/01 00:00"});
  hs_->SetContent(c);
  hs_->SetThrottle(16000);
  client_.LogIn();
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_.Ask(3, 6, 2, "big.bin\tother\t").size(), 8014u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
}

TEST(HandsetServe, StopsWhileNobodyReads) {
  Content c;
  c.files.push_back({"big.bin", "other", std::string(1 << 20, 'b'), "2006/01/01 00:00"});
  auto start = std::chrono::steady_clock::now();
  {
    InProcessHandset hs(c);
    RawClient client(hs.PortName());
    client.LogIn();
    client.Send(3, 6, 2, "big.bin\tother\t");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }  // the client is gone first, then the handset must still stop
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

}  // namespace

namespace {

// A program that refuses a bent item, or that the user stopped, ends with
// goodbye instead of the acknowledgement: no deviation, and the handset is in
// standby at once.
TEST_F(HandsetProtocol, GoodbyeInsteadOfAnAcknowledgementEndsTheTransfer) {
  for (const bool bent : {true, false}) {
    SCOPED_TRACE(bent ? "bent item" : "natural item");
    std::vector<Frame> items = hs_->Items(8);
    items[0].code = 4;
    if (bent) hs_->OverrideItems(8, items);
    client_.LogIn();
    EXPECT_EQ(client_.Ask(2, 8, 1), "2");
    client_.Send(3, 8, 2);
    EXPECT_EQ(client_.Receive().code, bent ? 4u : 3u);
    Goodbye();
    hs_->ClearControl();
    const auto start = std::chrono::steady_clock::now();
    client_.LogIn();
    // Not left waiting for silence to end the session (30 s).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    Goodbye();
  }
  EXPECT_TRUE(hs_->Violations().empty()) << hs_->Violations().front();
}

// Stopped in the middle of an upload's payload, the program says goodbye and
// its next run says hello: the request is dropped at once, nothing stored.
TEST_F(HandsetProtocol, AnUploadCutShortByGoodbyeIsDroppedAtOnce) {
  const std::string head = "cut.bin\tother\t";
  const std::string goodbye = RawClient::Request(255, 1, 2, "");
  // Waiting out the rest of the payload would take a minute: "at once" is
  // anything well under that, however loaded the machine.
  hs_->SetStallMs(60000);
  for (const bool together : {false, true}) {
    SCOPED_TRACE(together ? "goodbye and hello in one write" : "goodbye, then hello");
    client_.LogIn();
    client_.SendRaw(RawClient::Request(3, 6, 3, head + std::string(3000, 'x'),
                                       static_cast<long long>(head.size() + 10000 + 4)));
    const auto start = std::chrono::steady_clock::now();
    if (together) {
      client_.SendRaw(goodbye + RawClient::Request(0, 1, 1, "1"));
      EXPECT_EQ(client_.Receive().payload, "OK");
      EXPECT_EQ(client_.Ask(1, 2, 1, "1234"), "OK");
    } else {
      client_.SendRaw(goodbye);
      ASSERT_TRUE(hs_.WaitForGoodbye(++goodbyes_, 30000));  // heard on its own
      client_.LogIn();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(client_.Ask(2, 6, 1), "2");  // the file count as before
    Goodbye();
  }
  for (const auto& f : hs_->GetContent().files) EXPECT_NE(f.name, "cut.bin");
  EXPECT_TRUE(hs_->Violations().empty()) << hs_->Violations().front();
}

}  // namespace
