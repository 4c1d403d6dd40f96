// palvo-handset: the simulated handset on a pseudo-terminal. It publishes the
// pty in the registry the way the handheld's device manager publishes the USB
// serial driver, so palvo finds it exactly as it would find a handset.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "handset/handset.h"
#include "handset/replay.h"
#include "handset/script.h"
#include "palvo_version.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

const WCHAR kDriverKey[] = L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB";
const WCHAR kActive[] = L"Drivers\\Active";

std::atomic<bool> g_stop{false};
handset::Handset* g_handset = nullptr;

void OnSignal(int) {
  g_stop = true;
  if (g_handset) g_handset->Stop();
}

void MakeRaw(int fd) {
  struct termios t;
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~HUPCL;
  ::tcsetattr(fd, TCSANOW, &t);
}

// The port as the handset sees it: the pty master (or a tty given with --device).
class FdIo : public handset::Io {
 public:
  FdIo(int fd, int keep) : fd_(fd), keep_(keep) {}
  ~FdIo() override { Close(); }

  long Read(void* data, std::size_t max, int timeoutMs) override {
    if (fd_ < 0) return -1;
    // While an upload streams in, bytes are usually waiting already: one read
    // call instead of a poll and a read per piece.
    const ssize_t ready = ::read(fd_, data, max);
    if (ready > 0) return ready;
    struct pollfd p = {fd_, POLLIN, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r <= 0) return 0;  // timeout or a signal
    if (!(p.revents & POLLIN)) return (p.revents & POLLNVAL) ? -1 : 0;
    ssize_t n = ::read(fd_, data, max);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) {
      // EIO: no one has the slave open right now; wait and read again.
      if (errno == EIO) ::usleep(10000);
      return 0;
    }
    return n == 0 ? 0 : -1;
  }

  bool Write(const void* data, std::size_t n) override {
    const char* p = static_cast<const char*>(data);
    auto lastProgress = std::chrono::steady_clock::now();
    while (n > 0) {
      const long w = WriteSome(p, n, 100);
      if (w < 0) return false;
      if (w > 0) {
        p += w;
        n -= static_cast<std::size_t>(w);
        lastProgress = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(15)) {
        // Nobody is reading: give up after a while so a stuck program
        // cannot hang the handset.
        return false;
      }
    }
    return true;
  }

  long WriteSome(const void* data, std::size_t n, int timeoutMs) override {
    if (fd_ < 0 || g_stop) return -1;
    ssize_t w = ::write(fd_, data, n);
    if (w > 0) return w;
    if (w < 0 && errno != EAGAIN && errno != EINTR) return -1;
    struct pollfd q = {fd_, POLLOUT, 0};
    if (::poll(&q, 1, timeoutMs) <= 0) return 0;
    w = ::write(fd_, data, n);
    if (w > 0) return w;
    return w < 0 && errno != EAGAIN && errno != EINTR ? -1 : 0;
  }

  void Close() override {
    if (keep_ >= 0) ::close(keep_);
    if (fd_ >= 0) ::close(fd_);
    keep_ = fd_ = -1;
  }

 private:
  int fd_;
  int keep_;
};

bool OpenPty(int* master, int* keep, std::string* path) {
  int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0 || ::grantpt(m) != 0 || ::unlockpt(m) != 0) return false;
  const char* name = ::ptsname(m);
  if (!name) return false;
  *path = name;
  MakeRaw(m);
  // Our own hold on the slave keeps the pty alive while palvo closes it.
  int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (s < 0) return false;
  MakeRaw(s);
  ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
  *master = m;
  *keep = s;
  return true;
}

std::wstring Widen(const std::string& s) {
  std::wstring w(s.size() + 1, L'\0');
  std::size_t n = std::mbstowcs(w.data(), s.c_str(), w.size());
  if (n == static_cast<std::size_t>(-1)) return std::wstring(s.begin(), s.end());
  w.resize(n);
  return w;
}

