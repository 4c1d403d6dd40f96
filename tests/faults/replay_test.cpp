// Each fault palvo-handset can put on, recorded with palvo --trace and served
// back by palvo-handset --replay: palvo ends the same way, with the same
// words, and the replay sees every request as recorded. Native only.
#ifndef _WIN32
#include "tests/cli/cli_fixture.h"

namespace {

using cli_test::PalvoTest;
using cli_test::ReadAll;
using cli_test::Result;

class FaultReplay : public PalvoTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FaultReplay, EndsAsRecorded) {
  const fs::path trace = root / "fault.trace";
  StartHandset({"--fault", GetParam()});
  const Result recorded = Palvo({"get", "--to", "out", "chime.mid", "--trace", trace.string()});
  StopHandset();
  fs::remove_all(root / "work" / "out");
  // The PIN asked for again when the recorded session forgot it.
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, cli_test::kDriverKey, 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueW(key, L"PalvoPass");
    RegCloseKey(key);
  }

  StartHandset({"--replay", trace.string()});
  const Result replayed = Palvo({"get", "--to", "out", "chime.mid"});
  ::kill(handset, SIGTERM);
  const int status = cli_test::WaitChild(handset);
  handset = -1;
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << ReadAll(root / "handset.err");
  EXPECT_EQ(replayed.status, recorded.status);
  EXPECT_EQ(replayed.out, recorded.out);
  const bool vanished = ReadAll(trace).find("! read failed") != std::string::npos;
  EXPECT_EQ(cli_test::ComparableOutput(replayed.err, vanished),
            cli_test::ComparableOutput(recorded.err, vanished));
}

// The presets that end within a read time-out; a silent handset replays as
// silence too, but costs the silence limit twice.
INSTANTIATE_TEST_SUITE_P(Presets, FaultReplay,
                         ::testing::Values("noise", "extra", "bytewise", "pieces", "slow",
                                           "refuse-hello", "refuse-pin", "vanish-listing",
                                           "vanish-download"),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace

#endif  // _WIN32
