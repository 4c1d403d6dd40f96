// The registry file: where it lives ($PALVO_REGISTRY, else
// $XDG_STATE_HOME/palvo/registry.reg, else ~/.local/state/palvo/registry.reg),
// its .reg text (header, [HKEY_LOCAL_MACHINE\...] sections, "Name"="text",
// "Name"=dword:0000abcd, "Name"=hex(N):..), and the lock and
// temporary-file-plus-rename (each synced) that keep two writers and a crash
// from damaging it. Reading is lenient, since people and tests write it by
// hand: blank lines, CRLF, ';' comments, "@" for the default value and a
// missing header are fine; lines it cannot make sense of are skipped, and
// kept as they are when the file is written again.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_internal.h"
#include "platform/posix/registry_store.h"

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kRoot[] = "HKEY_LOCAL_MACHINE";

thread_local int t_lockFd = -1;  // held from a load for writing until the save

std::string RegistryPath() {
  if (const char* p = std::getenv("PALVO_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const struct passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.local/state";
  }
  return base + "/palvo/registry.reg";
}

// mkdir -p of the folder that holds path; the folders it makes are the
// user's alone. Folders that exist are left as they are.
void MakeParentDirs(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0700);
}

// Makes a rename in the folder that holds path durable.
void SyncParentDir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::wstring Decode(const std::string& s) {
  std::vector<WCHAR> w(s.size() + 1);
  Utf8ToWide(s.data(), s.size(), w.data(), w.size(), true);
  return w.data();
}

std::string Encode(const std::wstring& w) {
  std::string s(w.size() * 4 + 1, '\0');
  if (!WideToUtf8(w.data(), w.size(), s.data(), s.size())) {
    // A lone surrogate cannot be UTF-8; keep the rest.
    std::wstring clean = w;
    for (WCHAR& c : clean)
      if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    WideToUtf8(clean.data(), clean.size(), s.data(), s.size());
  }
  s.resize(std::strlen(s.c_str()));
  return s;
}

bool StartsWithNoCase(const std::string& s, std::size_t at, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return s.size() - at >= n && ::strncasecmp(s.c_str() + at, prefix, n) == 0;
}

// A quoted string from s[at] == '"'; at ends behind the closing quote.
bool ReadQuoted(const std::string& s, std::size_t* at, std::string* out) {
  out->clear();
  for (std::size_t i = *at + 1; i < s.size(); ++i) {
    if (s[i] == '"') {
      *at = i + 1;
      return true;
    }
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
    out->push_back(s[i]);
  }
  return false;
}

bool ReadHexBytes(const std::string& s, std::size_t at, std::vector<BYTE>* out) {
  out->clear();
  while (at < s.size()) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == ',')) ++at;
    if (at >= s.size()) break;
    char* end = nullptr;
    const unsigned long b = std::strtoul(s.c_str() + at, &end, 16);
    if (end == s.c_str() + at || b > 0xFF) return false;
    out->push_back(static_cast<BYTE>(b));
    at = static_cast<std::size_t>(end - s.c_str());
  }
  return true;
}