// HKLM\Drivers\Active\NN for the first free NN; empty on failure.
std::wstring RegisterInstance(const std::string& portName) {
  // The driver's own key, as the device manager keeps it: the program stores
  // the handset's PIN there. It stays when we stop, like the stored PIN.
  HKEY driver;
  DWORD created = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &driver, &created) == ERROR_SUCCESS)
    RegCloseKey(driver);
  for (int i = 1; i < 100; ++i) {
    WCHAR sub[8];
    std::swprintf(sub, 8, L"%02d", i);
    std::wstring path = std::wstring(kActive) + L"\\" + sub;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      continue;
    }
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, &disposition) != ERROR_SUCCESS)
      return L"";
    std::wstring name = Widen(portName);
    LSTATUS a = RegSetValueExW(key, L"Key", 0, REG_SZ, reinterpret_cast<const BYTE*>(kDriverKey),
                               sizeof kDriverKey);
    LSTATUS b = RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                               static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    if (a != ERROR_SUCCESS || b != ERROR_SUCCESS) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
      return L"";
    }
    return path;
  }
  return L"";
}

fs::path DefaultContent(const char* argv0) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) exe = fs::absolute(argv0, ec);
#ifdef PALVO_INSTALLED_SAMPLE
  // Installed: the sample lies in the data folder beside the program's
  // (relative, so a staged or relocated tree finds its own).
  const fs::path installed = exe.parent_path() / PALVO_INSTALLED_SAMPLE;
  if (fs::is_directory(installed, ec)) return installed.lexically_normal();
#endif
  for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
    if (fs::is_directory(dir / "handset" / "sample", ec)) return dir / "handset" / "sample";
    if (dir == dir.parent_path()) break;
  }
#ifdef PALVO_SOURCE_DIR
  return fs::path(PALVO_SOURCE_DIR) / "handset" / "sample";
#else
  // A build tree outside the sources: the sample beside this very file.
  fs::path here = fs::path(__FILE__).parent_path() / "sample";
  return fs::is_directory(here, ec) ? here : fs::path();
#endif
}

const char kUsage[] =
    "usage: palvo-handset [options]\n"
    "A simulated handset on a pseudo-terminal. Prints the terminal's path as the\n"
    "first line of standard output once it is ready, registers itself under\n"
    "HKLM\\Drivers\\Active\\NN as the handset's USB serial driver, serves until\n"
    "SIGINT or SIGTERM and removes the registry entry when it stops. The entry is\n"
    "tied to this process: killed, it is no longer seen and the next write drops it.\n"
    "\n"
    "  --pin NNNN            the PIN it accepts (default 1234)\n"
    "  --content DIR         content folder; accepted uploads are written into it\n"
    "                        (default: the shipped sample, uploads kept in memory)\n"
    "                        DIR/files/<image|music|net|card|other>/<name>,\n"
    "                        DIR/bookmarks.txt, DIR/address.vcf,\n"
    "                        DIR/lightmail/*.txt, DIR/mail/*.txt\n"
    "  --registry FILE       registry file (default: $PALVO_REGISTRY or palvo's own)\n"
    "  --device PATH         serve an existing terminal instead (no registry entry)\n"
    "  --no-register         make the pty but leave the registry alone\n"
    "  --log FILE            append one line per request, response and deviation\n"
    "  --verbose             the same lines on standard error\n"
    "  --throttle BYTES      a line of BYTES per second each way: write at most\n"
    "                        that much, and take what comes no faster\n"
    "  --idle-reset MS       silence that ends a session (default 30000)\n"
    "  --seed N              seed of the random piece sizes\n"
    "  --set LINE            one control line (see below); repeatable\n"
    "  --script FILE         control lines from a file\n"
    "  --fault NAME          a named fault preset (see below); repeatable\n"
    "  --replay FILE         serve a trace written by palvo --trace instead: expect\n"
    "                        its requests in order, answer as recorded; the first\n"
    "                        request that differs is reported and the port goes\n"
    "                        silent (exit status 1)\n"
    "  --replay-speed N      play the recorded delays N times faster (default 1)\n"
    "  --help                this text\n"
    "  --version             the program's version\n"
    "\n";

