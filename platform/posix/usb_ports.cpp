// The USB serial ports the kernel shows, published under
// HKEY_LOCAL_MACHINE\Drivers\Active as the handheld's device manager would:
// one subkey per port (named after its tty), with "Key" =
// "Drivers\USB\LoadClients\<vendor>_<product>_Default\0\RS232_USB" (the USB
// ids as decimal numbers) and "Name" = its /dev node. Found in sysfs: each
// /sys/class/tty/*/device, walked up to the USB device that has idVendor and
// idProduct. $PALVO_SYSFS_ROOT replaces /sys (tests give a fake tree).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_internal.h"
#include "platform/posix/registry_store.h"

namespace {

constexpr int kMaxPorts = 32;

struct UsbSerialPort {
  char tty[64];
  unsigned vendor, product;
};

bool ReadHexFile(const char* dir, const char* name, unsigned* value) {
  char path[PATH_MAX + 16];
  std::snprintf(path, sizeof path, "%s/%s", dir, name);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[16] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (end == text || v > 0xFFFF) return false;
  *value = static_cast<unsigned>(v);
  return true;
}

// Walks up from the tty's device to the USB device above it, not leaving root.
bool FindUsbIds(const char* device, const char* root, UsbSerialPort* port) {
  char dir[PATH_MAX];
  if (!::realpath(device, dir)) return false;
  const std::size_t rootLength = std::strlen(root);
  for (;;) {
    if (ReadHexFile(dir, "idVendor", &port->vendor) &&
        ReadHexFile(dir, "idProduct", &port->product))
      return true;
    char* slash = std::strrchr(dir, '/');
    if (!slash || static_cast<std::size_t>(slash - dir) <= rootLength) return false;
    *slash = 0;
  }
}

int FindUsbSerialPorts(UsbSerialPort* ports, int max) {
  const char* given = std::getenv("PALVO_SYSFS_ROOT");
  char root[PATH_MAX];
  if (!::realpath(given && *given ? given : "/sys", root)) return 0;
  char classDir[PATH_MAX + 16];
  std::snprintf(classDir, sizeof classDir, "%s/class/tty", root);
  DIR* d = ::opendir(classDir);
  if (!d) return 0;
  int count = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' || std::strlen(e->d_name) >= sizeof ports[0].tty) continue;
    char device[PATH_MAX + 320];
    std::snprintf(device, sizeof device, "%s/%s/device", classDir, e->d_name);
    UsbSerialPort port;
    if (!FindUsbIds(device, root, &port)) continue;
    std::strcpy(port.tty, e->d_name);
    // Kept sorted by name, so the order does not depend on the directory's.
    int at = count < max ? count : max - 1;
    if (count == max && std::strcmp(port.tty, ports[at].tty) > 0) continue;
    while (at > 0 && std::strcmp(port.tty, ports[at - 1].tty) < 0) {
      ports[at] = ports[at - 1];
      --at;
    }
    ports[at] = port;
    if (count < max) ++count;
  }
  ::closedir(d);
  return count;
}

RegValue TextValue(const wchar_t* name, const char* utf8) {
  RegValue v;
  v.name = name;
  v.type = REG_SZ;
  WCHAR wide[MAX_PATH];
  Utf8ToWide(utf8, std::strlen(utf8), wide, MAX_PATH, true);
  v.text = wide;
  return v;
}

}  // namespace

void AddUsbSerialPortKeys(std::vector<RegKey>* keys) {
  UsbSerialPort ports[kMaxPorts];
  const int n = FindUsbSerialPorts(ports, kMaxPorts);
  for (int i = 0; i < n; ++i) {
    char driverKey[128], node[96];
    std::snprintf(driverKey, sizeof driverKey,
                  "Drivers\\USB\\LoadClients\\%u_%u_Default\\0\\RS232_USB", ports[i].vendor,
                  ports[i].product);
    std::snprintf(node, sizeof node, "/dev/%.63s", ports[i].tty);
    RegKey active;
    WCHAR name[64];
    Utf8ToWide(ports[i].tty, std::strlen(ports[i].tty), name, 64, true);
    active.path = std::wstring(L"Drivers\\Active\\") + name;
    active.values.push_back(TextValue(L"Key", driverKey));
    active.values.push_back(TextValue(L"Name", node));
    active.readOnly = true;
    keys->push_back(active);
    // The driver's own key exists too (the PIN is kept there).
    RegKey driver;
    driver.path = TextValue(L"", driverKey).text;
    keys->push_back(driver);
  }
}