// hex(1) holds a string as UTF-16LE, terminator included (how text with line
// breaks is kept in a line-based file).
std::wstring FromUtf16Le(const std::vector<BYTE>& b) {
  std::wstring w;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    WCHAR u = b[i] | (b[i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
      const WCHAR low = b[i + 2] | (b[i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (u == 0) break;
    w.push_back(u);
  }
  return w;
}

void PutUtf16Le(std::string* out, const std::wstring& w) {
  char b[8];
  bool first = true;
  auto unit = [&](unsigned u) {
    std::snprintf(b, sizeof b, "%s%02x,%02x", first ? "" : ",", u & 0xFF, (u >> 8) & 0xFF);
    *out += b;
    first = false;
  };
  for (WCHAR c : w) {
    const unsigned cp = static_cast<unsigned>(c);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  unit(0);
}

RegValue* FindOrAddValue(RegKey* key, const std::wstring& name) {
  for (RegValue& v : key->values)
    if (SameRegName(v.name, name)) return &v;
  key->values.push_back(RegValue{});
  key->values.back().name = name;
  return &key->values.back();
}

// Applies one value line to key; true when it set or deleted the value named *name.
bool ParseValueLine(const std::string& line, RegKey* key, std::wstring* name) {
  std::size_t at = 0;
  std::string quoted;
  if (line[0] == '@') {
    at = 1;
  } else if (!ReadQuoted(line, &at, &quoted)) {
    return false;
  }
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at >= line.size() || line[at] != '=') return false;
  ++at;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  const std::wstring wname = Decode(quoted);
  *name = wname;
  RegValue v;
  v.name = wname;
  std::string text;
  if (at < line.size() && line[at] == '"') {
    if (!ReadQuoted(line, &at, &text)) return false;
    v.type = REG_SZ;
    v.text = Decode(text);
  } else if (StartsWithNoCase(line, at, "dword:")) {
    char* end = nullptr;
    const char* digits = line.c_str() + at + 6;
    const unsigned long long n = std::strtoull(digits, &end, 16);
    if (end == digits || n > 0xFFFFFFFFull) return false;
    v.type = REG_DWORD;
    v.number = static_cast<DWORD>(n);
  } else if (StartsWithNoCase(line, at, "hex")) {
    at += 3;
    DWORD type = REG_BINARY;
    if (at < line.size() && line[at] == '(') {
      char* end = nullptr;
      type = static_cast<DWORD>(std::strtoul(line.c_str() + at + 1, &end, 16));
      if (*end != ')') return false;
      at = static_cast<std::size_t>(end - line.c_str()) + 1;
    }
    if (at >= line.size() || line[at] != ':' || !ReadHexBytes(line, at + 1, &v.bytes)) return false;
    v.type = type;
    if (type == REG_SZ) v.text = FromUtf16Le(v.bytes);
  } else if (at < line.size() && line[at] == '-') {
    for (std::size_t i = 0; i < key->values.size(); ++i)
      if (SameRegName(key->values[i].name, wname)) {
        key->values.erase(key->values.begin() + i);
        break;
      }
    return true;
  } else {
    return false;
  }
  *FindOrAddValue(key, wname) = v;
  return true;
}

// The key a section line names; false for another hive or a deletion.
bool SectionPath(const std::string& line, std::wstring* path) {
  const std::size_t close = line.rfind(']');
  if (close == std::string::npos || close < 1) return false;
  std::string inside = line.substr(1, close - 1);
  if (!StartsWithNoCase(inside, 0, kRoot)) return false;
  std::size_t at = std::strlen(kRoot);
  if (at < inside.size() && inside[at] != '\\') return false;
  while (at < inside.size() && inside[at] == '\\') ++at;
  std::string rest = inside.substr(at);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  *path = Decode(rest);
  return true;
}

// One line of the file as read (a value continued over several lines counts
// as one): where it lies, and the key and value it belongs to.
struct TextLine {
  std::size_t begin, end;  // bytes, the line breaks included
  int key = -1;            // index of the key whose section holds it; -1 for none
  bool isValue = false;    // it sets or deletes the value named value
  std::wstring value;
  bool openEnded = false;  // a value line ending in a backslash: what follows may join it
};

void ParseLines(const std::string& text, std::vector<RegKey>* keys, std::vector<TextLine>* lines) {
  keys->clear();
  int current = -1;
  std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (lines) lines->clear();
  while (pos < text.size()) {
    // A byte-order mark stays with the first line.
    TextLine record{lines && lines->empty() ? 0 : pos, 0, -1, false, {}, false};
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    auto trim = [](std::string* s) {
      while (!s->empty() && (s->back() == '\r' || s->back() == ' ' || s->back() == '\t'))
        s->pop_back();
      std::size_t lead = 0;
      while (lead < s->size() && ((*s)[lead] == ' ' || (*s)[lead] == '\t')) ++lead;
      s->erase(0, lead);
    };
    trim(&line);
    // hex data may go on over lines that end in a backslash; a blank line, a
    // section, a value or a comment is never more of it (so nothing written
    // behind a line cut off in the middle is taken into it)
    while (!line.empty() && (line[0] == '"' || line[0] == '@') && line.back() == '\\' &&
           pos < text.size()) {
      end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string more = text.substr(pos, end - pos);
      trim(&more);
      if (more.empty() || more[0] == '[' || more[0] == '"' || more[0] == '@' || more[0] == ';')
        break;
      pos = end + 1;
      line.pop_back();
      line += more;
    }
    record.end = pos < text.size() ? pos : text.size();
    record.openEnded = !line.empty() && (line[0] == '"' || line[0] == '@') && line.back() == '\\';
    if (line.empty() || line[0] == ';') {
      // a comment or a blank line: nobody's
    } else if (line[0] == '[') {
      std::wstring path;
      current = -1;
      if (SectionPath(line, &path)) {
        for (std::size_t i = 0; i < keys->size(); ++i)
          if (SameRegName((*keys)[i].path, path)) current = static_cast<int>(i);
        if (current < 0) {
          keys->push_back(RegKey{});
          keys->back().path = path;
          current = static_cast<int>(keys->size() - 1);
        }
        record.key = current;
      }
    } else if (current >= 0 && (line[0] == '"' || line[0] == '@')) {
      if (ParseValueLine(line, &(*keys)[static_cast<std::size_t>(current)], &record.value)) {
        record.key = current;
        record.isValue = true;
      }
    }
    if (lines) lines->push_back(record);
  }
  if (lines && lines->empty() && pos > 0) lines->push_back(TextLine{0, pos, -1, false, {}, false});
}

const RegValue* FindValueIn(const RegKey& key, const std::wstring& name) {
  for (const RegValue& v : key.values)
    if (SameRegName(v.name, name)) return &v;
  return nullptr;
}

bool SameValue(const RegValue& a, const RegValue& b) {
  if (a.type != b.type || a.name != b.name) return false;
  if (a.type == REG_SZ) return a.text == b.text;
  if (a.type == REG_DWORD && a.bytes.empty() && b.bytes.empty()) return a.number == b.number;
  return a.bytes == b.bytes;
}

// One value as a line of the file, without its line break.
std::string FormatValue(const RegValue& v) {
  std::string out;
  char buf[32];
  if (v.name.empty()) {
    out += "@=";
  } else {
    out += '"';
    for (char c : Encode(v.name)) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    out += "\"=";
  }
  bool plain = v.type == REG_SZ;
  for (WCHAR c : v.text)
    if (c < 0x20) plain = false;  // a line break would end the line
  if (v.type == REG_SZ && plain) {
    out += '"';
    for (char c : Encode(v.text)) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    out += '"';
  } else if (v.type == REG_SZ) {
    out += "hex(1):";
    PutUtf16Le(&out, v.text);
  } else if (v.type == REG_DWORD && v.bytes.empty()) {
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.number));
    out += buf;
  } else {
    if (v.type == REG_BINARY) {
      out += "hex:";
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
      out += buf;
    }
    for (std::size_t i = 0; i < v.bytes.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", v.bytes[i]);
      out += buf;
    }
  }
  return out;
}

}  // namespace