// The options, as palvo takes its own: through CLI11, a bad value refused
// with one line. The help stays the text above (CLI11's own is switched off).
struct Options {
  std::string pin = "1234", contentDir, registry, device, logFile, script;
  bool noRegister = false, verbose = false, help = false, version = false;
  long throttle = 0;
  int idleReset = 30000;
  unsigned seed = 1;
  std::vector<std::string> sets, faults;
  std::string replay;
  double replaySpeed = 1;
};

std::string Rephrase(const CLI::ParseError& e) {
  std::string what = e.what();
  const std::size_t colon = what.find(':');
  const std::string option = colon == std::string::npos ? std::string() : what.substr(0, colon);
  if (what.find("required") != std::string::npos && what.find("missing") != std::string::npos)
    return option + " needs a value";
  if (what.find("Expected") != std::string::npos || what.find("requires") != std::string::npos)
    return option + " needs a value";
  // "--opt: takes ..." from the checks below reads as "--opt takes ...".
  if (colon != std::string::npos && what.compare(colon, 2, ": ") == 0) what.erase(colon, 1);
  if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  return what;
}

// A whole number (decimal, or 0x... for the seed) of at least min.
CLI::Validator WholeNumber(long long min, int base = 10) {
  return CLI::Validator(
      [min, base](const std::string& v) -> std::string {
        errno = 0;
        char* end = nullptr;
        const long long n = std::strtoll(v.c_str(), &end, base);
        if (!v.empty() && *end == '\0' && errno == 0 && n >= min && n <= INT32_MAX)
          return std::string();
        return "takes a whole number of " + std::to_string(min) + " or more, not '" + v + "'";
      },
      "N");
}

