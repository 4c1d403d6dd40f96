// The owner of a driver entry under HKEY_LOCAL_MACHINE\Drivers\Active. The
// handheld's device manager removes an entry when its driver unloads and
// rebuilds the key at boot; here the entry names the process that made it
// and lives as long as that process. A pid alone is not enough: pids are
// reused, so the process's start time (clock ticks since boot, from
// /proc/<pid>/stat) and the boot id go with it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/posix/registry_store.h"

namespace {

const WCHAR kActive[] = L"Drivers\\Active";
const WCHAR kOwnerValue[] = L"Owner";

struct Identity {
  long pid;
  unsigned long long start;
  char boot[40];
};

// Reads a small /proc file whole; false when it is missing or empty.
bool ReadSmallFile(const char* path, char* text, std::size_t cap) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::read(fd, text, cap - 1);
  ::close(fd);
  if (n <= 0) return false;
  text[n] = 0;
  return true;
}

bool BootId(char* boot, std::size_t cap) {
  char text[64];
  if (!ReadSmallFile("/proc/sys/kernel/random/boot_id", text, sizeof text)) return false;
  text[std::strcspn(text, "\n")] = 0;
  if (!text[0] || std::strlen(text) >= cap) return false;
  std::strcpy(boot, text);
  return true;
}

// The start time of a running process; false when there is none with that
// pid, or only its corpse (a zombie has closed everything it held).
bool StartTimeOf(long pid, unsigned long long* start) {
  char path[64], text[1024];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  if (!ReadSmallFile(path, text, sizeof text)) return false;
  // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
  const char* rest = std::strrchr(text, ')');
  if (!rest) return false;
  char state = 0;
  unsigned long long value = 0;
  // Field 3 is the state, field 22 the start time.
  if (std::sscanf(rest + 1,
                  " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                  "%*s %*s %llu",
                  &state, &value) != 2)
    return false;
  if (state == 'Z' || state == 'X') return false;
  *start = value;
  return true;
}

bool ParseOwner(const std::wstring& text, Identity* id) {
  char narrow[128];
  if (text.size() >= sizeof narrow) return false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const WCHAR c = i < text.size() ? text[i] : 0;
    if (c > 0x7E) return false;
    narrow[i] = static_cast<char>(c);
  }
  return std::sscanf(narrow, "pid=%ld start=%llu boot=%39s", &id->pid, &id->start, id->boot) == 3 &&
         id->pid > 0;
}

bool OwnerAlive(const std::wstring& text) {
  Identity owner, now;
  // An owner we cannot read or check is taken for gone: showing a dead
  // driver's port could send the hello frame into someone's terminal.
  if (!ParseOwner(text, &owner) || !BootId(now.boot, sizeof now.boot)) return false;
  if (std::strcmp(owner.boot, now.boot) != 0) return false;
  return StartTimeOf(owner.pid, &now.start) && now.start == owner.start;
}

const RegValue* OwnerOf(const RegKey& key) {
  for (const RegValue& v : key.values)
    if (SameRegName(v.name, kOwnerValue)) return &v;
  return nullptr;
}

}  // namespace

bool InActiveEntry(const std::wstring& path, std::wstring* entry) {
  if (!IsBelow(path, kActive)) return false;
  const std::size_t start = std::size(kActive);  // behind "Drivers\Active\"
  *entry = path.substr(0, path.find(L'\\', start));
  return true;
}

bool OwnerOfThisProcess(RegValue* owner) {
  Identity self;
  self.pid = static_cast<long>(::getpid());
  if (!BootId(self.boot, sizeof self.boot) || !StartTimeOf(self.pid, &self.start)) return false;
  char text[128];
  std::snprintf(text, sizeof text, "pid=%ld start=%llu boot=%s", self.pid, self.start, self.boot);
  owner->name = kOwnerValue;
  owner->type = REG_SZ;
  owner->text.assign(text, text + std::strlen(text));
  return true;
}

void DropEntriesOfGoneOwners(std::vector<RegKey>* keys) {
  std::vector<std::wstring> gone;
  for (const RegKey& k : *keys) {
    std::wstring entry;
    if (!InActiveEntry(k.path, &entry) || !SameRegName(entry, k.path)) continue;
    const RegValue* owner = OwnerOf(k);
    if (owner && (owner->type != REG_SZ || !OwnerAlive(owner->text))) gone.push_back(k.path);
  }
  std::erase_if(*keys, [&](const RegKey& k) {
    for (const std::wstring& g : gone)
      if (SameRegName(k.path, g) || IsBelow(k.path, g)) return true;
    return false;
  });
}
