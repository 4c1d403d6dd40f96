// What every fuzz target shares: a port whose far end replays the fuzzer's
// bytes as the handset's and keeps what the program sent, local files in
// memory, a model of how the frame receiver finds frames in a byte stream, and
// a front end that answers nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/state.h"

// Fresh process state before each run (the buffers are made once). The
// silence limit is 0: the handset's bytes are all there at once, so an empty
// read ends the wait.
void FuzzInit();

// g_port on the handset's bytes: reads return them, then nothing, at once, as
// a regular file does. The program's writes are kept (up to 16 MB; past that
// the port takes no more, as a stuck handset).
void OpenPort(const std::uint8_t* data, std::size_t n);
void OpenPort(const std::string& bytes);
// Closes g_port; returns every byte the program wrote to it.
const std::string& ClosePort();

// Files in memory: a path under MemPath() never reaches the disk; the mail
// download's folder search and deletes work there too. Every other path goes
// to the platform layer's own files. Names are relative to MemPath().
const std::wstring& MemPath();
void SetMemFile(const wchar_t* name, const std::uint8_t* data, std::size_t n);
const std::string* MemFile(const wchar_t* name);  // null when there is none
int MemFileCount();
// How many memory files lie under the memory path's folder `folder` (ending
// with a backslash), at any depth.
int MemFilesUnder(const wchar_t* folder);
// Forgets every memory file; every handle and search must be closed by now.
void ClearMemFiles();

// A list view that keeps only the row count and checks what the listing
// hands it: texts terminated within 260 units, icons of the table, columns
// of existing rows. FakeListView() empties it.
HWND FakeListView();
int FakeListRows();

// Stops the run with a report when an expectation fails (libFuzzer saves the
// input as a crash).
#define FUZZ_CHECK(cond)                              \
  do {                                                \
    if (!(cond)) FuzzFail(__FILE__, __LINE__, #cond); \
  } while (0)
[[noreturn]] void FuzzFail(const char* file, int line, const char* what);

// Where ReceiveResponse finds frames in the handset's byte stream: the first
// marker pair from pos on, a 12-byte header, and at most 4096 bytes of the
// frame read in whole-frame mode (the rest stays on the port).
struct FrameModel {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  std::size_t start = 0;  // of the last frame found

  FrameModel(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}
  // What ReceiveResponse(mode) returns; advances pos past what it reads.
  // -1 leaves pos unknown (past the end).
  int Receive(int mode);
  // Takes n more bytes as StreamFromPort/ReadPortExact would; false when the
  // stream runs dry first.
  bool Skip(std::uint64_t n);
  // The decimal number ReadDecimal finds in the last frame's payload (whole
  // mode only, as the frame receiver terminates it).
  int PayloadNumber(int total) const;
};

// Tagged field records: true when the fields after the 0x1C start byte tile
// data[0..n) exactly; *fields counts them.
bool RecordTiles(const std::uint8_t* data, std::size_t n, int* fields);

// One request frame the program wrote: header fields and payload.
struct SentFrame {
  unsigned code;
  unsigned selector;
  std::string payload;
};
// Splits what the program wrote into frames; false when it is no exact
// sequence of well-formed request frames.
bool ParseSent(const std::string& sent, std::vector<SentFrame>* frames);

// A response frame of the handset: marker, code, length, selector, payload.
std::string ResponseFrame(unsigned code, unsigned selector, const std::string& payload);