// Exit status of a usage error, or -1 to go on.
int ParseOptions(int argc, char** argv, Options* o) {
  CLI::App app("palvo-handset");
  app.set_help_flag();
  app.allow_extras();
  // As the hand-made parser did: a repeated option's last value counts.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", o->help);
  app.add_flag("--version", o->version);
  app.add_option("--pin", o->pin)
      ->check(
          [](const std::string& v) -> std::string {
            return v.size() == 4 && v.find_first_not_of("0123456789") == std::string::npos
                       ? std::string()
                       : std::string("takes four digits");
          },
          "NNNN");
  app.add_option("--content", o->contentDir);
  app.add_option("--registry", o->registry);
  app.add_option("--device", o->device);
  app.add_flag("--no-register", o->noRegister);
  app.add_option("--log", o->logFile);
  app.add_flag("--verbose", o->verbose);
  app.add_option("--throttle", o->throttle)->check(WholeNumber(0));
  app.add_option("--idle-reset", o->idleReset)->check(WholeNumber(1));
  app.add_option("--seed", o->seed)->check(WholeNumber(0, 0));
  app.add_option("--set", o->sets)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--script", o->script);
  app.add_option("--fault", o->faults)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--replay", o->replay);
  app.add_option("--replay-speed", o->replaySpeed)
      ->check(CLI::Validator(
          [](const std::string& v) -> std::string {
            char* end = nullptr;
            const double n = std::strtod(v.c_str(), &end);
            return !v.empty() && *end == '\0' && n > 0 && n < 1e9
                       ? std::string()
                       : "takes a number above 0, not '" + v + "'";
          },
          "N"));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "palvo-handset: %s (see --help)\n", Rephrase(e).c_str());
    return 2;
  }
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty() && !o->help && !o->version) {
    std::fprintf(stderr, "palvo-handset: unknown option %s (see --help)\n", extras.front().c_str());
    return 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = ParseOptions(argc, argv, &o); status >= 0) return status;
  if (o.help) {
    std::fputs(kUsage, stdout);
    std::fputs(handset::kControlHelp, stdout);
    return 0;
  }
  if (o.version) {
    std::fputs("palvo-handset " PALVO_VERSION "\n", stdout);
    return 0;
  }
  const std::string &pin = o.pin, &contentDir = o.contentDir, &registry = o.registry,
                    &device = o.device, &logFile = o.logFile, &script = o.script;
  bool noRegister = o.noRegister;
  const bool verbose = o.verbose;
  const long throttle = o.throttle;
  const int idleReset = o.idleReset;
  const unsigned seed = o.seed;
  const std::vector<std::string>&sets = o.sets, &faults = o.faults;
  if (!registry.empty()) ::setenv("PALVO_REGISTRY", registry.c_str(), 1);

  handset::Handset hs;
  g_handset = &hs;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  hs.SetPin(pin);
  hs.SetThrottle(throttle);
  hs.SetIdleResetMs(idleReset);
  hs.SetSeed(seed);
  // Nothing here reads the request log; kept, it would hold every upload.
  hs.KeepLog(false);
  std::string error;
  handset::ReplayTrace replay;
  if (!o.replay.empty()) {
    std::ifstream in(o.replay, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    if (!in) {
      std::fprintf(stderr, "palvo-handset: %s: cannot read\n", o.replay.c_str());
      return 1;
    }
    if (!handset::ParseTrace(ss.str(), &replay, &error)) {
      std::fprintf(stderr, "palvo-handset: %s: %s\n", o.replay.c_str(), error.c_str());
      return 1;
    }
  } else if (!contentDir.empty()) {
    if (!hs.LoadFolder(contentDir, &error)) {
      std::fprintf(stderr, "palvo-handset: %s\n", error.c_str());
      return 1;
    }
  } else {
    fs::path sample = DefaultContent(argv[0]);
    handset::Content c;
    if (sample.empty() || !handset::LoadContent(sample, &c, &error)) {
      std::fprintf(stderr, "palvo-handset: no sample content (%s); use --content DIR\n",
                   error.c_str());
      return 1;
    }
    hs.SetContent(c);
  }
  if (!script.empty()) {
    std::ifstream in(script, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    if (!in || !handset::ApplyControlScript(hs, ss.str(), &error)) {
      std::fprintf(stderr, "palvo-handset: %s: %s\n", script.c_str(),
                   in ? error.c_str() : "cannot read");
      return 2;
    }
  }
  for (const std::string& line : sets)
    if (!handset::ApplyControlLine(hs, line, &error)) {
      std::fprintf(stderr, "palvo-handset: --set: %s\n", error.c_str());
      return 2;
    }
  for (const std::string& name : faults)
    if (!handset::ApplyFaultPreset(hs, name, &error)) {
      std::fprintf(stderr, "palvo-handset: --fault: %s\n", error.c_str());
      return 2;
    }

  std::ofstream log;
  if (!logFile.empty()) log.open(logFile, std::ios::app | std::ios::binary);
  std::mutex logMu;
  hs.SetTrace([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(logMu);
    if (log.is_open()) log << line << "\n" << std::flush;
    if (verbose) std::fprintf(stderr, "%s\n", line.c_str());
  });

  int fd = -1, keep = -1;
  std::string portName;
  if (!device.empty()) {
    fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      std::fprintf(stderr, "palvo-handset: cannot open %s: %s\n", device.c_str(),
                   std::strerror(errno));
      return 1;
    }
    MakeRaw(fd);
    portName = device;
    noRegister = true;
  } else if (!OpenPty(&fd, &keep, &portName)) {
    std::fprintf(stderr, "palvo-handset: cannot make a pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  FdIo io(fd, keep);

  std::wstring registered;
  if (!noRegister) {
    registered = RegisterInstance(portName);
    if (registered.empty()) {
      std::fprintf(stderr, "palvo-handset: cannot write the registry entry\n");
      return 1;
    }
  }

  std::printf("%s\n", portName.c_str());
  std::fflush(stdout);

  int status = 0;
  if (!o.replay.empty()) {
    status = handset::RunReplay(io, replay, o.replaySpeed, g_stop, [&](const std::string& text) {
      if (log.is_open()) log << text << "\n" << std::flush;
      std::fprintf(stderr, "%s\n", text.c_str());
    });
  } else if (!g_stop) {
    hs.Serve(io);
  }
  io.Close();
  if (!registered.empty()) RegDeleteKeyW(HKEY_LOCAL_MACHINE, registered.c_str());
  g_handset = nullptr;
  for (const std::string& v : hs.Violations()) std::fprintf(stderr, "deviation: %s\n", v.c_str());
  return status;
}
