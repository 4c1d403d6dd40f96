// Finding the handset driver, the PIN step and opening the port.
#include <cwchar>
#include <string>

#include "link/login.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "tests/link/link_fixture.h"

namespace {

const WCHAR kNoSuchPort[] = L"palvo-no-such-port:";
const WCHAR kOtherDriverName[] = L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\USB_MODEM";
const WCHAR kOtherProduct[] = L"Drivers\\USB\\LoadClients\\1154_516_Default\\0\\RS232_USB";
const WCHAR kSecondInstance[] = L"Drivers\\USB\\LoadClients\\1154_515_Default\\1\\RS232_USB";

class PortTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    CreateDriverKey(kTestDriverKey);
    g_installationKey = 0x0BADF00Du;
  }

  // A stored PIN under the test driver key, written the way WriteStoredPin does.
  void StorePin(DWORD pin) {
    std::wcscpy(g_driverKeyPath, kTestDriverKey);
    g_currentPin = pin;
    WriteStoredPinWithSalt(0x5A);
    g_driverKeyPath[0] = 0;
    g_currentPin = kNoPin;
  }

  // The port the core opened is the peer's: a request arrives there.
  void ExpectPortReachesPeer() {
    ASSERT_NE(g_port, INVALID_HANDLE_VALUE);
    SendGoodbye();
    std::uint8_t header[12];
    EXPECT_TRUE(peer.ReadExact(header, sizeof(header), 3000));
  }
};

TEST_F(PortTest, SkipsOtherDriversAndOpensTheHandsetPort) {
  StorePin(1234);
  RegisterDriver(L"01", kOtherDriverName, kNoSuchPort);
  RegisterDriver(L"02", kOtherProduct, kNoSuchPort);
  RegisterDriver(L"03", L"Drivers\\BuiltIn\\Serial", kNoSuchPort);
  RegisterDriver(L"04", kTestDriverKey, peer.PortName());

  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_STREQ(g_driverKeyPath, kTestDriverKey);
  EXPECT_STREQ(g_portName, peer.PortName());
  EXPECT_EQ(g_currentPin, 1234u);
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  ExpectPortReachesPeer();

  COMMTIMEOUTS t = {};
  ASSERT_TRUE(GetCommTimeouts(g_port, &t));
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

  // Closed, the port opens again for the next command.
  ClosePort();
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  ClosePort();
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  ExpectPortReachesPeer();
}

TEST_F(PortTest, DriverPathInOtherLetterCaseMatches) {
  const WCHAR path[] = L"DRIVERS\\usb\\LoadClients\\1154_515_default\\0\\rs232_Usb";
  RegisterDriver(L"01", path, peer.PortName());
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_STREQ(g_driverKeyPath, path);
  ExpectPortReachesPeer();
}

TEST_F(PortTest, FirstOfTwoMatchingInstancesWins) {
  StorePin(1234);
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  RegisterDriver(L"02", kSecondInstance, kNoSuchPort);
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_STREQ(g_driverKeyPath, kTestDriverKey);
  ExpectPortReachesPeer();
  ClosePort();

  // A first one that cannot be opened does not hide the next; the PIN stays
  // under the key it was asked for.
  ClearDrivers();
  RegisterDriver(L"01", kSecondInstance, kNoSuchPort);
  RegisterDriver(L"02", kTestDriverKey, peer.PortName());
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_STREQ(g_driverKeyPath, kSecondInstance);
  EXPECT_STREQ(g_portName, peer.PortName());
  ExpectPortReachesPeer();
  ClosePort();

  // None opens: the first one's problem is reported.
  ClearDrivers();
  RegisterDriver(L"01", kSecondInstance, kNoSuchPort);
  EXPECT_STREQ(OpenHandsetPort(), MSG_OPEN_FAILED);
  EXPECT_STREQ(g_driverKeyPath, kSecondInstance);
  EXPECT_STREQ(g_portName, kNoSuchPort);
  EXPECT_STREQ(g_problemPath, kNoSuchPort);
}

TEST_F(PortTest, NoHandsetDriverMeansNoPinPrompt) {
  StorePin(1234);
  g_currentPin = 777;
  EXPECT_STREQ(OpenHandsetPort(), MSG_HANDSET_NOT_FOUND);  // nothing registered at all

  RegisterDriver(L"01", kOtherDriverName, peer.PortName());
  RegisterDriver(L"02", kOtherProduct, peer.PortName());
  RegisterDriver(L"03", L"Drivers\\USB\\LoadClients\\1154_515_", peer.PortName());
  RegisterDriver(L"04", L"", peer.PortName());
  EXPECT_STREQ(OpenHandsetPort(), MSG_HANDSET_NOT_FOUND);

  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_driverKeyPath[0], 0);
  EXPECT_EQ(g_currentPin, 777u);
  EXPECT_TRUE(PeerHearsNothing(peer));
}

