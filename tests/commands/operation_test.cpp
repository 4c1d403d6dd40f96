// The operation runner: open, log in, transfer, goodbye, close, report.
#include "commands/commands.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "tests/link/link_fixture.h"
#include "tests/support/row_view.h"

namespace {

struct FakeTransfer {
  int calls = 0;
  bool talks = false;  // asks the handset one question
  Message result = nullptr;
  bool portOpen = false;
};

Message RunFake(void* context) {
  auto* fake = static_cast<FakeTransfer*>(context);
  ++fake->calls;
  fake->portOpen = g_port != INVALID_HANDLE_VALUE;
  if (fake->talks) {
    SendRequest(kFileCount, "");
    if (ReceiveResponse(kWholeFrame) < 0) return MSG_COMM_FILE_COUNT;
  }
  return fake->result;
}

// A scripted handset: answers the hello and the PIN, answers any count query
// with "0", and records every request code until the last goodbye (a hello
// refused brings one goodbye more: the core greets once again after it).
struct Handset {
  std::string helloReply = "OK";
  std::string pinReply = "OK";
  std::vector<unsigned> codes;
  int waitMs = 4000;  // for each request

  void Serve(PeerPort& peer) {
    ReceivedRequest r;
    int goodbyes = helloReply == "OK" ? 1 : 2;
    while (ReadRequest(peer, &r, waitMs)) {
      codes.push_back(r.code);
      if (r.code == kGoodbye.code && --goodbyes == 0) return;
      if (r.code == kHello.code) peer.Write(ResponseFrame(0, 1, 1, helloReply));
      if (r.code == kPin.code) peer.Write(ResponseFrame(1, 2, 1, pinReply));
      if (r.code == kFileCount.code) peer.Write(ResponseFrame(2, r.group, 1, "0"));
    }
  }
};

class OperationTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    CreateDriverKey(kTestDriverKey);
    RegisterDriver(L"01", kTestDriverKey, peer.PortName());
    g_installationKey = 0x600DCAFEu;
    std::wcscpy(g_driverKeyPath, kTestDriverKey);
    g_currentPin = 1234;
    WriteStoredPin();
    g_currentPin = kNoPin;
    g_driverKeyPath[0] = 0;
  }

  Message Run(Handset& handset, FakeTransfer& fake, bool busy) {
    PeerScript script([&] { handset.Serve(peer); });
    return RunOperation(RunFake, &fake, busy);
  }

  std::vector<StatusCall>& statuses = g_testFrontend.statuses;
};

void ExpectStatuses(const std::vector<StatusCall>& got, const std::vector<StatusCall>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].text, want[i].text) << i;
    EXPECT_EQ(got[i].mode, want[i].mode) << i;
  }
}

TEST_F(OperationTest, SuccessRunsEveryStepInOrder) {
  Handset handset;
  FakeTransfer fake;
  fake.talks = true;
  EXPECT_EQ(Run(handset, fake, true), nullptr);
  EXPECT_EQ(fake.calls, 1);
  EXPECT_TRUE(fake.portOpen);
  EXPECT_EQ(handset.codes, (std::vector<unsigned>{0, 1, 2, 255}));
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  // The busy box, then a report without a message that closes it.
  ExpectStatuses(statuses, {{MSG_BUSY, 1}, {L"", 0}});

  statuses.clear();
  fake.talks = false;
  Handset quiet;
  EXPECT_EQ(Run(quiet, fake, false), nullptr);
  ExpectStatuses(statuses, {{L"", 0}});
}

TEST_F(OperationTest, GoodbyeFollowsAFailedLogIn) {
  FakeTransfer fake;
  Handset notStandby;
  notStandby.helloReply = "NG";
  EXPECT_STREQ(Run(notStandby, fake, false), MSG_NOT_STANDBY);
  EXPECT_EQ(notStandby.codes, (std::vector<unsigned>{0, 255, 0, 255}));
  ExpectStatuses(statuses, {{MSG_NOT_STANDBY, 0}});

  statuses.clear();
  Handset wrongPin;
  wrongPin.pinReply = "NG";
  EXPECT_STREQ(Run(wrongPin, fake, true), MSG_WRONG_PIN);
  EXPECT_EQ(wrongPin.codes, (std::vector<unsigned>{0, 1, 255}));
  ExpectStatuses(statuses, {{MSG_BUSY, 1}, {MSG_WRONG_PIN, 0}});
  EXPECT_EQ(fake.calls, 0);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);

  // The refused PIN is gone: the next operation asks for it.
  statuses.clear();
  Handset handset;
  EXPECT_EQ(Run(handset, fake, false), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
}