bool SameRegName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool IsBelow(const std::wstring& path, const std::wstring& parent) {
  if (parent.empty()) return !path.empty();
  return path.size() > parent.size() && path[parent.size()] == L'\\' &&
         SameRegName(path.substr(0, parent.size()), parent);
}

void ParseRegistryText(const std::string& text, std::vector<RegKey>* keys) {
  ParseLines(text, keys, nullptr);
}

std::string FormatRegistryText(const std::string& original, const std::vector<RegKey>& keys) {
  std::vector<RegKey> old;
  std::vector<TextLine> lines;
  ParseLines(original, &old, &lines);
  const std::string eol = original.find("\r\n") < original.find('\n') ? "\r\n" : "\n";

  // Each key of the file: its new state (null when removed), the last line
  // of its sections (where new values go) and the values it gained.
  std::vector<const RegKey*> now(old.size(), nullptr);
  for (std::size_t i = 0; i < old.size(); ++i)
    for (const RegKey& k : keys)
      if (SameRegName(k.path, old[i].path)) now[i] = &k;
  std::vector<std::size_t> lastLine(old.size(), 0);
  for (std::size_t l = 0; l < lines.size(); ++l)
    if (lines[l].key >= 0) lastLine[static_cast<std::size_t>(lines[l].key)] = l;
  // A value whose state changed loses every line that set or deleted it; its
  // new line takes the place of the last of them.
  auto changed = [&](int key, const std::wstring& name) {
    const RegValue* before = FindValueIn(old[static_cast<std::size_t>(key)], name);
    const RegValue* after = FindValueIn(*now[static_cast<std::size_t>(key)], name);
    return !(before && after && SameValue(*before, *after)) && (before || after);
  };
  auto lastLineOf = [&](int key, const std::wstring& name) {
    std::size_t last = lines.size();
    for (std::size_t l = 0; l < lines.size(); ++l)
      if (lines[l].key == key && lines[l].isValue && SameRegName(lines[l].value, name)) last = l;
    return last;
  };

  std::string out;
  if (original.empty()) out = std::string(kHeader) + eol;
  // The last line written was kept from the file and ends open (a value line
  // ending in a backslash); lastKept is its index.
  bool openEnded = false;
  std::size_t lastKept = lines.size();
  auto put = [&](const std::string& made) {
    out += made + eol;
    openEnded = false;  // a made line starts a value and never ends in a backslash
  };
  for (std::size_t l = 0; l < lines.size(); ++l) {
    const TextLine& line = lines[l];
    const RegKey* key = line.key >= 0 ? now[static_cast<std::size_t>(line.key)] : nullptr;
    if (line.key >= 0 && !key) continue;  // the key is gone, and its lines with it
    if (line.key >= 0 && line.isValue && changed(line.key, line.value)) {
      if (lastLineOf(line.key, line.value) == l)
        if (const RegValue* v = FindValueIn(*key, line.value)) put(FormatValue(*v));
    } else {
      // A line that now follows an open-ended one it did not follow before
      // would be read as more of it: a blank line keeps them apart.
      if (openEnded && lastKept + 1 != l) out += eol;
      out.append(original, line.begin, line.end - line.begin);
      if (out.empty() || out.back() != '\n') out += eol;
      lastKept = l;
      openEnded = line.openEnded;
    }
    if (line.key < 0 || lastLine[static_cast<std::size_t>(line.key)] != l) continue;
    for (const RegValue& v : key->values)
      if (!FindValueIn(old[static_cast<std::size_t>(line.key)], v.name) &&
          lastLineOf(line.key, v.name) == lines.size())
        put(FormatValue(v));
  }
  for (const RegKey& k : keys) {
    bool known = false;
    for (const RegKey& o : old) known = known || SameRegName(o.path, k.path);
    if (known) continue;
    // One blank line before the section; one left by a removed key will do.
    const bool blank = out.size() >= 2 * eol.size() &&
                       out.compare(out.size() - 2 * eol.size(), 2 * eol.size(), eol + eol) == 0;
    if (!blank) out += eol;
    out += '[';
    out += kRoot;
    if (!k.path.empty()) {
      out += '\\';
      out += Encode(k.path);
    }
    out += ']';
    out += eol;
    for (const RegValue& v : k.values) out += FormatValue(v) + eol;
  }
  return out;
}

