// Connections against the simulated handset: port discovery, the PIN step,
// log-in and goodbye as one handset sees them.
#include "link/login.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "tests/link/link_fixture.h"
#include "tests/support/handset_peer.h"

namespace {

class HandsetLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(hs.ok());
    CreateDriverKey(kTestDriverKey);
    g_installationKey = 0x31415926u;
  }
  void TearDown() override { ClosePort(); }

  // One connection as the runner makes it; returns OpenHandsetPort's or
  // LogIn's message.
  Message Connect() {
    Message message = OpenHandsetPort();
    if (message) return message;
    message = LogIn();
    SendGoodbye();
    ClosePort();
    ++goodbyes;
    EXPECT_TRUE(hs.WaitForGoodbye(goodbyes));
    return message;
  }

  std::vector<std::string> PinsSent() {
    std::vector<std::string> pins;
    for (const auto& r : hs->Log())
      if (r.Is(1, 2, 1)) pins.push_back(r.payload);
    return pins;
  }

  InProcessHandset hs;
  int goodbyes = 0;
};

TEST_F(HandsetLoginTest, StoredPinLogsIn) {
  RegisterHandset(hs, true, 1234);
  EXPECT_EQ(Connect(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  EXPECT_EQ(PinsSent(), std::vector<std::string>{"1234"});
  EXPECT_TRUE(hs->Violations().empty());
}

TEST_F(HandsetLoginTest, HandsetNotInStandby) {
  RegisterHandset(hs, true, 1234);
  hs->OverrideReply(0, 1, 1, "OK\r\n");
  EXPECT_STREQ(Connect(), MSG_NOT_STANDBY);
  EXPECT_TRUE(PinsSent().empty());
  EXPECT_EQ(g_currentPin, 1234u);
}

TEST_F(HandsetLoginTest, WrongPinIsAskedForAgain) {
  RegisterHandset(hs, true, 1111);
  EXPECT_STREQ(Connect(), MSG_WRONG_PIN);
  EXPECT_EQ(g_currentPin, kNoPin);
  DWORD word;
  EXPECT_FALSE(ReadRawPin(kTestDriverKey, &word));

  g_testFrontend.pinToEnter = 1234;
  EXPECT_EQ(Connect(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_EQ(PinsSent(), (std::vector<std::string>{"1111", "1234"}));
  EXPECT_TRUE(hs->Violations().empty());
}

TEST_F(HandsetLoginTest, ShortAndLongPinsGoOutAsFourDigits) {
  RegisterHandset(hs, false);
  hs->SetPin("0007");
  g_testFrontend.pinToEnter = 7;
  EXPECT_EQ(Connect(), nullptr);

  DeleteStoredPin();
  hs->SetPin("3456");
  g_testFrontend.pinToEnter = 123456;
  EXPECT_EQ(Connect(), nullptr);
  EXPECT_EQ(PinsSent(), (std::vector<std::string>{"0007", "3456"}));
}

TEST_F(HandsetLoginTest, SilentHandsetGivesUp) {
  RegisterHandset(hs, true, 1234);
  handset::Fault silent;
  silent.action = handset::Fault::kSilence;
  silent.code = 0;
  silent.group = 1;
  silent.operation = 1;
  silent.at = 0;
  hs->AddFault(silent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_STREQ(Connect(), MSG_NOT_STANDBY);
  // The hello, then after goodbye once more: two silences at most.
  EXPECT_LT(ElapsedMs(start), 2 * static_cast<long>(g_silenceLimitMs) + 2500);
}

}  // namespace