TEST_F(OperationTest, GoodbyeFollowsAFailedTransfer) {
  Handset handset;
  FakeTransfer fake;
  fake.result = MSG_UPLOAD_FAILED;
  EXPECT_STREQ(Run(handset, fake, true), MSG_UPLOAD_FAILED);
  EXPECT_EQ(handset.codes, (std::vector<unsigned>{0, 1, 255}));
  ExpectStatuses(statuses, {{MSG_BUSY, 1}, {MSG_UPLOAD_FAILED, 0}});
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
}

TEST_F(OperationTest, NothingIsSentWhenThePortDoesNotOpen) {
  FakeTransfer fake;
  ClearDrivers();
  EXPECT_STREQ(RunOperation(RunFake, &fake, true), MSG_HANDSET_NOT_FOUND);
  ExpectStatuses(statuses, {{MSG_HANDSET_NOT_FOUND, 0}});

  // Cancelled PIN entry: an empty text, and the report shows nothing.
  statuses.clear();
  std::wcscpy(g_driverKeyPath, kTestDriverKey);
  DeleteStoredPin();
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  g_testFrontend.cancelPin = true;
  const Message cancelled = RunOperation(RunFake, &fake, true);
  ASSERT_NE(cancelled, nullptr);
  EXPECT_STREQ(cancelled, L"");
  ExpectStatuses(statuses, {{L"", 0}});

  EXPECT_EQ(fake.calls, 0);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(PeerHearsNothing(peer));
}

#ifndef _WIN32  // a second port: under Wine the tests have one pair of COM ports
TEST_F(OperationTest, AnEntryThatOpensButDoesNotAnswerDoesNotHideTheHandset) {
  // An entry written by hand, listed first, names a port where nothing answers.
  const WCHAR kStale[] = L"Drivers\\USB\\LoadClients\\1154_515_Default\\1\\RS232_USB";
  PeerPort silent;
  ASSERT_TRUE(silent.ok());
  CreateDriverKey(kStale);
  ClearDrivers();
  RegisterDriver(L"00", kStale, silent.PortName());
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  g_testFrontend.pinToEnter = 1234;
  Handset handset;
  handset.waitMs = 20000;  // the silent port's two hellos come first
  FakeTransfer fake;
  EXPECT_EQ(Run(handset, fake, false), nullptr);
  EXPECT_EQ(fake.calls, 1);
  EXPECT_EQ(handset.codes, (std::vector<unsigned>{0, 1, 255}));
  // The PIN was asked once, before any port opened, and kept under the first
  // entry's key; the silent port heard the hellos and goodbyes, never the PIN.
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  DWORD word;
  EXPECT_TRUE(ReadRawPin(kStale, &word));
  std::vector<unsigned> heard;
  ReceivedRequest r;
  while (ReadRequest(silent, &r, 300)) heard.push_back(r.code);
  EXPECT_EQ(heard, (std::vector<unsigned>{0, 255, 0, 255}));

  // Nothing answers anywhere: not in standby, no transfer, the port closed.
  ClearDrivers();
  RegisterDriver(L"00", kStale, silent.PortName());
  EXPECT_STREQ(RunOperation(RunFake, &fake, false), MSG_NOT_STANDBY);
  EXPECT_EQ(fake.calls, 1);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
}
#endif

TEST_F(OperationTest, GetListingClearsTheOldListingFirst) {
#ifndef _WIN32
  UseRowView();
  FillRows(g_listView, {{L"old.jpg"}});
#endif
  g_connected = true;
  ClearDrivers();
  EXPECT_STREQ(GetListingCommand(), MSG_HANDSET_NOT_FOUND);
  EXPECT_FALSE(g_connected);
  ExpectStatuses(statuses, {{MSG_HANDSET_NOT_FOUND, 0}});
#ifndef _WIN32
  EXPECT_EQ(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0), 0);

  // An empty handset: the three fixed rows, connected, nothing shown.
  statuses.clear();
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  Handset handset;
  {
    PeerScript script([&] { handset.Serve(peer); });
    EXPECT_EQ(GetListingCommand(), nullptr);
  }
  EXPECT_EQ(handset.codes, (std::vector<unsigned>{0, 1, 2, 255}));
  EXPECT_TRUE(g_connected);
  EXPECT_EQ(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0), 3);
  ExpectStatuses(statuses, {{L"", 0}});
  DropRowView();
#endif
}

}  // namespace
