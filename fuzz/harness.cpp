#include "fuzz/harness.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>

#include "download/field_record.h"
#include "download/listing.h"
#include "link/frame.h"
#include "link/frontend.h"

// The front end: no PIN, no status box.
int AskPin(HWND) { return 0; }
void ShowStatus(const WCHAR*, int) {}
void ShowProgress(std::uint64_t, std::uint64_t) {}

namespace {

// The port: a handle no file has, reads served from the fuzzer's bytes as a
// regular file serves them (what is there, then 0 bytes at once), writes
// kept up to a bound.
int g_fakePortTag;
HANDLE const kFakePort = &g_fakePortTag;
const std::uint8_t* g_portData = nullptr;
std::size_t g_portSize = 0;
std::size_t g_portPos = 0;
std::string g_portSent;
constexpr std::size_t kMaxSent = 16u << 20;

// Files in memory by full program path, and their handles (downloads write
// them, uploads read them).
const std::wstring kMemPath = L"\\palvo-fuzz-memory\\";
std::map<std::wstring, std::string> g_memFiles;
struct MemHandle {
  bool open;
  std::string* file;
  std::size_t pos;
};
MemHandle g_memHandles[4];

bool IsMemPath(LPCWSTR name) {
  return name && std::wcsncmp(name, kMemPath.c_str(), kMemPath.size()) == 0;
}

// A search of the memory folder: the names that matched, taken at the start.
struct MemFind {
  bool open;
  std::vector<std::wstring> names;
  std::size_t next;
};
MemFind g_memFind;

WCHAR Lower(WCHAR c) { return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c + 32) : c; }

// '*' any run, '?' any one unit, letters in any case.
bool Matches(const WCHAR* pattern, const WCHAR* name) {
  if (*pattern == 0) return *name == 0;
  if (*pattern == L'*') return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
  if (*name == 0) return false;
  if (*pattern != L'?' && Lower(*pattern) != Lower(*name)) return false;
  return Matches(pattern + 1, name + 1);
}

MemHandle* MemHandleOf(HANDLE h) {
  for (MemHandle& m : g_memHandles) {
    if (h == &m && m.open) return &m;
  }
  return nullptr;
}

}  // namespace

extern "C" HANDLE __real__Z11CreateFileWPKwjjPvjjS1_(LPCWSTR, DWORD, DWORD, void*, DWORD, DWORD,
                                                     HANDLE);
extern "C" BOOL __real__Z11CloseHandlePv(HANDLE);
extern "C" DWORD __real__Z14SetFilePointerPviPij(HANDLE, LONG, LONG*, DWORD);
extern "C" DWORD __real__Z11GetFileSizePvPj(HANDLE, LPDWORD);

