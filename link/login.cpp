#include "link/login.h"

#include <cstdio>
#include <cstring>

#include "link/frame.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/port.h"
#include "link/steps.h"

// The handset answers both log-in requests with exactly "OK". The terminator
// takes part in the comparison, so "OK\r\n" does not pass. A receive that
// failed may have left the bytes of an earlier reply behind, so it never
// passes either.
static bool ReceivedOk() {
  const int total = ReceiveResponse(kWholeFrame);
  return total >= 0 && std::memcmp(ResponsePayload(), "OK", 3) == 0;
}

Message Greet() {
  SendRequest(kHello, "1");
  if (ReceivedOk()) return nullptr;
  // Still busy with an earlier transfer that broke off (a killed program,
  // another reader of the port): goodbye ends that one, and the hello is
  // asked once more before the handset counts as not in standby.
  SendGoodbye();
  PurgeComm(g_port, PURGE_RXCLEAR);
  SendRequest(kHello, "1");
  return ReceivedOk() ? nullptr : MSG_NOT_STANDBY;
}

Message LogIn() {
  if (const Message problem = Greet()) return problem;
  return SendPin();
}

Message SendPin() {
  // Four digits whatever was typed: 7 goes out as "0007", 123456 as "3456".
  char digits[12];
  std::snprintf(digits, sizeof(digits), "%04d", static_cast<int>(g_currentPin % 10000u));
  SendRequest(kPin, digits);
  if (ReceivedOk()) {
    ReportStep(Step::kLoggedIn);
    return nullptr;
  }

  // Forget the refused PIN everywhere so that the next connection asks again.
  // A PIN that did not come from the store (or go into it) leaves it alone.
  g_currentPin = kNoPin;
  if (g_pinSource == PinSource::kStored) DeleteStoredPin();
  return MSG_WRONG_PIN;
}

void SendGoodbye() { SendRequest(kGoodbye, ""); }
