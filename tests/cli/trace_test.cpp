// Port traces: palvo --trace written as documented and redacted, and every
// recorded session of tests/traces replayed by palvo-handset --replay with
// palvo's output compared byte for byte. Native only (the programs are).
#ifndef _WIN32
#include <regex>

#include "handset/replay.h"
#include "tests/cli/cli_fixture.h"

namespace cli_test {
namespace {

const fs::path kTraces = kSource / "tests" / "traces";

std::string Fnv(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// What a run left in its folder: one line per file, path, size and hash.
std::string FilesIn(const fs::path& folder) {
  std::vector<std::string> lines;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    const std::string bytes = ReadAll(e.path());
    lines.push_back(fs::relative(e.path(), folder).string() + "\t" + std::to_string(bytes.size()) +
                    "\t" + Fnv(bytes) + "\n");
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& l : lines) all += l;
  return all;
}

// The hex of a trace's lines of one direction, redactions left out.
std::string HexOf(const std::string& trace, char direction) {
  std::string hex;
  for (const std::string& line : Lines(trace)) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos || line.size() < blank + 3 || line[blank + 1] != direction)
      continue;
    std::istringstream tokens(line.substr(blank + 3));
    for (std::string t; tokens >> t;)
      if (t.find(':') == std::string::npos) hex += t;
  }
  return hex;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  return hex;
}

// A recorded session: the handset's options when recorded, palvo's
// arguments ({in}: the session's input folder) and the inputs it needs
// from a backup of the handset.
struct Session {
  const char* name;
  std::vector<std::string> handset;
  std::vector<std::string> palvo;
  std::vector<std::string> inputs;
};

const Session kSessions[] = {
    {"list", {}, {"list"}, {}},
    {"get-all", {}, {"get", "--all", "--to", "out"}, {}},
    {"put-file", {}, {"put", "{in}/memo.txt", "--as", "memo2.txt"}, {"memo.txt"}},
    {"put-bookmark", {}, {"put", "--yes", "{in}/bookmark.txt"}, {"bookmark.txt"}},
    {"put-address", {}, {"put", "--yes", "{in}/address.txt"}, {"address.txt"}},
    // A handset without mail, so that both go up (a restore skips mails the
    // handset holds).
    {"put-mail",
     {"--set", "truncate 4 0", "--set", "truncate 5 0"},
     {"put", "{in}/mail000.txt", "{in}/mail001.txt"},
     {"mail000.txt", "mail001.txt"}},
    {"refused-pin", {"--pin", "9876"}, {"list"}, {}},
    {"not-in-standby", {"--fault", "refuse-hello"}, {"list"}, {}},
    {"vanishing-link", {"--fault", "vanish-download"}, {"get", "--to", "out", "chime.mid"}, {}},
};

class TraceTest : public PalvoTest {
 protected:
  int StopReplay() {
    if (handset <= 0) return -1;
    ::kill(handset, SIGTERM);
    const int status = WaitChild(handset);
    handset = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> Args(const fs::path& folder) {
    std::vector<std::string> args;
    for (std::string line : Lines(ReadAll(folder / "command"))) {
      if (const std::size_t at = line.find("{in}"); at != std::string::npos)
        line.replace(at, 4, (folder / "in").string());
      args.push_back(line);
    }
    return args;
  }
};

// Records the sessions anew from palvo-handset: run by hand only
// (tests/traces/README).
TEST_F(TraceTest, DISABLED_RecordSessions) {
  StartHandset();
  Result backup = Palvo({"get", "--all", "--to", (root / "backup").string()});
  ASSERT_EQ(backup.status, 0) << backup.err;
  StopHandset();
  for (const Session& s : kSessions) {
    const fs::path folder = kTraces / s.name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const std::string& input : s.inputs)
      fs::copy_file(root / "backup" / input, folder / "in" / input,
                    (fs::create_directories(folder / "in"), fs::copy_options::none));
    std::string command;
    for (const std::string& a : s.palvo) command += a + "\n";
    WriteAll(folder / "command", command);
    fs::remove_all(root / "work");
    fs::create_directories(root / "work");
    // Each session from scratch: no PIN kept from the one before.
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, L"PalvoPass");
      RegCloseKey(key);
    }
    StartHandset(s.handset);
    std::vector<std::string> args = Args(folder);
    args.push_back("--trace");
    args.push_back((folder / "trace").string());
    Result r = Palvo(args);
    StopHandset();
    WriteAll(folder / "status", std::to_string(r.status) + "\n");
    WriteAll(folder / "stdout", r.out);
    WriteAll(folder / "stderr", r.err);
    WriteAll(folder / "files", FilesIn(root / "work"));
  }
}