extern "C" HANDLE __wrap__Z11CreateFileWPKwjjPvjjS1_(LPCWSTR name, DWORD access, DWORD share,
                                                     void* security, DWORD disposition, DWORD flags,
                                                     HANDLE model) {
  if (!IsMemPath(name))
    return __real__Z11CreateFileWPKwjjPvjjS1_(name, access, share, security, disposition, flags,
                                              model);
  for (MemHandle& m : g_memHandles) {
    if (m.open) continue;
    auto found = g_memFiles.find(name);
    if (found == g_memFiles.end()) {
      if (disposition != CREATE_ALWAYS) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      found = g_memFiles.emplace(name, std::string()).first;
    } else if (disposition == CREATE_ALWAYS) {
      found->second.clear();
    }
    m.open = true;
    m.file = &found->second;
    m.pos = 0;
    SetLastError(ERROR_SUCCESS);
    return &m;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
}

extern "C" BOOL __wrap__Z11CloseHandlePv(HANDLE h) {
  MemHandle* m = MemHandleOf(h);
  if (!m) return __real__Z11CloseHandlePv(h);
  m->open = false;
  return TRUE;
}

extern "C" DWORD __wrap__Z14SetFilePointerPviPij(HANDLE h, LONG distance, LONG* high,
                                                 DWORD method) {
  MemHandle* m = MemHandleOf(h);
  if (!m) return __real__Z14SetFilePointerPviPij(h, distance, high, method);
  if (method != FILE_BEGIN || distance < 0 || (high && *high != 0))
    FuzzFail(__FILE__, __LINE__, "a file position the memory file does not serve");
  m->pos = static_cast<std::size_t>(distance);
  return static_cast<DWORD>(distance);
}

extern "C" HANDLE __real__Z14FindFirstFileWPKwP16WIN32_FIND_DATAW(LPCWSTR, WIN32_FIND_DATAW*);
extern "C" BOOL __real__Z13FindNextFileWPvP16WIN32_FIND_DATAW(HANDLE, WIN32_FIND_DATAW*);
extern "C" BOOL __real__Z9FindClosePv(HANDLE);
extern "C" BOOL __real__Z11DeleteFileWPKw(LPCWSTR);

static BOOL NextMemFound(WIN32_FIND_DATAW* data) {
  if (g_memFind.next >= g_memFind.names.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const std::wstring& name = g_memFind.names[g_memFind.next++];
  *data = WIN32_FIND_DATAW();
  data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  std::wcsncpy(data->cFileName, name.c_str(), MAX_PATH - 1);
  return TRUE;
}

extern "C" HANDLE __wrap__Z14FindFirstFileWPKwP16WIN32_FIND_DATAW(LPCWSTR pattern,
                                                                  WIN32_FIND_DATAW* data) {
  if (!IsMemPath(pattern)) return __real__Z14FindFirstFileWPKwP16WIN32_FIND_DATAW(pattern, data);
  FUZZ_CHECK(!g_memFind.open);
  const WCHAR* wanted = pattern + kMemPath.size();
  FUZZ_CHECK(!std::wcschr(wanted, L'\\'));
  g_memFind.names.clear();
  g_memFind.next = 0;
  for (const auto& [path, bytes] : g_memFiles) {
    if (Matches(wanted, path.c_str() + kMemPath.size()))
      g_memFind.names.push_back(path.substr(kMemPath.size()));
  }
  if (!NextMemFound(data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  g_memFind.open = true;
  return &g_memFind;
}

extern "C" BOOL __wrap__Z13FindNextFileWPvP16WIN32_FIND_DATAW(HANDLE h, WIN32_FIND_DATAW* data) {
  if (h != &g_memFind) return __real__Z13FindNextFileWPvP16WIN32_FIND_DATAW(h, data);
  FUZZ_CHECK(g_memFind.open);
  return NextMemFound(data);
}

extern "C" BOOL __wrap__Z9FindClosePv(HANDLE h) {
  if (h != &g_memFind) return __real__Z9FindClosePv(h);
  FUZZ_CHECK(g_memFind.open);
  g_memFind.open = false;
  return TRUE;
}

extern "C" BOOL __wrap__Z11DeleteFileWPKw(LPCWSTR name) {
  if (!IsMemPath(name)) return __real__Z11DeleteFileWPKw(name);
  for (const MemHandle& m : g_memHandles) {
    auto found = g_memFiles.find(name);
    if (m.open && found != g_memFiles.end() && m.file == &found->second) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  }
  if (g_memFiles.erase(name) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

extern "C" BOOL __real__Z11MoveFileExWPKwS0_j(LPCWSTR, LPCWSTR, DWORD);

// A download's part file taking its final name.
extern "C" BOOL __wrap__Z11MoveFileExWPKwS0_j(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (!IsMemPath(from) && !IsMemPath(to)) return __real__Z11MoveFileExWPKwS0_j(from, to, flags);
  FUZZ_CHECK(IsMemPath(from) && IsMemPath(to));
  auto found = g_memFiles.find(from);
  if (found == g_memFiles.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  for (const MemHandle& m : g_memHandles) FUZZ_CHECK(!m.open || m.file != &found->second);
  if (!(flags & MOVEFILE_REPLACE_EXISTING) && g_memFiles.count(to)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  std::string bytes = std::move(found->second);
  g_memFiles.erase(found);
  g_memFiles[to] = std::move(bytes);
  return TRUE;
}

// Folders under the memory path: the attic a download makes.
std::map<std::wstring, bool> g_memDirs;

extern "C" DWORD __real__Z18GetFileAttributesWPKw(LPCWSTR);
extern "C" BOOL __real__Z16CreateDirectoryWPKwPv(LPCWSTR, void*);

extern "C" DWORD __wrap__Z18GetFileAttributesWPKw(LPCWSTR name) {
  if (!IsMemPath(name)) return __real__Z18GetFileAttributesWPKw(name);
  if (g_memFiles.count(name)) return FILE_ATTRIBUTE_NORMAL;
  if (g_memDirs.count(name)) return FILE_ATTRIBUTE_DIRECTORY;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_FILE_ATTRIBUTES;
}

extern "C" BOOL __wrap__Z16CreateDirectoryWPKwPv(LPCWSTR name, void* security) {
  if (!IsMemPath(name)) return __real__Z16CreateDirectoryWPKwPv(name, security);
  if (g_memDirs.count(name) || g_memFiles.count(name)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  g_memDirs[name] = true;
  return TRUE;
}

extern "C" DWORD __wrap__Z11GetFileSizePvPj(HANDLE h, LPDWORD high) {
  if (!MemHandleOf(h)) return __real__Z11GetFileSizePvPj(h, high);
  if (high) *high = 0;
  return static_cast<DWORD>(MemHandleOf(h)->file->size());
}

// ReadFile and WriteFile of the platform layer, wrapped at link time
// (--wrap): the port is answered here, every other handle by the real ones.
extern "C" BOOL __real__Z8ReadFilePvS_jPjS_(HANDLE, LPVOID, DWORD, LPDWORD, void*);
extern "C" BOOL __real__Z9WriteFilePvPKvjPjS_(HANDLE, LPCVOID, DWORD, LPDWORD, void*);

extern "C" BOOL __wrap__Z8ReadFilePvS_jPjS_(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read,
                                            void* overlapped) {
  if (MemHandle* m = MemHandleOf(h)) {
    const std::string& file = *m->file;
    const std::size_t left = m->pos < file.size() ? file.size() - m->pos : 0;
    const DWORD n = left < toRead ? static_cast<DWORD>(left) : toRead;
    if (n > 0) std::memcpy(buffer, file.data() + m->pos, n);
    m->pos += n;
    if (read) *read = n;
    return TRUE;
  }
  if (h != kFakePort) return __real__Z8ReadFilePvS_jPjS_(h, buffer, toRead, read, overlapped);
  const std::size_t left = g_portSize - g_portPos;
  const DWORD n = left < toRead ? static_cast<DWORD>(left) : toRead;
  if (n > 0) std::memcpy(buffer, g_portData + g_portPos, n);
  g_portPos += n;
  if (read) *read = n;
  return TRUE;
}

extern "C" BOOL __wrap__Z9WriteFilePvPKvjPjS_(HANDLE h, LPCVOID buffer, DWORD toWrite,
                                              LPDWORD written, void* overlapped) {
  if (MemHandle* m = MemHandleOf(h)) {
    std::string& file = *m->file;
    if (m->pos > file.size()) file.resize(m->pos);
    file.replace(m->pos, toWrite, static_cast<const char*>(buffer), toWrite);
    m->pos += toWrite;
    if (written) *written = toWrite;
    return TRUE;
  }
  if (h != kFakePort) return __real__Z9WriteFilePvPKvjPjS_(h, buffer, toWrite, written, overlapped);
  // A handset that stops taking bytes: the write times out having taken none.
  if (g_portSent.size() + toWrite > kMaxSent) {
    if (written) *written = 0;
    return TRUE;
  }
  g_portSent.append(static_cast<const char*>(buffer), toWrite);
  if (written) *written = toWrite;
  return TRUE;
}

void FuzzFail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: expectation failed: %s\n", file, line, what);
  std::abort();
}

void FuzzInit() {
  InitProcessState();  // the buffers only the first time
  g_silenceLimitMs = 0;
}

void OpenPort(const std::uint8_t* data, std::size_t n) {
  g_portData = data;
  g_portSize = n;
  g_portPos = 0;
  g_portSent.clear();
  g_port = kFakePort;
}

void OpenPort(const std::string& bytes) {
  OpenPort(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

const std::string& ClosePort() {
  g_port = INVALID_HANDLE_VALUE;
  g_portData = nullptr;
  g_portSize = 0;
  return g_portSent;
}

namespace {

int g_fakeListTag;
HWND const kFakeList = reinterpret_cast<HWND>(&g_fakeListTag);
int g_fakeRows = 0;

bool TerminatedText(const WCHAR* text) { return text && std::wcslen(text) < kPathUnits; }

}  // namespace

HWND FakeListView() {
  g_fakeRows = 0;
  return kFakeList;
}

int FakeListRows() { return g_fakeRows; }

extern "C" LRESULT __real__Z12SendMessageWP11PosixWindowjml(HWND, UINT, WPARAM, LPARAM);

extern "C" LRESULT __wrap__Z12SendMessageWP11PosixWindowjml(HWND window, UINT message,
                                                            WPARAM wParam, LPARAM lParam) {
  if (window != kFakeList)
    return __real__Z12SendMessageWP11PosixWindowjml(window, message, wParam, lParam);
  const LVITEMW* item = reinterpret_cast<const LVITEMW*>(lParam);
  switch (message) {
    case LVM_DELETEALLITEMS:
      g_fakeRows = 0;
      return TRUE;
    case LVM_GETITEMCOUNT:
      return g_fakeRows;
    case LVM_INSERTITEMW:
      FUZZ_CHECK(item && item->iSubItem == 0 && item->iItem == g_fakeRows);
      FUZZ_CHECK(TerminatedText(item->pszText));
      FUZZ_CHECK(item->iImage >= 0 && item->iImage <= 7);
      return g_fakeRows++;
    case LVM_SETITEMW:
      FUZZ_CHECK(item && item->iItem >= 0 && item->iItem < g_fakeRows);
      FUZZ_CHECK(item->iSubItem >= 1 && item->iSubItem <= kExactSizeColumn);
      FUZZ_CHECK(TerminatedText(item->pszText));
      return TRUE;
    case LVM_SORTITEMS: {
      const auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
      // The listing's rows by their entries' sort keys, newest first.
      FUZZ_CHECK(compare == &CompareListingRows);
      FUZZ_CHECK(CompareSortKeys(1, 2, 0) > 0 && CompareSortKeys(2, 1, 0) < 0 &&
                 CompareSortKeys(3, 3, 0) == 0);
      return TRUE;
    }
    default:
      FuzzFail(__FILE__, __LINE__, "a list message the listing does not send");
  }
}

const std::wstring& MemPath() { return kMemPath; }

void SetMemFile(const wchar_t* name, const std::uint8_t* data, std::size_t n) {
  g_memFiles[kMemPath + name].assign(reinterpret_cast<const char*>(data), n);
}

const std::string* MemFile(const wchar_t* name) {
  const auto found = g_memFiles.find(kMemPath + name);
  return found == g_memFiles.end() ? nullptr : &found->second;
}

int MemFileCount() { return static_cast<int>(g_memFiles.size()); }

int MemFilesUnder(const wchar_t* folder) {
  const std::wstring prefix = kMemPath + folder;
  int n = 0;
  for (const auto& entry : g_memFiles) n += entry.first.compare(0, prefix.size(), prefix) == 0;
  return n;
}

void ClearMemFiles() {
  for (const MemHandle& m : g_memHandles) FUZZ_CHECK(!m.open);
  FUZZ_CHECK(!g_memFind.open);
  g_memFiles.clear();
  g_memDirs.clear();
}

int FrameModel::Receive(int mode) {
  std::size_t i = pos;
  while (i + 1 < size && !(data[i] == kMarker && data[i + 1] == kDirResponse)) ++i;
  if (i + kHeaderBytes > size) {
    pos = size + 1;
    return -1;
  }
  start = i;
  const std::uint8_t* h = data + i;
  const std::int32_t length = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(h[4]) | (static_cast<std::uint32_t>(h[5]) << 8) |
      (static_cast<std::uint32_t>(h[6]) << 16) | (static_cast<std::uint32_t>(h[7]) << 24));
  const std::int64_t total64 = static_cast<std::int64_t>(length) + 8;
  const int total = total64 > INT32_MAX ? INT32_MAX : static_cast<int>(total64);
  pos = i + kHeaderBytes;
  if (mode == kHeaderOnlyMode) return total;
  if (total < kHeaderBytes) return -1;
  const std::size_t end = static_cast<std::size_t>(total < kMaxFrame ? total : kMaxFrame);
  if (i + end > size) {
    pos = size + 1;
    return -1;
  }
  pos = i + end;
  return total;
}

bool FrameModel::Skip(std::uint64_t n) {
  if (pos > size || n > size - pos) {
    pos = size + 1;
    return false;
  }
  pos += static_cast<std::size_t>(n);
  return true;
}

int FrameModel::PayloadNumber(int total) const {
  const std::size_t end = static_cast<std::size_t>(total < kMaxFrame ? total : kMaxFrame);
  std::string payload(reinterpret_cast<const char*>(data + start + kHeaderBytes),
                      end - kHeaderBytes);
  return ReadDecimal(payload.c_str());
}

bool RecordTiles(const std::uint8_t* data, std::size_t n, int* fields) {
  *fields = 0;
  if (n < 1 || data[0] != kRecordStart) return false;
  std::size_t p = 1;
  while (p < n) {
    if (n - p < static_cast<std::size_t>(kFieldHeaderBytes) || data[p] != kFieldStart) return false;
    const std::uint64_t length = static_cast<std::uint64_t>(data[p + 3]) |
                                 (static_cast<std::uint64_t>(data[p + 4]) << 8) |
                                 (static_cast<std::uint64_t>(data[p + 5]) << 16) |
                                 (static_cast<std::uint64_t>(data[p + 6]) << 24);
    p += kFieldHeaderBytes;
    if (length > n - p) return false;
    p += static_cast<std::size_t>(length);
    ++*fields;
  }
  return true;
}

bool ParseSent(const std::string& sent, std::vector<SentFrame>* frames) {
  frames->clear();
  const auto* d = reinterpret_cast<const std::uint8_t*>(sent.data());
  std::size_t p = 0;
  while (p < sent.size()) {
    if (sent.size() - p < static_cast<std::size_t>(kHeaderBytes)) return false;
    const std::uint8_t* h = d + p;
    if (h[0] != kMarker || h[1] != kDirRequest || h[8] != 0 || h[10] != 0) return false;
    const std::uint32_t length =
        static_cast<std::uint32_t>(h[4]) | (static_cast<std::uint32_t>(h[5]) << 8) |
        (static_cast<std::uint32_t>(h[6]) << 16) | (static_cast<std::uint32_t>(h[7]) << 24);
    if (length < 4) return false;
    p += kHeaderBytes;
    const std::uint64_t payload = length - 4;
    if (payload > sent.size() - p) return false;
    SentFrame f;
    f.code = (static_cast<unsigned>(h[2]) << 8) | h[3];
    f.selector = (static_cast<unsigned>(h[9]) << 8) | h[11];
    f.payload.assign(sent, p, static_cast<std::size_t>(payload));
    frames->push_back(std::move(f));
    p += static_cast<std::size_t>(payload);
  }
  return true;
}

std::string ResponseFrame(unsigned code, unsigned selector, const std::string& payload) {
  const std::uint32_t length = static_cast<std::uint32_t>(payload.size()) + 4;
  std::string f = {static_cast<char>(kMarker),
                   static_cast<char>(kDirResponse),
                   static_cast<char>(code >> 8),
                   static_cast<char>(code),
                   static_cast<char>(length),
                   static_cast<char>(length >> 8),
                   static_cast<char>(length >> 16),
                   static_cast<char>(length >> 24),
                   0,
                   static_cast<char>(selector >> 8),
                   0,
                   static_cast<char>(selector)};
  return f + payload;
}
