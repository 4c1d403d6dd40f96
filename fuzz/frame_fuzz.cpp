// The frame receiver on whatever the handset sends: resynchronisation on the
// marker, both modes, corrupt lengths, frames longer than the buffer, and the
// raw reads that take a streamed payload. Every result is checked against a
// model of where the frames lie in the byte stream.
#include <cstring>

#include "fuzz/harness.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  if (size < 2) return 0;
  // Byte 0: one bit per call, the mode; byte 1: after which call a raw read
  // of the low bits' count takes place.
  const unsigned modes = data[0];
  const unsigned raw = data[1];
  data += 2;
  size -= 2;
  OpenPort(data, size);
  FrameModel model(data, size);
  for (int call = 0; call < 8; ++call) {
    const int mode = (modes >> call) & 1 ? kHeaderOnlyMode : kWholeFrame;
    const int total = ReceiveResponse(mode);
    const int expected = model.Receive(mode);
    FUZZ_CHECK(total == expected);
    if (total == -1) break;
    if (mode == kWholeFrame) {
      const int end = total < kMaxFrame ? total : kMaxFrame;
      FUZZ_CHECK(std::memcmp(g_packet, data + model.start, static_cast<std::size_t>(end)) == 0);
      FUZZ_CHECK(g_packet[end] == 0);
    } else {
      FUZZ_CHECK(std::memcmp(g_packet, data + model.start, kHeaderBytes) == 0);
    }
    if ((raw & 7) == static_cast<unsigned>(call)) {
      // A streamed piece: exactly n bytes, or a failure when they run out.
      const DWORD n = raw >> 3;
      const bool ok = ReadPortExact(g_packet + kHeaderBytes, n);
      const std::size_t at = model.pos;
      FUZZ_CHECK(ok == model.Skip(n));
      if (!ok) break;
      FUZZ_CHECK(std::memcmp(g_packet + kHeaderBytes, data + at, n) == 0);
    }
  }
  // Whatever is left comes off in pieces of at most the asked size.
  BYTE piece[64];
  for (;;) {
    const long got = ReadPortSome(piece, sizeof piece);
    if (got < 0) break;
    FUZZ_CHECK(got >= 1 && got <= static_cast<long>(sizeof piece));
  }
  ClosePort();
  return 0;
}