class RecordedSession : public TraceTest, public ::testing::WithParamInterface<std::string> {};

// The manifest's bytes differ from run to run (it records when each file was
// saved).
std::string WithoutManifest(const std::string& files) {
  static const std::regex manifest("[^\n]*/palvo-backup\\.tsv\t[^\n]*\n");
  return std::regex_replace(files, manifest, "");
}

TEST_P(RecordedSession, ReplaysToTheSameOutput) {
  const fs::path folder = kTraces / GetParam();
  StartHandset({"--replay", (folder / "trace").string(), "--replay-speed", "20"});
  Result r = Palvo(Args(folder));
  const int replay = StopReplay();
  const std::string said = ReadAll(root / "handset.err");
  EXPECT_EQ(replay, 0) << said;
  EXPECT_EQ(std::to_string(r.status) + "\n", ReadAll(folder / "status")) << r.err;
  EXPECT_EQ(r.out, ReadAll(folder / "stdout"));
  const bool vanished = ReadAll(folder / "trace").find("! read failed") != std::string::npos;
  EXPECT_EQ(ComparableOutput(r.err, vanished),
            ComparableOutput(ReadAll(folder / "stderr"), vanished));
  EXPECT_EQ(WithoutManifest(FilesIn(root / "work")), WithoutManifest(ReadAll(folder / "files")));
}

