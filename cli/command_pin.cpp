// palvo pin: the handset's PIN entered, tried and kept; or forgotten.
#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"
#include "link/pin_store.h"
#include "link/port.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--forget", a->forget, "forget the kept PIN instead");
}

std::wstring Check(const Arguments& a) {
  if (!a.operands.empty()) return InLanguage(L"pin takes no operands", L"pin は引数をとりません");
  return {};
}

int Run(const Arguments& a) {
  if (a.forget) {
    const int forgotten = ForgetStoredPins();
    if (!g_quiet)
      Complain(forgotten ? InLanguage(L"the kept PIN is forgotten", L"保存した暗証番号を消しました")
                         : InLanguage(L"no PIN was kept", L"保存した暗証番号はありません"));
    return kExitOk;
  }
  if (StorePinCommand()) return kExitFailed;
  if (g_driverKeyPath[0] == 0) {
    return Failure(
        InLanguage(L"the handset accepted the PIN, but it cannot be kept for the port ",
                   L"電話機は暗証番号を受け付けましたが、このポートでは保存できません: ") +
        a.port +
        InLanguage(L": no handset driver in the registry publishes it (give the PIN with "
                   L"--pin-file or PALVO_PIN_FILE instead)",
                   L" (レジストリのどの電話機ドライバもこのポートを示していません。暗証番号は "
                   L"--pin-file か PALVO_PIN_FILE で渡してください)"));
  }
  if (!g_quiet) Complain(InLanguage(L"the PIN is kept", L"暗証番号を保存しました"));
  return kExitOk;
}

}  // namespace

extern const Command kPinCommand = {
    "pin",
    "palvo pin [--forget]",
    "enter the handset's PIN and keep it",
    "Asks for the handset's four-digit PIN (or takes it from --pin-file), logs in with it and, "
    "once the handset accepted it, keeps it scrambled in the registry, so that later commands "
    "ask no more. With --forget, forgets every kept PIN instead; the handset need not be "
    "there.",
    true,
    &AddOptions,
    &Check,
    &Run};
