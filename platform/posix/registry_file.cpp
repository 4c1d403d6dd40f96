// The registry file on disk: where it lives ($PALVO_REGISTRY, else
// $XDG_STATE_HOME/palvo/registry.reg, else ~/.local/state/palvo/registry.reg),
// and the lock and temporary-file-plus-rename (each synced) that keep two
// writers and a crash from damaging it. Its text is registry_text.cpp's.
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

}  // namespace

void ReleaseRegistry() {
  if (t_lockFd >= 0) ::close(t_lockFd);  // closing drops the flock
  t_lockFd = -1;
}

namespace {

// The lock file beside the registry file, locked shared for reading or
// exclusive for writing; -1 without one (a reader of a read-only place).
// *status: ERROR_FILE_NOT_FOUND when there is no file yet, else whether to go on.
int TakeLock(const std::string& path, bool forWriting, LSTATUS* status) {
  *status = ERROR_SUCCESS;
  const std::string lockPath = path + ".lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 && errno == ENOENT) {
    if (!forWriting && ::access(path.c_str(), F_OK) != 0) {
      *status = ERROR_FILE_NOT_FOUND;  // no file yet: an empty registry
      return -1;
    }
    MakeParentDirs(path);
    lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  // A read-only place still reads; only writing needs the lock file.
  if (lock < 0 && forWriting) *status = ERROR_ACCESS_DENIED;
  if (lock >= 0) {
    while (::flock(lock, forWriting ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
  }
  return lock;
}

// The whole file into *text; a missing file is empty.
bool ReadWhole(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text->append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

}  // namespace

LSTATUS LoadRegistry(RegistrySnapshot* snapshot, bool forWriting) {
  snapshot->file.clear();
  snapshot->devices.clear();
  AddUsbSerialPortKeys(&snapshot->devices);
  const std::string path = RegistryPath();
  ReleaseRegistry();
  LSTATUS status;
  const int lock = TakeLock(path, forWriting, &status);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  std::string text;
  if (!ReadWhole(path, &text)) {
    if (lock >= 0) ::close(lock);
    return ERROR_ACCESS_DENIED;
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