std::vector<std::string> RecordedSessions() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kTraces, ec))
    if (e.is_directory() && fs::exists(e.path() / "trace")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Traces, RecordedSession, ::testing::ValuesIn(RecordedSessions()),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST_F(TraceTest, ThePinIsNeverInTheTrace) {
  // Digits that no other byte of the session spells in hex.
  StartHandset({"--pin", "7395"});
  const fs::path trace = root / "pin.trace";
  Result r = Palvo({"get", "--all", "--to", "out", "--trace", trace.string()}, "7395\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = ReadAll(trace);
  EXPECT_EQ(HexOf(text, '>').find(Hex("7395")), std::string::npos);
  EXPECT_EQ(text.find("7395"), std::string::npos);
  EXPECT_NE(text.find(" pin:4"), std::string::npos);
  EXPECT_NE(Lines(text).front().find("; redaction pin"), std::string::npos);
  EXPECT_EQ(fs::status(trace).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(TraceTest, APrivateTraceHoldsNoMailBody) {
  StartHandset();
  const fs::path trace = root / "private.trace";
  Result r = Palvo({"get", "--all", "--to", "out", "--trace", trace.string(), "--trace-private"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string hex = HexOf(ReadAll(trace), '<');
  // Names, sizes and dates of the listing stay.
  EXPECT_NE(hex.find(Hex("chime.mid\tmusic\t62\t")), std::string::npos);
  int checked = 0;
  for (const char* mail : {"mail000.txt", "mail001.txt", "mail002.txt"}) {
    const std::string text = ReadAll(root / "work" / "out" / mail);
    const std::string body = text.substr(text.find("\r\n") + 2);
    ASSERT_GE(body.size(), 8u) << mail;
    for (std::size_t at = 0; at + 6 <= body.size(); ++at, ++checked)
      ASSERT_EQ(hex.find(Hex(body.substr(at, 6))), std::string::npos) << mail << " at " << at;
  }
  EXPECT_GT(checked, 100);
  // And the file contents: none of the photo's bytes.
  EXPECT_EQ(hex.find(Hex(photo.substr(1000, 16))), std::string::npos);
}

TEST_F(TraceTest, APrivateTraceReplaysWithMadeUpBytesOfTheSameLength) {
  StartHandset();
  const fs::path trace = root / "private.trace";
  Result r =
      Palvo({"get", "--to", "out", kPhotoUtf8, "--trace", trace.string(), "--trace-private"});
  ASSERT_EQ(r.status, 0) << r.err;
  StopHandset();
  fs::remove_all(root / "work" / "out");
  StartHandset({"--replay", trace.string(), "--replay-speed", "20"});
  Result replayed = Palvo({"get", "--to", "out", kPhotoUtf8});
  EXPECT_EQ(StopReplay(), 0) << ReadAll(root / "handset.err");
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  const std::string made = ReadAll(root / "work" / "out");
  EXPECT_EQ(made.size(), photo.size());
  EXPECT_NE(made, photo);
}

TEST_F(TraceTest, APrivateTraceOfAnUploadHoldsNoBody) {
  StartHandset();
  const fs::path trace = root / "upload.trace", mail = kTraces / "put-mail" / "in" / "mail001.txt";
  Result r = Palvo({"put", mail.string(), "--trace", trace.string(), "--trace-private"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string hex = HexOf(ReadAll(trace), '>');
  const std::string text = ReadAll(mail);
  const std::string body = text.substr(text.find("\r\n") + 2);
  for (std::size_t at = 0; at + 6 <= body.size(); ++at)
    ASSERT_EQ(hex.find(Hex(body.substr(at, 6))), std::string::npos) << "at " << at;
}

TEST_F(TraceTest, AReplayReportsTheRequestThatDiffers) {
  // The list session asks for the file count as its third request; a
  // bookmark upload starts its set there instead, and hears nothing more.
  const fs::path folder = kTraces / "list";
  StartHandset({"--replay", (folder / "trace").string(), "--replay-speed", "20"});
  Result r = Palvo({"put", "--yes", (kTraces / "put-bookmark" / "in" / "bookmark.txt").string()});
  EXPECT_EQ(StopReplay(), 1);
  EXPECT_EQ(r.status, 1);
  const std::string said = ReadAll(root / "handset.err");
  EXPECT_NE(said.find("replay: request 3 differs from the trace at byte 3\n"
                      "  expected: e1 01 00 [02] 04 00 00 00 00 06 00 01\n"
                      "  received: e1 01 00 [03] "),
            std::string::npos)
      << said;
}

TEST_F(TraceTest, AKilledPalvoLeavesAReadableTrace) {
  StartHandset({"--throttle", "20000"});
  const fs::path trace = root / "killed.trace";
  const pid_t pid = StartPalvo({"get", "--to", "out", kPhotoUtf8, "--trace", trace.string()});
  // Killed while the photo streams in: some of it traced already.
  ASSERT_TRUE(WaitUntil([&] { return HexOf(ReadAll(trace), '<').size() > 2 * 4000; }));
  ::kill(pid, SIGKILL);
  WaitPalvo(pid);
  const std::string text = ReadAll(trace);
  handset::ReplayTrace t;
  std::string error;
  EXPECT_TRUE(handset::ParseTrace(text, &t, &error)) << error;
  EXPECT_GE(t.requestStarts.size(), 5u);
}

TEST_F(TraceTest, ATraceNeverGoesOverAFile) {
  WriteAll(root / "work" / "kept", "the person's own");
  StartHandset();
  Result r = Palvo({"list", "--trace", "kept"}, "1234\n", {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot make the trace kept: it exists"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(root / "work" / "kept"), "the person's own");
  Result alone = Palvo({"list", "--trace-private"});
  EXPECT_EQ(alone.status, 2);
}

TEST_F(TraceTest, VerboseSaysWhereTheTraceIs) {
  StartHandset();
  Result r = Palvo({"list", "-v", "--trace", "t"}, "1234\n", {"LC_ALL=C.UTF-8"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "trace: " + (root / "work" / "t").string());
  EXPECT_EQ(lines.back().rfind("attach it to a problem report", 0), 0u) << lines.back();
}

}  // namespace
}  // namespace cli_test

#endif  // _WIN32