void ReleaseRegistry() {
  if (t_lockFd >= 0) ::close(t_lockFd);  // closing drops the flock
  t_lockFd = -1;
}

LSTATUS LoadRegistry(RegistrySnapshot* snapshot, bool forWriting) {
  snapshot->file.clear();
  snapshot->devices.clear();
  AddUsbSerialPortKeys(&snapshot->devices);
  const std::string path = RegistryPath();
  ReleaseRegistry();
  const std::string lockPath = path + ".lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 && errno == ENOENT) {
    if (!forWriting && ::access(path.c_str(), F_OK) != 0) return ERROR_SUCCESS;  // nothing yet
    MakeParentDirs(path);
    lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  // A read-only place still reads; only writing needs the lock file.
  if (lock < 0 && forWriting) return ERROR_ACCESS_DENIED;
  if (lock >= 0) {
    while (::flock(lock, forWriting ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
  }
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno != ENOENT) {
    if (lock >= 0) ::close(lock);
    return ERROR_ACCESS_DENIED;
  }
  if (fd >= 0) {
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    if (n < 0) {
      if (lock >= 0) ::close(lock);
      return ERROR_ACCESS_DENIED;
    }
  }
  if (forWriting) {
    t_lockFd = lock;
  } else if (lock >= 0) {
    ::close(lock);
  }
  ParseRegistryText(text, &snapshot->file);
  DropEntriesOfGoneOwners(&snapshot->file);
  snapshot->text = std::move(text);
  return ERROR_SUCCESS;
}

LSTATUS SaveRegistry(const RegistrySnapshot& snapshot) {
  const std::string path = RegistryPath();
  const std::string temp = path + ".tmp";  // one writer at a time holds the lock
  const std::string text = FormatRegistryText(snapshot.text, snapshot.file);
  LSTATUS status = ERROR_SUCCESS;
  // The PIN is in there and the key that scrambles it can be worked out by
  // anyone: the file is the user's alone. A mode the user gave it stays, but
  // never with access for others, and never without our own.
  struct stat old;
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? ((old.st_mode & 0700) | 0600) : 0600;
  ::unlink(temp.c_str());  // a crashed writer's, with whatever mode it had
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || ::fchmod(fd, mode) != 0) {
    if (fd >= 0) {
      ::close(fd);
      ::unlink(temp.c_str());
    }
    status = ERROR_ACCESS_DENIED;
  } else {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (done < text.size()) status = ERROR_DISK_FULL;
    if (status == ERROR_SUCCESS && ::fsync(fd) != 0) status = ERROR_DISK_FULL;
    ::close(fd);
    if (status == ERROR_SUCCESS && ::rename(temp.c_str(), path.c_str()) != 0)
      status = ERROR_ACCESS_DENIED;
    if (status == ERROR_SUCCESS) SyncParentDir(path);
    if (status != ERROR_SUCCESS) ::unlink(temp.c_str());
  }
  ReleaseRegistry();
  return status;
}

bool RegistryFileProblem(char* out, std::size_t cap) {
  const std::string path = RegistryPath();
  struct stat st;
  int error = 0;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return false;  // nothing kept yet
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd < 0) {
    error = errno;
  } else {
    ::close(fd);
    return false;
  }
  std::snprintf(out, cap, "%s: %s", path.c_str(), std::strerror(error));
  return true;
}
