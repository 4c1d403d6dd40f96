// Frames on the handset's serial port: the 12-byte header, the packet buffer
// and the table of every request the program sends.
#pragma once

#include "link/state.h"

constexpr int kHeaderBytes = 12;
constexpr int kMaxFrame = 4096;  // whole-frame receive keeps at most this much
constexpr int kMaxPiece = 4096;  // streamed content moves in pieces of this size
constexpr unsigned kHeaderOnly = 0x10000;
constexpr BYTE kMarker = 0xE1;
constexpr BYTE kDirRequest = 0x01;
constexpr BYTE kDirResponse = 0x02;
constexpr int kWholeFrame = 0;  // ReceiveResponse modes
constexpr int kHeaderOnlyMode = 1;

// How long a read loop waits for a silent handset before it gives up. The
// port times out after 1000 ms per read; this bounds the repeats.
constexpr DWORD kSilenceLimitMs = 10000;
extern DWORD g_silenceLimitMs;  // tests shorten it
// How long one receive may take in all. The silence limit restarts with every
// byte, so a line that keeps sending bytes that never form a frame would hold
// a receive for ever. A frame of 4096 bytes takes about 4.3 s at 9600 baud,
// after up to a silence limit's wait for its first byte.
constexpr DWORD kReceiveDeadlineMs = 20000;
extern DWORD g_receiveDeadlineMs;  // tests shorten it

// One request of the table: code and selector (group * 256 + operation).
struct Request {
  unsigned code;
  unsigned selector;
};
constexpr Request kHello = {0, 0x0101};
constexpr Request kPin = {1, 0x0201};
constexpr Request kFileCount = {2, 0x0601};
constexpr Request kFileList = {3, 0x0607};
constexpr Request kNextItem = {16, 0x0910};
constexpr Request kFileDownload = {3, 0x0602};
constexpr Request kBookmarkCount = {2, 0x0801};
constexpr Request kBookmarkTransfer = {3, 0x0802};
constexpr Request kAddressCount = {2, 0x0301};
constexpr Request kAddressTransfer = {3, 0x0302};
constexpr Request kLightMailCount = {2, 0x0401};
constexpr Request kLightMailTransfer = {3, 0x0402};
constexpr Request kMailCount = {2, 0x0501};
constexpr Request kMailTransfer = {3, 0x0502};
constexpr Request kFileUpload = {3, 0x0603};
constexpr Request kBookmarkStart = {3, 0x0804};
constexpr Request kBookmarkPrepare = {3, 0x0805};
constexpr Request kBookmarkRecord = {3, 0x0803};
constexpr Request kBookmarkEnd = {3, 0x0806};
constexpr Request kAddressStart = {3, 0x0304};
constexpr Request kAddressPrepare = {3, 0x0305};
constexpr Request kAddressRecord = {3, 0x0303};
constexpr Request kAddressEnd = {3, 0x0306};
constexpr Request kLightMailUpload = {3, 0x0403};
constexpr Request kMailUpload = {3, 0x0503};
constexpr Request kGoodbye = {255, 0x0102};

// Writes one request. Without kHeaderOnly in selector, payload is a
// zero-terminated byte string; with it, payload carries the payload length as a
// number and only the header is written. 0 when all was written, else -1.
int SendRequest(unsigned code, unsigned selector, const char* payload);
int SendRequest(Request request, const char* payload);
int SendHeader(Request request, DWORD payloadLength);  // the header-only form

// Reads one response into the packet buffer (mode kWholeFrame) or only its
// header (kHeaderOnlyMode). Returns length + 8, or -1.
int ReceiveResponse(int mode);

// Header fields of the frame in the packet buffer.
inline unsigned ResponseCode() { return g_packet[3]; }
inline unsigned ResponseGroup() { return g_packet[9]; }
inline unsigned ResponseOperation() { return g_packet[11]; }
inline bool ResponseIs(Request r) {
  return ResponseCode() == (r.code & 0xFF) && ResponseGroup() == ((r.selector >> 8) & 0xFF) &&
         ResponseOperation() == (r.selector & 0xFF);
}
inline const char* ResponsePayload() { return reinterpret_cast<const char*>(g_packet + 12); }

// Raw port access for streamed payloads, bounded by the silence limit.
// ReadPortExact: true once n bytes are in dst (at most a frame's worth: the
// receive deadline bounds it too). ReadPortSome: 1..max bytes, or -1 when the
// read fails or the handset stays silent. WritePortAll: true once
// all n bytes were accepted.
bool ReadPortExact(BYTE* dst, DWORD n);
long ReadPortSome(BYTE* dst, DWORD max);
bool WritePortAll(const void* src, DWORD n);
