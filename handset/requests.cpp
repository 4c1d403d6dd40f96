// Reading requests: the marker found, the header checked, the payload
// gathered (or, for a large file upload, streamed to disk by spill.cpp).
#include <algorithm>
#include <thread>

#include "handset/impl.h"

namespace handset {

namespace {

const std::string kGoodbyeRequest("\xE1\x01\x00\xFF\x04\x00\x00\x00\x00\x01\x00\x02", 12);
const std::string kHelloRequest("\xE1\x01\x00\x00\x05\x00\x00\x00\x00\x01\x00\x01\x31", 13);
// A program that stops in the middle of an upload says goodbye at once and
// then nothing more (or its next run says hello): this much quiet after a
// goodbye at the end of a request cut short ends that request.
constexpr int kAbandonQuietMs = 50;

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Where a goodbye (maybe with a hello after it) stands at the end of s, at
// from or later; npos when it does not.
std::size_t TrailingGoodbye(const std::string& s, std::size_t from) {
  std::size_t at = std::string::npos;
  if (EndsWith(s, kGoodbyeRequest)) {
    at = s.size() - kGoodbyeRequest.size();
  } else if (EndsWith(s, kGoodbyeRequest + kHelloRequest)) {
    at = s.size() - kGoodbyeRequest.size() - kHelloRequest.size();
  }
  return at != std::string::npos && at >= from ? at : std::string::npos;
}

}  // namespace

void Handset::Impl::PaceReceive(std::size_t n) {
  long rate;
  {
    std::lock_guard<std::mutex> lock(mu);
    rate = throttle;
  }
  if (rate <= 0 || n == 0) return;
  // As for writing: no credit for a pause, a late read made up.
  const Clock::time_point now = Clock::now();
  if (now - (receiveStart + std::chrono::milliseconds(received * 1000 / rate)) >
      std::chrono::milliseconds(1000 / 50)) {
    receiveStart = now;
    received = 0;
  }
  received += static_cast<long long>(n);
  std::this_thread::sleep_until(receiveStart + std::chrono::milliseconds(received * 1000 / rate));
}

Handset::Impl::ReadOutcome Handset::Impl::ReadRequest(const std::atomic<bool>& stop,
                                                      LoggedRequest* r, bool* headerOk) {
  Clock::time_point lastByte = Clock::now();
  char buf[4096];
  spillTail.clear();
  for (;;) {
    if (stop) {
      DropSpill();
      return kStopped;
    }
    if (spill.file) {
      if (spill.left == 0) {
        spill.failed = std::fclose(spill.file) != 0 || spill.failed;
        spill.file = nullptr;
        spill.ready = true;
        spill.declined = false;
        r->code = spill.code;
        r->group = spill.group;
        r->operation = spill.operation;
        *headerOk = spill.headerOk;
        r->payload = spill.head;
        return kGot;
      }
      // No further than this request: the next one may follow at once.
      const std::size_t cut = TrailingGoodbye(spillTail, 0);
      const long n = io->Read(buf, std::min(sizeof buf, spill.left),
                              cut != std::string::npos ? kAbandonQuietMs : 100);
      if (n < 0) {
        DropSpill();
        return kGone;
      }
      if (n == 0 && cut != std::string::npos) {
        Trace("goodbye in the middle of a file upload: what came is dropped");
        rx = spillTail.substr(cut);
        DropSpill();
        continue;
      }
      if (n > 0) {
        const std::size_t k = static_cast<std::size_t>(n);
        PaceReceive(k);
        bytesIn += k;
        spill.failed = spill.failed || std::fwrite(buf, 1, k, spill.file) != k;
        spill.left -= k;
        lastByte = Clock::now();
        spillTail.append(buf, k);
        const std::size_t keep = kGoodbyeRequest.size() + kHelloRequest.size();
        if (spillTail.size() > keep) spillTail.erase(0, spillTail.size() - keep);
      } else if (ElapsedMs(lastByte) > StallMs()) {
        Violation("request cut short: " + std::to_string(spill.size - spill.left) +
                  " bytes of a file upload, then silence");
        DropSpill();
      }
      continue;
    }
    if (discard > 0) {
      std::size_t n = std::min(discard, rx.size());
      rx.erase(0, n);
      discard -= n;
    }
    std::size_t cut = std::string::npos;  // where a goodbye ends a request cut short
    if (discard == 0) {
      // Find the request marker; whatever stands before it is not ours.
      std::size_t i = 0;
      while (i + 1 < rx.size() && !(static_cast<unsigned char>(rx[i]) == kMarker &&
                                    static_cast<unsigned char>(rx[i + 1]) == kRequestDir))
        ++i;
      if (i + 1 >= rx.size() && !rx.empty() && static_cast<unsigned char>(rx.back()) != kMarker)
        i = rx.size();  // no marker, and no half of one at the end
      if (i > 0) {
        Violation(std::to_string(i) + " stray bytes before a request: " + Show(rx.substr(0, i)));
        rx.erase(0, i);
      }
      if (rx.size() >= 12) {
        const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
        std::uint32_t length = h[4] | (h[5] << 8) | (h[6] << 16) | (std::uint32_t(h[7]) << 24);
        if (length < 4) {
          Violation("request with length field " + std::to_string(length));
          rx.erase(0, 12);
          continue;
        }
        std::size_t payload = length - 4;
        if (payload > kMaxRequestPayload) {
          Violation("request payload of " + std::to_string(payload) + " bytes refused");
          discard = 12 + payload;
          continue;
        }
        std::filesystem::path dir;
        const bool mayStream = rx.size() < 12 + payload && MayStream(payload, &dir);
        if (mayStream && StartSpill(payload, dir)) continue;
        if (rx.size() >= 12 + payload) {
          spill.declined = false;
          r->code = (h[2] << 8) | h[3];
          r->group = h[9];
          r->operation = h[11];
          *headerOk = h[8] == 0 && h[10] == 0;
          if (rx.size() == 12 + payload && payload > sizeof buf) {
            // A large upload: hand its bytes over rather than copy them.
            rx.erase(0, 12);
            r->payload = std::move(rx);
            rx.clear();
          } else {
            r->payload = rx.substr(12, payload);
            rx.erase(0, 12 + payload);
          }
          return kGot;
        }
        // Room for the whole request at once, not doubling on the way.
        // (Not for one that may still stream: it never needs the room.)
        if (!mayStream && rx.capacity() < 12 + payload) rx.reserve(12 + payload);
        cut = TrailingGoodbye(rx, 12);
      }
    }
    long n = io->Read(buf, sizeof buf, cut != std::string::npos ? kAbandonQuietMs : 100);
    if (n < 0) return kGone;
    if (n == 0 && cut != std::string::npos) {
      Trace("goodbye in the middle of a request: what came of it is dropped");
      rx.erase(0, cut);
      continue;
    }
    if (n > 0) {
      PaceReceive(static_cast<std::size_t>(n));
      bytesIn += static_cast<unsigned long long>(n);
      rx.append(buf, static_cast<std::size_t>(n));
      lastByte = Clock::now();
      continue;
    }
    int quiet = ElapsedMs(lastByte);
    int stall, idle;
    {
      std::lock_guard<std::mutex> lock(mu);
      stall = stallMs;
      idle = idleResetMs;
    }
    if ((!rx.empty() || discard > 0) && quiet > stall) {
      Violation("request cut short: " + std::to_string(rx.size()) + " bytes, then silence");
      rx.clear();
      discard = 0;
      spill.declined = false;
    }
    if (rx.empty() && state != kStandby && quiet > idle) return kIdle;
  }
}

}  // namespace handset
