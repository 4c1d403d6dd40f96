#include "handset/replay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace handset {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// N of "pin:N" or "private:N:HASH"; 0 when the token is neither.
std::size_t RedactedLength(std::string_view token, bool* pin) {
  *pin = token.rfind("pin:", 0) == 0;
  const std::string_view prefix = *pin ? "pin:" : "private:";
  if (token.rfind(prefix, 0) != 0) return 0;
  std::size_t n = 0, i = prefix.size();
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    n = n * 10 + static_cast<std::size_t>(token[i] - '0');
    if (n > (1u << 30)) return 0;
  }
  if (i == prefix.size()) return 0;
  if (*pin ? i != token.size() : (i == token.size() || token[i] != ':')) return 0;
  return n;
}

// Bytes the trace withheld, made up again: plain letters, so that a text
// field stays a text field.
void Generate(std::string* out, std::size_t n) {
  static const char kFill[] = "private bytes ";
  for (std::size_t i = 0; i < n; ++i) out->push_back(kFill[out->size() % (sizeof kFill - 1)]);
}

// The tokens of one chunk line into bytes (and for a request, how each must
// match). False when a token is not one.
bool Decode(std::string_view rest, bool request, ReplayTrace* t, std::string* bytes) {
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    const std::string_view token = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    if (token.empty()) continue;
    bool pin = false;
    if (const std::size_t n = RedactedLength(token, &pin); n > 0) {
      if (request) {
        t->expected.append(n, pin ? '0' : '?');
        t->match.insert(t->match.end(), n, pin ? ReplayTrace::kAnyDigit : ReplayTrace::kAnyByte);
      } else {
        Generate(bytes, n);
      }
      continue;
    }
    if (token.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < token.size(); i += 2) {
      const int hi = HexDigit(token[i]), lo = HexDigit(token[i + 1]);
      if (hi < 0 || lo < 0) return false;
      const char b = static_cast<char>(hi * 16 + lo);
      if (request) {
        t->expected.push_back(b);
        t->match.push_back(ReplayTrace::kExact);
      } else {
        bytes->push_back(b);
      }
    }
  }
  return true;
}

// Request frames in what palvo sent, by their length fields.
void FindRequests(ReplayTrace* t) {
  std::size_t at = 0;
  const std::string& e = t->expected;
  while (at < e.size()) {
    t->requestStarts.push_back(at);
    if (e.size() - at < 12) break;
    const std::uint32_t length =
        static_cast<std::uint8_t>(e[at + 4]) |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(e[at + 5])) << 8 |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(e[at + 6])) << 16 |
        static_cast<std::uint32_t>(static_cast<std::uint8_t>(e[at + 7])) << 24;
    at += 8 + std::max<std::uint32_t>(length, 4);
  }
}

std::string Hex(std::string_view bytes, std::size_t from, std::size_t to, std::size_t mark) {
  std::string s;
  char b[8];
  if (from > 0) s += "... ";
  for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, i == mark ? "[%02x] " : "%02x ",
                  static_cast<std::uint8_t>(bytes[i]));
    s += b;
  }
  if (to < bytes.size()) s += "...";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool Matches(const ReplayTrace& t, std::size_t at, char b) {
  switch (t.match[at]) {
    case ReplayTrace::kAnyDigit:
      return b >= '0' && b <= '9';
    case ReplayTrace::kAnyByte:
      return true;
    default:
      return t.expected[at] == b;
  }
}

}  // namespace

bool ParseTrace(std::string_view text, ReplayTrace* t, std::string* error) {
  *t = ReplayTrace();
  std::size_t lineNumber = 0;
  unsigned long lastMs = 0;
  bool headed = false;
  std::string bytes;
  // A last line without its line end was cut by a kill: what came before
  // is the trace.
  if (const std::size_t end = text.rfind('\n'); end != std::string_view::npos)
    text = text.substr(0, end + 1);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (!headed) {
      if (line.rfind("palvo-trace 1", 0) != 0) {
        *error = where + "not a palvo trace (no \"palvo-trace 1\" line first)";
        return false;
      }
      headed = true;
      continue;
    }
    std::size_t i = 0;
    unsigned long ms = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && i < 10; ++i)
      ms = ms * 10 + static_cast<unsigned long>(line[i] - '0');
    if (i == 0 || i + 1 >= line.size() || line[i] != ' ') {
      *error = where + "no time in ms at its start";
      return false;
    }
    const unsigned delay = ms >= lastMs ? static_cast<unsigned>(ms - lastMs) : 0;
    lastMs = ms;
    const char kind = line[i + 1];
    const std::string_view rest =
        line.size() > i + 3 && line[i + 2] == ' ' ? line.substr(i + 3) : std::string_view();
    if (kind == '>') {
      if (!Decode(rest, true, t, nullptr)) {
        *error = where + "bytes that are not hex nor a redaction";
        return false;
      }
    } else if (kind == '<') {
      bytes.clear();
      if (!Decode(rest, false, t, &bytes)) {
        *error = where + "bytes that are not hex nor a redaction";
        return false;
      }
      t->answers.push_back({t->expected.size(), delay, false, bytes});
    } else if (kind == '!') {
      t->answers.push_back({t->expected.size(), delay, true, std::string()});
    } else if (line.compare(i + 1, 4, "open") != 0 && line.compare(i + 1, 5, "close") != 0) {
      *error = where + "neither >, <, !, open nor close after the time";
      return false;
    }
  }
  if (!headed) {
    *error = "empty: not a palvo trace";
    return false;
  }
  FindRequests(t);
  return true;
}

