// The operation runner, and the commands that are one transfer through it:
// the listing, and the PIN check that stores the PIN.
#include "commands/commands.h"
#include "download/listing.h"
#include "link/frontend.h"
#include "link/login.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/port.h"
#include "link/steps.h"

Message RunOperation(Transfer transfer, void* context, bool busy) {
  // Asked to stop before it began (between a command's two connections): no
  // new connection.
  if (g_stopRequest) {
    ShowStatus(MSG_INTERRUPTED, kResultMode);
    return MSG_INTERRUPTED;
  }
  g_problemPath[0] = 0;
  Message message = OpenHandsetPort();
  if (message && g_stopRequest) message = MSG_INTERRUPTED;  // the PIN entry ended by it
  if (message) {
    // An empty text (PIN entry cancelled) shows nothing.
    ShowStatus(message, kResultMode);
    return message;
  }
  if (busy) ShowStatus(MSG_BUSY, kKeepOpenMode);
  message = Greet();
  // A searched port that does not answer may be an entry long gone, listed
  // before the handset's: it hears goodbye, and the later entries are tried
  // with the same PIN.
  while (message && !g_stopRequest && LaterHandsetEntry()) {
    SendGoodbye();
    if (!OpenNextHandsetPort()) break;
    message = Greet();
  }
  if (!message) message = SendPin();
  if (!message) message = transfer(context);
  // A transfer that was asked to stop ends with whatever its step met first
  // (a read given up, an upload cut short): the user hears why.
  if (message && g_stopRequest) message = MSG_INTERRUPTED;
  // Once the port is open the handset always hears goodbye, whatever failed.
  ReportStep(Step::kGoodbye);
  SendGoodbye();
  ClosePort();
  ShowStatus(message, kResultMode);
  return message;
}

static Message FetchListingTransfer(void*) { return FetchListing(); }

Message GetListingCommand() {
  g_connected = false;
  if (g_listView) SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  return RunOperation(FetchListingTransfer, nullptr, false);
}

// Runs after LogIn succeeded: the handset has just accepted the PIN.
static Message StorePinTransfer(void*) {
  WriteStoredPin();
  return nullptr;
}

Message StorePinCommand() {
  const PinSource before = g_pinSource;
  g_pinSource = PinSource::kAskAndStore;
  const Message message = RunOperation(StorePinTransfer, nullptr, false);
  g_pinSource = before;
  return message;
}
