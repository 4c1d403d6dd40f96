// Log-in against a scripted handset: the hello and PIN exchange, and what a
// refused PIN leaves behind.
#include "link/login.h"

#include "link/messages.h"
#include "link/pin_store.h"
#include "tests/link/link_fixture.h"

namespace {

class LoginTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    ASSERT_TRUE(OpenCorePort(peer.PortName()));
    std::wcscpy(g_driverKeyPath, kTestDriverKey);
    CreateDriverKey(kTestDriverKey);
    g_installationKey = 0x2468ACE1u;
  }

  // Answers the hello with helloReply and, when that is "OK", the PIN request
  // with pinReply; records the PIN payload the core sent. A hello refused
  // brings goodbye and the hello once more, answered with secondReply (the
  // same as the first when empty).
  void Handset(const std::string& helloReply, const std::string& pinReply,
               const char* secondReply = nullptr) {
    ReceivedRequest r;
    if (!ReadRequest(peer, &r)) return;
    hello = r;
    peer.Write(ResponseFrame(0, 1, 1, helloReply));
    if (helloReply != "OK") {
      if (!ReadRequest(peer, &goodbye) || !ReadRequest(peer, &r)) return;
      secondHello = r;
      const std::string again = secondReply ? secondReply : helloReply;
      peer.Write(ResponseFrame(0, 1, 1, again));
      if (again != "OK") return;
    }
    if (!ReadRequest(peer, &r)) return;
    pin = r;
    peer.Write(ResponseFrame(1, 2, 1, pinReply));
  }

  ReceivedRequest hello, goodbye, secondHello, pin;
};

TEST_F(LoginTest, HelloThenPinAccepted) {
  g_currentPin = 1234;
  {
    PeerScript script([&] { Handset("OK", "OK"); });
    EXPECT_EQ(LogIn(), nullptr);
  }
  EXPECT_EQ(hello.header, Bytes({0xE1, 0x01, 0, 0, 0x05, 0, 0, 0, 0, 0x01, 0, 0x01}));
  EXPECT_EQ(hello.payload, "1");
  EXPECT_EQ(pin.code, 1u);
  EXPECT_EQ(pin.group, 2u);
  EXPECT_EQ(pin.operation, 1u);
  EXPECT_EQ(pin.payload, "1234");
  EXPECT_EQ(g_currentPin, 1234u);
}

TEST_F(LoginTest, PinAlwaysGoesOutAsFourDigits) {
  const struct {
    DWORD current;
    const char* sent;
  } cases[] = {{7, "0007"}, {0, "0000"}, {123456, "3456"}, {10000, "0000"}, {0xFFFFFFFFu, "7295"}};
  for (const auto& c : cases) {
    g_currentPin = c.current;
    {
      PeerScript script([&] { Handset("OK", "OK"); });
      EXPECT_EQ(LogIn(), nullptr);
    }
    EXPECT_EQ(pin.payload, c.sent) << c.current;
  }
}

TEST_F(LoginTest, HelloReplyMustBeExactlyOk) {
  g_currentPin = 1234;
  WriteStoredPin();
  DWORD before = 0;
  ASSERT_TRUE(ReadRawPin(kTestDriverKey, &before));
  for (const char* reply : {"OK\r\n", "O", "", "ok", "NG"}) {
    {
      PeerScript script([&] { Handset(reply, ""); });
      EXPECT_STREQ(LogIn(), MSG_NOT_STANDBY) << reply;
    }
    EXPECT_EQ(goodbye.code, 255u) << "goodbye before the hello is asked again";
    EXPECT_EQ(secondHello.payload, "1");
    EXPECT_TRUE(PeerHearsNothing(peer, 100)) << "no PIN after a refused hello";
  }
  // A handset that is not in standby says nothing about the PIN.
  EXPECT_EQ(g_currentPin, 1234u);
  DWORD after = 0;
  EXPECT_TRUE(ReadRawPin(kTestDriverKey, &after));
  EXPECT_EQ(after, before);
}

// A handset still busy with a transfer an earlier run broke off answers the
// hello only after goodbye ended that transfer.
TEST_F(LoginTest, ABusyHandsetIsBroughtBackByGoodbye) {
  g_currentPin = 1234;
  {
    PeerScript script([&] { Handset("busy", "OK", "OK"); });
    EXPECT_EQ(LogIn(), nullptr);
  }
  EXPECT_EQ(goodbye.code, 255u);
  EXPECT_EQ(secondHello.payload, "1");
  EXPECT_EQ(pin.payload, "1234");
}

TEST_F(LoginTest, RefusedPinIsForgottenEverywhere) {
  g_currentPin = 4321;
  WriteStoredPin();
  DWORD word;
  ASSERT_TRUE(ReadRawPin(kTestDriverKey, &word));
  {
    PeerScript script([&] { Handset("OK", "NG"); });
    EXPECT_STREQ(LogIn(), MSG_WRONG_PIN);
  }
  EXPECT_EQ(pin.payload, "4321");
  EXPECT_EQ(g_currentPin, kNoPin);
  EXPECT_FALSE(ReadRawPin(kTestDriverKey, &word));

  // "OK" followed by more is a refusal too; nothing stored is no error.
  g_currentPin = 4321;
  {
    PeerScript script([&] { Handset("OK", "OK\r\n"); });
    EXPECT_STREQ(LogIn(), MSG_WRONG_PIN);
  }
  EXPECT_EQ(g_currentPin, kNoPin);
}

TEST_F(LoginTest, SilentHandsetGivesUp) {
  g_silenceLimitMs = 1500;
  g_currentPin = 1234;
  auto start = std::chrono::steady_clock::now();
  EXPECT_STREQ(LogIn(), MSG_NOT_STANDBY);
  // The hello, then after goodbye once more: two silences at most.
  EXPECT_LT(ElapsedMs(start), 2 * 1500 + 2500);

  // Silent after the PIN: a failed receive never counts as "OK".
  peer.Purge();
  {
    PeerScript script([&] {
      ReceivedRequest r;
      ReadRequest(peer, &r);
      peer.Write(ResponseFrame(0, 1, 1, "OK"));
      ReadRequest(peer, &r);
    });
    EXPECT_STREQ(LogIn(), MSG_WRONG_PIN);
  }
}

TEST_F(LoginTest, PinReplyCutShortAfterOkIsARefusal) {
  // The hello reply leaves "OK" and its terminator in the packet buffer; a
  // PIN reply announcing "OK\r\n" that stops after "OK" must not pass on them.
  g_currentPin = 1234;
  PeerScript script([&] {
    ReceivedRequest r;
    ReadRequest(peer, &r);
    peer.Write(ResponseFrame(0, 1, 1, "OK"));
    ReadRequest(peer, &r);
    const auto full = ResponseFrame(1, 2, 1, "OK\r\n");
    peer.Write(full.data(), full.size() - 2);
  });
  EXPECT_STREQ(LogIn(), MSG_WRONG_PIN);
}

}  // namespace