TEST_F(PortTest, OverlongRegistryValuesAreSkipped) {
  const std::wstring prefix = L"Drivers\\USB\\LoadClients\\1154_515_";
  const std::wstring suffix = L"\\RS232_USB";
  std::wstring longKey = prefix;
  while (longKey.size() < 300) longKey += L"Long\\";
  longKey += suffix;
  const std::wstring longName(300, L'N');
  RegisterDriver(L"01", longKey.c_str(), peer.PortName());
  RegisterDriver(L"02", kSecondInstance, longName.c_str());
  RegisterDriver(L"03", kTestDriverKey, peer.PortName());
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_STREQ(g_driverKeyPath, kTestDriverKey);
  ExpectPortReachesPeer();
  ClosePort();

  // The longest path that fits, 259 units and its terminator, is read whole.
  std::wstring fullKey = prefix;
  while (fullKey.size() < 259 - suffix.size()) fullKey += L"k";
  fullKey += suffix;
  ASSERT_EQ(fullKey.size(), 259u);
  ClearDrivers();
  RegisterDriver(L"01", fullKey.c_str(), peer.PortName());
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(std::wstring(g_driverKeyPath), fullKey);
}

TEST_F(PortTest, UsableStoredPinIsNeitherAskedNorRewritten) {
  // Stored as REG_BINARY: any write would turn it into a REG_DWORD.
  g_currentPin = 0;
  const DWORD word = ScramblePin(4321u | 0x5A000000u);
  WriteRawValue(kTestDriverKey, REG_BINARY, &word, sizeof(word));
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());

  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(g_currentPin, 4321u);
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  DWORD after = 0, type = REG_NONE;
  ASSERT_TRUE(ReadRawPin(kTestDriverKey, &after, &type));
  EXPECT_EQ(after, word);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
}

TEST_F(PortTest, UnusableStoredPinLeadsToThePrompt) {
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  g_testFrontend.pinToEnter = 2468;
  StorePin(10000);
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_EQ(g_currentPin, 2468u);
  ClosePort();

  // The typed PIN was stored: the next connection does not ask.
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_EQ(g_currentPin, 2468u);
  ClosePort();

  // A word stored by another installation of the program.
  StorePin(1357);
  g_installationKey = InstallationKeyFor(L"C:\\Other Place\\palvo.exe");
  g_testFrontend.pinToEnter = 1357;
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 2);
  EXPECT_EQ(g_currentPin, 1357u);
}

TEST_F(PortTest, CancelledPromptStopsSilentlyAndStoresNothing) {
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  g_testFrontend.cancelPin = true;
  const Message message = OpenHandsetPort();
  ASSERT_NE(message, nullptr);
  EXPECT_STREQ(message, L"");
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_currentPin, kNoPin);
  DWORD word;
  EXPECT_FALSE(ReadRawPin(kTestDriverKey, &word));
}

// Found in the registry: the PIN comes first and is stored even when the
// port then fails to open. A port given by hand is tried before any question.
TEST_F(PortTest, OpenFailureComesAfterThePinWasStored) {
  RegisterDriver(L"01", kTestDriverKey, kNoSuchPort);
  g_testFrontend.pinToEnter = 8642;
  EXPECT_STREQ(OpenHandsetPort(), MSG_OPEN_FAILED);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 8642u);
}

TEST_F(PortTest, AGivenPortThatCannotOpenFailsBeforeThePinIsAsked) {
  std::wcscpy(g_givenPort, kNoSuchPort);
  g_testFrontend.pinToEnter = 8642;
  EXPECT_STREQ(OpenHandsetPort(), MSG_OPEN_FAILED);
  g_givenPort[0] = 0;
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
}

TEST_F(PortTest, InputLeftFromAnEarlierConnectionIsDiscarded) {
  StorePin(1234);
  RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  peer.Write(ResponseFrame(9, 9, 9, "stale"));
  PauseMs(200);
  ASSERT_EQ(OpenHandsetPort(), nullptr);
  PeerScript script([&] { peer.Write(ResponseFrame(0, 1, 1, "fresh")); });
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 17);
  EXPECT_STREQ(ResponsePayload(), "fresh");
}

}  // namespace