std::size_t RequestNumber(const ReplayTrace& t, std::size_t offset) {
  const auto it = std::upper_bound(t.requestStarts.begin(), t.requestStarts.end(), offset);
  return static_cast<std::size_t>(it - t.requestStarts.begin());
}

std::string DivergenceReport(const ReplayTrace& t, std::size_t number, std::string_view received,
                             std::size_t diff) {
  std::string expected;
  if (number >= 1 && number <= t.requestStarts.size()) {
    const std::size_t start = t.requestStarts[number - 1];
    const std::size_t end =
        number < t.requestStarts.size() ? t.requestStarts[number] : t.expected.size();
    expected = t.expected.substr(start, end - start);
    // Redacted bytes show as what they stand for.
    for (std::size_t i = 0; i < expected.size(); ++i)
      if (t.match[start + i] != ReplayTrace::kExact) expected[i] = '?';
  }
  const std::size_t from = diff > 24 ? diff - 24 : 0, to = diff + 24;
  std::string s = "replay: request " + std::to_string(number) + " differs from the trace at byte " +
                  std::to_string(diff) + "\n";
  s += "  expected: " +
       (number > t.requestStarts.size() ? std::string("(nothing: the trace ends here)")
                                        : Hex(expected, from, to, diff)) +
       "\n";
  s += "  received: " + Hex(received, from, to, diff);
  return s;
}

ReplayEnd ServeReplay(Io& io, const ReplayTrace& t, double speed, const std::atomic<bool>& stop,
                      const std::function<void(const std::string&)>& report) {
  std::size_t pos = 0, next = 0;
  std::string request;  // what came of the request at pos so far
  char buf[4096];
  // The answers due once pos bytes came; false when the link goes (as
  // recorded, or because the peer went).
  bool hungUp = false;
  auto answer = [&]() {
    while (next < t.answers.size() && t.answers[next].after == pos) {
      const ReplayTrace::Answer& a = t.answers[next++];
      const auto delay = std::chrono::microseconds(
          static_cast<long long>(a.delayMs * 1000.0 / (speed > 0 ? speed : 1.0)));
      if (delay.count() > 0) std::this_thread::sleep_for(delay);
      if (a.hangUp) {
        io.Close();
        hungUp = true;
        return false;
      }
      if (!a.bytes.empty() && !io.Write(a.bytes.data(), a.bytes.size())) return false;
    }
    return true;
  };
  auto ending = [&]() {
    return hungUp                                                 ? ReplayEnd::kHungUp
           : pos == t.expected.size() && next == t.answers.size() ? ReplayEnd::kComplete
                                                                  : ReplayEnd::kStopped;
  };
  if (!answer()) return ending();
  for (;;) {
    if (stop) return ending();
    long got = io.Read(buf, sizeof buf, 100);
    if (got < 0) return ending();
    for (long i = 0; i < got; ++i) {
      const std::size_t number =
          pos < t.expected.size() ? RequestNumber(t, pos) : t.requestStarts.size() + 1;
      const std::size_t start =
          pos < t.expected.size() ? t.requestStarts[number - 1] : t.expected.size();
      if (pos == start) request.clear();
      request.push_back(buf[i]);
      if (pos < t.expected.size() && Matches(t, pos, buf[i])) {
        ++pos;
        if (next < t.answers.size() && t.answers[next].after == pos) {
          // Bytes after an answer's point wait until it has gone out.
          const std::size_t left = static_cast<std::size_t>(got - i - 1);
          std::string rest(buf + i + 1, left);
          if (!answer()) return ending();
          std::copy(rest.begin(), rest.end(), buf);
          got = static_cast<long>(left);
          i = -1;
        }
        continue;
      }
      // The first byte that differs: the rest of this request, as far as it
      // comes soon, for the report; then nothing more is said.
      const std::size_t diff = pos - start;
      request.append(buf + i + 1, static_cast<std::size_t>(got - i - 1));
      for (int quiet = 0; quiet < 3 && request.size() < diff + 32;) {
        const long more = io.Read(buf, sizeof buf, 100);
        if (more < 0) break;
        if (more == 0) ++quiet;
        request.append(buf, static_cast<std::size_t>(more > 0 ? more : 0));
      }
      report(DivergenceReport(t, number, request, diff));
      while (!stop && io.Read(buf, sizeof buf, 100) >= 0) {
      }
      return ReplayEnd::kDiverged;
    }
  }
}

int RunReplay(Io& io, const ReplayTrace& trace, double speed, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& report) {
  const std::size_t total = trace.requestStarts.size();
  switch (ServeReplay(io, trace, speed, stop, report)) {
    case ReplayEnd::kComplete:
      report("replay: all " + std::to_string(total) + " requests as recorded");
      return 0;
    case ReplayEnd::kHungUp:
      report("replay: the link vanished where it did in the trace");
      return 0;
    case ReplayEnd::kDiverged:
      return 1;
    case ReplayEnd::kStopped:
      break;
  }
  report("replay: stopped before the end of the trace (" + std::to_string(total) +
         " requests recorded)");
  return 1;
}

}  // namespace handset
