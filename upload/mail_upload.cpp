// One mail file into the handset as a light mail or a mail: the header lines
// become the record head, the body follows it straight from the file.
#include <cstring>

#include "link/frame.h"
#include "link/messages.h"
#include "upload/line_reader.h"
#include "upload/upload.h"
#include "upload/upload_io.h"

namespace {

constexpr char kLightKey[] = "X-PORIKA-LIGHT:";
constexpr char kMailKey[] = "X-PORIKA-MAIL:";

inline bool IsControl(BYTE b) { return b < 32; }
inline bool IsLineEnd(BYTE b) { return b == '\r' || b == '\n' || b == 0; }

// The record head grows in the packet buffer; `reserve` bytes stay free for
// the field heads still to come, so the head always fits whole.
struct Head {
  DWORD length;
  bool fits;
};

void Append(Head* head, BYTE tag, const BYTE* data, DWORD n, DWORD reserve) {
  if (!head->fits || head->length + kFieldHeaderBytes + n + reserve > kBufferBytes) {
    head->fits = false;
    return;
  }
  EncodeField(g_packet + head->length, tag, 1, data, n);
  head->length += kFieldHeaderBytes + n;
}

// Values 1 to 4 of the header line, from behind its key. False when a comma
// is missing or value 4 ends at a control byte other than a line end.
bool ReadHeaderValues(const BYTE* p, Head* head, int fieldsAfter) {
  while (*p == ' ') ++p;
  for (BYTE tag = 1; tag <= 3; ++tag) {
    const BYTE* value = p;
    while (!IsControl(*p) && *p != ',') ++p;
    if (*p != ',') return false;
    Append(head, tag, value, static_cast<DWORD>(p - value),
           static_cast<DWORD>((4 - tag + fieldsAfter) * kFieldHeaderBytes));
    ++p;
  }
  const BYTE* value = p;
  while (!IsControl(*p)) ++p;
  if (!IsLineEnd(*p)) return false;
  Append(head, 4, value, static_cast<DWORD>(p - value),
         static_cast<DWORD>(fieldsAfter * kFieldHeaderBytes));
  return true;
}

// A one-line value of a light mail: up to its first CR, LF or zero byte.
DWORD OneLineLength(const char* line) {
  DWORD n = 0;
  while (!IsLineEnd(static_cast<BYTE>(line[n]))) ++n;
  return n;
}

// Reads the header lines into the record head. Returns the group of the
// request (4 light mail, 5 mail), or 0 when the file is no mail file.
int ReadHeader(HANDLE file, Head* head) {
  ReadLine(nullptr);
  const char* line = ReadLine(file);
  if (!line) return 0;
  int group;
  const BYTE* p;
  if (std::strncmp(line, kLightKey, sizeof kLightKey - 1) == 0) {
    group = 4;
    p = reinterpret_cast<const BYTE*>(line) + sizeof kLightKey - 1;
  } else if (std::strncmp(line, kMailKey, sizeof kMailKey - 1) == 0) {
    group = 5;
    p = reinterpret_cast<const BYTE*>(line) + sizeof kMailKey - 1;
  } else {
    return 0;
  }
  g_packet[0] = kRecordStart;
  head->length = 1;
  head->fits = true;
  // Fields after value 4: two one-line values and the body, or the body.
  const int fieldsAfter = group == 4 ? 3 : 1;
  if (!ReadHeaderValues(p, head, fieldsAfter)) return 0;
  if (group == 4) {
    line = ReadLine(file);
    if (!line || !IsLineEnd(static_cast<BYTE>(line[0]))) return 0;
    for (BYTE tag = 5; tag <= 6; ++tag) {
      line = ReadLine(file);
      if (!line) return 0;
      Append(head, tag, reinterpret_cast<const BYTE*>(line), OneLineLength(line),
             static_cast<DWORD>((7 - tag) * kFieldHeaderBytes));
    }
  }
  if (!head->fits) return 0;
  return group;
}

// The checks of a mail upload: the header lines read into the record head,
// the body's place and size. On success *file stands at the body and the
// head, its last field's head included, is in the packet buffer.
struct MailParts {
  HANDLE file;
  Request request;
  DWORD headLength, body;
};

Message PrepareMail(const WCHAR* path, MailParts* mail) {
  HANDLE file = OpenForUpload(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  Head head = {0, false};
  const int group = ReadHeader(file, &head);
  Message problem = nullptr;
  const long long offset = LineFileOffset();
  DWORD size = 0, high = 0;
  if (group == 0) {
    problem = AtCheckedLine(MSG_CHECK_FORMAT);
  } else if (!LocalFileSize(file, &size, &high)) {
    problem = MSG_FILE_OPEN_ERROR;
  } else if (offset > kLineWindow || (LastLineFilledWindow() && (high != 0 || size != offset))) {
    // The header must end inside the file's first window. A last header line
    // that filled the window whole is complete only when the file ends there;
    // otherwise it was cut and would be misread.
    problem = AtCheckedLine(MSG_CHECK_FORMAT);
  } else if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
             static_cast<DWORD>(offset)) {
    problem = MSG_FILE_OPEN_ERROR;
  } else if (high != 0 ||
             size - static_cast<DWORD>(offset) > kMaxPayload - (head.length + kFieldHeaderBytes)) {
    problem = MSG_CHECK_TOO_LARGE;
  }
  if (problem) {
    CloseHandle(file);
    return problem;
  }
  mail->file = file;
  mail->body = size - static_cast<DWORD>(offset);
  const BYTE tag = group == 4 ? 7 : 5;
  const BYTE type = group == 4 ? 2 : 3;
  PutFieldHead(g_packet + head.length, tag, type, mail->body);
  mail->headLength = head.length + kFieldHeaderBytes;
  mail->request = group == 4 ? kLightMailUpload : kMailUpload;
  return nullptr;
}

}  // namespace

Message CheckMailFile(const WCHAR* path) {
  MailParts mail;
  if (Message m = PrepareMail(path, &mail)) return m;
  CloseHandle(mail.file);
  return nullptr;
}

Message UploadMail(const WCHAR* path) {
  MailParts mail;
  if (Message m = PrepareMail(path, &mail)) return m;
  SendHeader(mail.request, mail.headLength + mail.body);
  const bool sent =
      WritePortAll(g_packet, mail.headLength) && StreamFileToPort(mail.file, mail.body);
  CloseHandle(mail.file);
  if (!sent) return MSG_UPLOAD_FAILED;
  return ReceiveAcceptance() ? nullptr : MSG_UPLOAD_FAILED;
}
