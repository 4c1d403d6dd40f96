// The session: hello, PIN and goodbye, each request to its handler, and the
// serving loop.
#include "handset/impl.h"

namespace handset {

void Handset::Impl::EndSession(const char* why) {
  if (state != kStandby) {
    Trace(std::string("back to standby: ") + why);
    Trace("connection carried " + std::to_string(bytesIn) + " bytes in, " +
          std::to_string(bytesOut) + " bytes out");
  }
  bytesIn = bytesOut = 0;
  state = kStandby;
  pending.clear();
  awaitingAck = false;
  snapshots.clear();
  for (bool& b : bulkStarted) b = false;
  for (bool& b : bulkPrepared) b = false;
}

void Handset::Impl::Dispatch(LoggedRequest& r, int nth) {
  const bool ack = r.Is(16, kGroupAck, 16);
  if (awaitingAck) {
    if (ack) {
      if (r.payload != "0") Violation("next-item acknowledgement with payload " + Show(r.payload));
      SendNextItem();
      return;
    }
    // A program that refuses a bent item, or that the user stopped, rightly
    // ends with goodbye instead.
    if (!r.Is(255, kGroupConnection, 2))
      Violation("expected the next-item acknowledgement of item " + std::to_string(nextItem - 1) +
                ", got " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
                std::to_string(r.operation));
    else
      Trace(
          std::string("goodbye instead of the acknowledgement of ") +
          (transferBent || lastFrameBent ? "a bent item" : "item " + std::to_string(nextItem - 1)));
    pending.clear();
    awaitingAck = false;
  } else if (ack) {
    Violation("next-item acknowledgement outside a transfer");
    return;
  }

  if (r.Is(0, kGroupConnection, 1)) {  // hello: always a fresh connection
    EndSession("hello");
    bytesIn = 12 + r.payload.size();  // the hello itself opens the count
    uploadCounts.clear();
    if (r.payload != "1") Violation("hello with payload " + Show(r.payload));
    std::string answer = r.payload == "1" ? "OK" : "NG";
    {
      std::lock_guard<std::mutex> lock(mu);
      for (const ReplyOverride& o : replies)
        if (o.key == Key(0, 1, 1)) answer = o.payload;
    }
    Reply(r, r.payload == "1" ? "OK" : "NG", nth);
    state = answer == "OK" ? kAwaitPin : kStandby;
    return;
  }
  if (r.Is(255, kGroupConnection, 2)) {
    if (!r.payload.empty()) Violation("goodbye with a payload");
    EndSession("goodbye");
    return;
  }
  if (state == kStandby) {
    Violation("request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
              std::to_string(r.operation) + " outside a session");
    return;
  }
  if (r.Is(1, kGroupPin, 1)) {
    std::string pinNow;
    {
      std::lock_guard<std::mutex> lock(mu);
      pinNow = pin;
    }
    if (r.payload.size() != 4 || !AllDigits(r.payload))
      Violation("PIN payload is not four digits (" + std::to_string(r.payload.size()) + " bytes)");
    std::string answer = r.payload == pinNow ? "OK" : "NG";
    {
      std::lock_guard<std::mutex> lock(mu);
      for (const ReplyOverride& o : replies)
        if (o.key == Key(1, 2, 1)) answer = o.payload;
    }
    Reply(r, r.payload == pinNow ? "OK" : "NG", nth);
    state = answer == "OK" ? kSession : kStandby;
    return;
  }
  if (state != kSession) {
    Violation("request before the PIN was accepted");
    return;
  }
  if (r.code == 2 && r.operation == 1 && IsTransferGroup(r.group)) return Count(r, nth);
  if (r.code == 3 && IsTransferGroup(r.group) && r.operation == TransferOperation(r.group))
    return Transfer(r, nth);
  if (r.Is(3, kGroupFiles, 2)) return FileDownload(r, nth);
  if (r.code == 3 && r.operation == 3 && IsTransferGroup(r.group)) return UploadItem(r, nth);
  if (r.code == 3 && (r.group == kGroupBookmarks || r.group == kGroupAddress) && r.operation >= 4 &&
      r.operation <= 6)
    return Bulk(r, nth);
  Violation("unknown request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
            std::to_string(r.operation));
}

void Handset::Serve(Io& io) {
  Impl& m = *impl_;
  m.io = &io;
  m.rx.clear();
  m.discard = 0;
  m.vanished = false;
  m.EndSession("serving");
  {
    std::lock_guard<std::mutex> lock(m.mu);
    m.rng.seed(m.seed);
  }
  m.throttleStart = m.receiveStart = Clock::now();
  m.throttled = m.received = 0;
  while (!stop_ && !m.vanished) {
    LoggedRequest r;
    bool headerOk = true;
    Impl::ReadOutcome got = m.ReadRequest(stop_, &r, &headerOk);
    if (got == Impl::kGone || got == Impl::kStopped) break;
    if (got == Impl::kIdle) {
      m.EndSession("silence");
      continue;
    }
    int nth;
    {
      std::lock_guard<std::mutex> lock(m.mu);
      if (r.Is(0, kGroupConnection, 1)) ++m.connection;
      r.connection = m.connection;
      if (m.keepLog) m.log.push_back(r);
      nth = ++m.occurrences[Key(r.code, r.group, r.operation)];
    }
    m.changed.notify_all();
    // The PIN stays out of the log: only its length shows.
    const bool secret = r.Is(1, kGroupPin, 1);
    m.Trace(
        "request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
        std::to_string(r.operation) + " " +
        (secret ? "(PIN, " + std::to_string(r.payload.size()) + " bytes)" : Show(r.payload, 60)));
    if (!headerOk) m.Violation("request header with non-zero bytes 8 or 10");
    m.Dispatch(r, nth);
    m.DropSpill();  // a streamed upload that was not stored
    {
      std::lock_guard<std::mutex> lock(m.mu);
      m.handled = m.log.size();
    }
    m.changed.notify_all();
  }
  m.EndSession("port closed");
  m.io = nullptr;
}

}  // namespace handset
