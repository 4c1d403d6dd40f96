// Writing responses: frames on the wire, throttled, and bent by the faults
// that match them.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "handset/impl.h"

namespace handset {

// Printable form of payload bytes for logs and messages.
std::string Show(const std::string& s, std::size_t max) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && i < max; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

std::string EncodeFrame(const Frame& f) {
  std::uint32_t length = f.announcedLength >= 0 ? static_cast<std::uint32_t>(f.announcedLength)
                                                : static_cast<std::uint32_t>(f.payload.size() + 4);
  std::string out;
  out.reserve(12 + f.payload.size());
  out.push_back(static_cast<char>(kMarker));
  out.push_back(static_cast<char>(f.direction));
  out.push_back(static_cast<char>((f.code >> 8) & 0xFF));
  out.push_back(static_cast<char>(f.code & 0xFF));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  out.push_back(0);
  out.push_back(static_cast<char>(f.group & 0xFF));
  out.push_back(0);
  out.push_back(static_cast<char>(f.operation & 0xFF));
  out += f.payload;
  return out;
}

namespace {

// The goodbye request as the program writes it.
const std::string kGoodbyeFrame("\xE1\x01\x00\xFF\x04\x00\x00\x00\x00\x01\x00\x02", 12);

}  // namespace

bool Handset::Impl::GoodbyeArrived() {
  char buf[4096];
  for (;;) {
    const long n = io->Read(buf, sizeof buf, 0);
    if (n <= 0) break;
    bytesIn += static_cast<unsigned long long>(n);
    rx.append(buf, static_cast<std::size_t>(n));
  }
  return rx.find(kGoodbyeFrame) != std::string::npos;
}

// Writes n bytes as the port takes them. A goodbye that comes in meanwhile
// ends the write: the program gave up on this response and is gone.
bool Handset::Impl::WriteOut(const char* data, std::size_t n) {
  Clock::time_point lastProgress = Clock::now();
  while (n > 0) {
    const long k = io->WriteSome(data, n, 100);
    if (k < 0) return false;
    if (k > 0) {
      data += k;
      n -= static_cast<std::size_t>(k);
      bytesOut += static_cast<unsigned long long>(k);
      lastProgress = Clock::now();
    }
    if (n == 0) break;
    if (GoodbyeArrived()) {
      Trace("goodbye while a response goes out: the rest is not sent");
      return false;
    }
    // Nobody reads and nobody says goodbye: give up after a while so a
    // stuck program cannot hang the handset.
    if (ElapsedMs(lastProgress) > 15000) return false;
  }
  return true;
}

bool Handset::Impl::WriteRaw(const char* data, std::size_t n) {
  long rate;
  {
    std::lock_guard<std::mutex> lock(mu);
    rate = throttle;
  }
  if (rate <= 0) return WriteOut(data, n);
  std::size_t chunk = static_cast<std::size_t>(std::max(1L, rate / 50));
  while (n > 0) {
    std::size_t k = std::min(chunk, n);
    // A line earns no credit while idle: after a pause longer than one slice
    // the budget starts afresh, so no burst goes out faster than the rate;
    // a slice that came late (the reader, the scheduler) is still made up.
    const Clock::time_point now = Clock::now();
    if (now - (throttleStart + std::chrono::milliseconds(throttled * 1000 / rate)) >
        std::chrono::milliseconds(1000 / 50)) {
      throttleStart = now;
      throttled = 0;
    }
    if (!WriteOut(data, k)) return false;
    data += k;
    n -= k;
    throttled += static_cast<long long>(k);
    if (n > 0 && GoodbyeArrived()) {
      Trace("goodbye while a response goes out: the rest is not sent");
      return false;
    }
    // Sleep until the bytes written so far are due at the given rate.
    std::this_thread::sleep_until(throttleStart +
                                  std::chrono::milliseconds(throttled * 1000 / rate));
  }
  return true;
}

// Writes one response frame, bent by the faults that match it. False when the
// frame did not go out whole (silence, vanish or a failed write). tail, when
// given, is more payload after frame.payload (a stored file after its echo).
bool Handset::Impl::Send(const Frame& frame, std::uint32_t key, int nth, int item,
                         const std::string* tail) {
  std::vector<Fault> apply;
  {
    std::lock_guard<std::mutex> lock(mu);
    for (ActiveFault& a : faults) {
      const Fault& f = a.fault;
      if (f.times > 0 && a.used >= f.times) continue;
      if ((f.code >= 0 && unsigned(f.code) != (key >> 16)) ||
          (f.group >= 0 && unsigned(f.group) != ((key >> 8) & 0xFF)) ||
          (f.operation >= 0 && unsigned(f.operation) != (key & 0xFF)))
        continue;
      if (f.nth > 0 && f.nth != nth) continue;
      if (f.item >= 0 && f.item != item) continue;
      ++a.used;
      apply.push_back(f);
    }
  }
  lastFrameBent = !apply.empty();
  const std::size_t tailSize = tail ? tail->size() : 0;
  if (apply.empty() && frame.payload.size() + tailSize > 65536) {
    // A large frame that nothing bends: the header, then the payload where it
    // lies, not copied once more into one block.
    Trace("response " + std::to_string(frame.code) + "/" + std::to_string(frame.group) + "/" +
          std::to_string(frame.operation) + " item " + std::to_string(item) + " " +
          Show(frame.payload, 60));
    Frame head{frame.code,
               frame.group,
               frame.operation,
               std::string(),
               frame.announcedLength >= 0
                   ? frame.announcedLength
                   : static_cast<long long>(frame.payload.size() + tailSize + 4),
               frame.direction};
    const std::string header = EncodeFrame(head);
    return WriteRaw(header.data(), header.size()) &&
           WriteRaw(frame.payload.data(), frame.payload.size()) &&
           (!tail || WriteRaw(tail->data(), tail->size()));
  }
  std::string bytes;
  if (tail) {  // a bent frame: faults cut and pad one block
    Frame whole = frame;
    whole.payload += *tail;
    bytes = EncodeFrame(whole);
  } else {
    bytes = EncodeFrame(frame);
  }
  std::size_t cut = bytes.size();
  bool vanish = false, silence = false;
  int maxPiece = 0, pause = 0;
  std::string before, after;
  for (const Fault& f : apply) {
    switch (f.action) {
      case Fault::kNoise:
        before += f.bytes;
        break;
      case Fault::kExtra:
        after += f.bytes;
        break;
      case Fault::kPieces:
        maxPiece = std::max(1, f.maxPiece);
        pause = f.ms;
        break;
      case Fault::kDelay:
        std::this_thread::sleep_for(std::chrono::milliseconds(f.ms));
        break;
      case Fault::kSilence:
        silence = true;
        cut = std::min(cut, f.at);
        break;
      case Fault::kVanish:
        vanish = true;
        cut = std::min(cut, f.at);
        break;
    }
  }
  Trace("response " + std::to_string(frame.code) + "/" + std::to_string(frame.group) + "/" +
        std::to_string(frame.operation) + " item " + std::to_string(item) + " " +
        Show(frame.payload, 60));
  if (!before.empty() && !WriteRaw(before.data(), before.size())) return false;
  std::string body;
  if (cut == bytes.size() && (after.empty() || silence || vanish)) {
    body = std::move(bytes);  // the usual case: no copy of a large frame
  } else {
    body = bytes.substr(0, cut) + ((silence || vanish) ? std::string() : after);
  }
  if (maxPiece > 0) {
    std::size_t pos = 0;
    while (pos < body.size()) {
      std::size_t k =
          std::min<std::size_t>(body.size() - pos, 1 + rng() % static_cast<unsigned>(maxPiece));
      if (!WriteRaw(body.data() + pos, k)) return false;
      pos += k;
      if (pause > 0 && pos < body.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
  } else if (!body.empty() && !WriteRaw(body.data(), body.size())) {
    return false;
  }
  if (vanish) {
    Trace("port vanishes");
    vanished = true;
    io->Close();
    return false;
  }
  if (silence) Trace("falls silent");
  return !silence;
}

void Handset::Impl::Reply(const LoggedRequest& r, std::string payload, int nth,
                          const std::string* tail) {
  std::uint32_t key = Key(r.code, r.group, r.operation);
  {
    std::lock_guard<std::mutex> lock(mu);
    for (std::size_t i = 0; i < replies.size(); ++i) {
      if (replies[i].key != key) continue;
      payload = replies[i].payload;
      tail = nullptr;
      if (replies[i].times > 0 && --replies[i].times == 0) replies.erase(replies.begin() + i);
      break;
    }
  }
  Send({r.code, r.group, r.operation, std::move(payload)}, key, nth, -1, tail);
}

}  // namespace handset
