// An ordinary local file into the handset, in the category its name selects.
#include <cwchar>

#include "download/category.h"
#include "link/frame.h"
#include "link/messages.h"
#include "link/trace.h"
#include "upload/upload.h"
#include "upload/upload_io.h"

// Each list is its extensions back to back, every one with its dot.
static const WCHAR* const kExtensionLists[kCategoryCount] = {
    L".jpg.jpeg.jpe.bmp.gif.png",
    L".midi.mid.dxm.adp",
    L".htm.html.shtml.css.xht.xhtm.xhtml.wml.js.xml",
    L".vcf",
    L"",
};
constexpr int kOtherCategory = 4;

constexpr int kNameBytes = 260;  // the ANSI name, its terminator included
// name, TAB, the longest wire name, TAB, terminator
constexpr int kNameHeaderBytes = kNameBytes + 1 + 5 + 1;

int CategoryOfName(const WCHAR* name) {
  const std::size_t n = std::wcslen(name);
  int result = kOtherCategory;
  // Every extension is tried; a later match wins.
  for (int index = 0; index < kCategoryCount; ++index) {
    const WCHAR* ext = kExtensionLists[index];
    while (*ext) {
      std::size_t k = 1;
      while (ext[k] && ext[k] != L'.') ++k;
      if (n >= k && _wcsnicmp(name + n - k, ext, k) == 0) result = index;
      ext += k;
    }
  }
  return result;
}

// The handheld's WideCharToMultiByte does not know WC_NO_BEST_FIT_CHARS and
// may refuse a flag it does not know; where the platform has it, it keeps the
// conversion from picking look-alikes.
#ifdef WC_NO_BEST_FIT_CHARS
constexpr DWORD kNameFlags = WC_NO_BEST_FIT_CHARS;
#else
constexpr DWORD kNameFlags = 0;
#endif

// The handset file name in the ANSI code page, TAB, wire name, TAB. Names that
// do not fit, hold characters the code page lacks or control characters are
// refused: the handset would store a name other than the one the user gave.
static Message BuildNameHeader(const WCHAR* name, const char* wireName, char* header,
                               DWORD* length) {
  const int need = WideCharToMultiByte(CP_ACP, kNameFlags, name, -1, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return MSG_CHECK_NAME_CHARS;
  if (need > kNameBytes) return MSG_CHECK_NAME_TOO_LONG;
  const int got =
      WideCharToMultiByte(CP_ACP, kNameFlags, name, -1, header, kNameBytes, nullptr, nullptr);
  if (got <= 0) return MSG_CHECK_NAME_CHARS;
  // A character the code page lacks became a default character or a
  // look-alike: either way the bytes do not read back as the name. This
  // needs no flag, so it holds with best-fit conversion too.
  WCHAR back[kNameBytes];
  const int units = MultiByteToWideChar(CP_ACP, 0, header, got, back, kNameBytes);
  if (units <= 0 || std::wcscmp(back, name) != 0) return MSG_CHECK_NAME_CHARS;
  DWORD p = static_cast<DWORD>(got - 1);
  // A TAB or other control byte would end the name early on the handset, and
  // it refuses a name with a path separator byte, which the second byte of a
  // double-byte character such as "ソ" (83 5C) is too.
  for (DWORD i = 0; i < p; ++i) {
    const BYTE b = static_cast<BYTE>(header[i]);
    if (b < 32 || b == '\\' || b == '/') return MSG_CHECK_NAME_CHARS;
  }
  header[p++] = '\t';
  for (const char* w = wireName; *w; ++w) header[p++] = *w;
  header[p++] = '\t';
  header[p] = 0;
  *length = p;
  return nullptr;
}

// The checks of a file upload: its name header built, the file opened and
// its size within what one request announces. On success *file is open.
static Message PrepareFile(const WCHAR* path, const WCHAR* name, char* header, DWORD* headerLength,
                           HANDLE* file, DWORD* size) {
  const int category = CategoryOfName(name);
  if (Message m = BuildNameHeader(name, kCategories[category].wireName, header, headerLength))
    return m;
  *file = OpenForUpload(path);
  if (*file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  DWORD high = 0;
  if (!LocalFileSize(*file, size, &high)) {
    CloseHandle(*file);
    return MSG_FILE_OPEN_ERROR;
  }
  // The frame's length field holds the name header, the file and itself.
  if (high != 0 || *size > kMaxPayload - *headerLength) {
    CloseHandle(*file);
    return MSG_CHECK_TOO_LARGE;
  }
  return nullptr;
}

Message CheckFileUpload(const WCHAR* path, const WCHAR* name) {
  char header[kNameHeaderBytes + 1];
  DWORD headerLength = 0, size = 0;
  HANDLE file;
  if (Message m = PrepareFile(path, name, header, &headerLength, &file, &size)) return m;
  CloseHandle(file);
  return nullptr;
}

Message UploadFile(const WCHAR* path, const WCHAR* name) {
  char header[kNameHeaderBytes + 1];
  DWORD headerLength = 0, size = 0;
  HANDLE file;
  if (Message m = PrepareFile(path, name, header, &headerLength, &file, &size)) return m;

  SendHeader(kFileUpload, headerLength + size);
  DWORD written = 0;
  if (!PortWrite(header, headerLength, &written) || written != headerLength) {
    CloseHandle(file);
    return MSG_COMM_HEADER;
  }
  const bool streamed = StreamFileToPort(file, size);
  CloseHandle(file);
  // A stream cut short cannot meet the announced length; the handset's reply
  // would not come.
  if (!streamed) return MSG_UPLOAD_FAILED;
  return ReceiveAcceptance() ? nullptr : MSG_UPLOAD_FAILED;
}
