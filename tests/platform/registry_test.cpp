// The file-backed registry: its text, hand-written files, letter case,
// enumeration order, two writers, crashes, and ports found in sysfs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "palvo-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir = templ;
    file = dir / "state" / "registry.reg";
    ::setenv("PALVO_REGISTRY", file.c_str(), 1);
    ::setenv("PALVO_SYSFS_ROOT", (dir / "sys").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("PALVO_SYSFS_ROOT");
    fs::remove_all(dir);
  }

  void Write(const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string Text() {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static HKEY Open(const WCHAR* path) {
    HKEY key = nullptr;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS
               ? key
               : nullptr;
  }
  static HKEY Create(const WCHAR* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    DWORD d = 0;
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &d),
        ERROR_SUCCESS);
    if (disposition) *disposition = d;
    return key;
  }
  static LSTATUS SetText(HKEY key, const WCHAR* name, const WCHAR* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR)));
  }
  static std::wstring GetText(const WCHAR* path, const WCHAR* name) {
    HKEY key = Open(path);
    if (!key) return L"<no key>";
    WCHAR buf[MAX_PATH];
    DWORD bytes = sizeof buf, type = 0;
    const LSTATUS s =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes);
    RegCloseKey(key);
    if (s != ERROR_SUCCESS) return L"<error " + std::to_wstring(s) + L">";
    return type == REG_SZ ? std::wstring(buf) : L"<type>";
  }
  static std::vector<std::wstring> Subkeys(const WCHAR* path) {
    std::vector<std::wstring> names;
    HKEY key = Open(path);
    if (!key) return names;
    WCHAR name[MAX_PATH];
    for (DWORD i = 0;; ++i) {
      DWORD n = MAX_PATH;
      if (RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    RegCloseKey(key);
    return names;
  }

  static std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
  }

  fs::path dir, file;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFileText) {
  DWORD disposition = 0;
  HKEY key = Create(L"Drivers\\Builtin\\01", &disposition);  // folders made on the way
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(SetText(key, L"Key", L"Drivers\\USB\\\"q\" 暗証"), ERROR_SUCCESS);
  const DWORD word = 0xABCD;
  EXPECT_EQ(
      RegSetValueExW(key, L"PalvoPass", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word), 4),
      ERROR_SUCCESS);
  const BYTE blob[3] = {1, 0xFE, 0};
  EXPECT_EQ(RegSetValueExW(key, L"Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
  EXPECT_EQ(SetText(key, L"Lines", L"a\r\nb"), ERROR_SUCCESS);
  RegCloseKey(key);

  EXPECT_EQ(Text(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\Builtin\\01]\n"
            "\"Key\"=\"Drivers\\\\USB\\\\\\\"q\\\" 暗証\"\n"
            "\"PalvoPass\"=dword:0000abcd\n"
            "\"Blob\"=hex:01,fe,00\n"
            "\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n");

  key = Open(L"Drivers\\Builtin\\01");
  ASSERT_NE(key, nullptr);
  DWORD type = 0, bytes = 0;
  // Sizes first: WCHAR units with the terminator, in bytes.
  EXPECT_EQ(RegQueryValueExW(key, L"Key", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, (std::wcslen(L"Drivers\\USB\\\"q\" 暗証") + 1) * sizeof(WCHAR));
  WCHAR small[4];
  bytes = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, L"Key", nullptr, &type, reinterpret_cast<BYTE*>(small), &bytes),
            ERROR_MORE_DATA);
  EXPECT_EQ(bytes, (std::wcslen(L"Drivers\\USB\\\"q\" 暗証") + 1) * sizeof(WCHAR));
  DWORD read = 0;
  bytes = sizeof read;
  EXPECT_EQ(
      RegQueryValueExW(key, L"PalvoPass", nullptr, &type, reinterpret_cast<BYTE*>(&read), &bytes),
      ERROR_SUCCESS);
  EXPECT_EQ(read, word);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  BYTE got[8];
  bytes = sizeof got;
  EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, got, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 3u);
  EXPECT_EQ(got[1], 0xFE);
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, got, &bytes), ERROR_FILE_NOT_FOUND);
  // A DWORD of another size than 4 bytes is kept as given, not cut.
  const BYTE wide[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(RegSetValueExW(key, L"Odd", 0, REG_DWORD, wide, 8), ERROR_SUCCESS);
  bytes = sizeof got;
  EXPECT_EQ(RegQueryValueExW(key, L"Odd", nullptr, &type, got, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 8u);
  EXPECT_EQ(got[7], 8);
  RegCloseKey(key);
  EXPECT_EQ(GetText(L"Drivers\\Builtin\\01", L"Key"), L"Drivers\\USB\\\"q\" 暗証");
  EXPECT_EQ(GetText(L"Drivers\\Builtin\\01", L"Lines"), L"a\r\nb");
}

TEST_F(RegistryTest, HandWrittenFilesAreReadLeniently) {
  const std::string original =
      "\xEF\xBB\xBF; written by hand, no header\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\02]\r\n"
      "\"Key\"=\"Drivers\\\\USB\\\\LoadClients\\\\1154_515_Default\\\\0\\\\RS232_USB\"\r\n"
      "  \"Name\" = \"COM3:\"\r\n"
      "@=\"default\"\r\n"
      "\"Count\"=dword:0000ABCD\r\n"
      "this line means nothing\r\n"
      "[HKEY_CURRENT_USER\\Drivers\\Active\\99]\r\n"
      "\"Key\"=\"not ours\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01\\]\r\n"
      "\"Data\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "[hkey_local_machine\\drivers\\active\\02]\r\n"
      "\"Name\"=\"COM4:\"\r\n";
  Write(original);
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", L"Name"), L"COM4:");  // one key, later wins
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", L""), L"default");
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", nullptr), L"default");
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", L"Key"),
            L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB");
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"02", L"01"}));
  HKEY key = Open(L"Drivers\\Active\\01");
  ASSERT_NE(key, nullptr);
  BYTE data[8];
  DWORD bytes = sizeof data, count = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Data", nullptr, nullptr, data, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 3u);
  EXPECT_EQ(data[2], 3);
  RegCloseKey(key);
  key = Open(L"Drivers\\Active\\02");
  bytes = sizeof count;
  EXPECT_EQ(
      RegQueryValueExW(key, L"Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &bytes),
      ERROR_SUCCESS);
  EXPECT_EQ(count, 0xABCDu);
  // Changing one value keeps the rest of what was written by hand.
  EXPECT_EQ(SetText(key, L"NAME", L"COM5:"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", L"Name"), L"COM5:");
  EXPECT_EQ(GetText(L"Drivers\\Active\\02", L"Key"),
            L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB");
  // Both lines that set the value go; the new one stands where the last did,
  // in the file's own line breaks. Comments, the other hive and the line
  // that means nothing stay.
  std::string expected = original;
  const std::string first = "  \"Name\" = \"COM3:\"\r\n";
  expected.erase(expected.find(first), first.size());
  expected.replace(expected.find("COM4:"), 5, "COM5:");
  EXPECT_EQ(Text(), expected);
}

TEST_F(RegistryTest, LetterCaseEnumerationAndDeletion) {
  for (const WCHAR* path : {L"Drivers\\Active\\B", L"Drivers\\Active\\a", L"drivers\\ACTIVE\\c",
                            L"Drivers\\Active\\b\\deeper"})
    RegCloseKey(Create(path));
  DWORD disposition = 0;
  RegCloseKey(Create(L"DRIVERS\\active\\A", &disposition));
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  // First appearance order; existing spelling kept for new keys.
  EXPECT_EQ(Subkeys(L"drivers\\active"), (std::vector<std::wstring>{L"B", L"a", L"c"}));
  EXPECT_EQ(Subkeys(L""), (std::vector<std::wstring>{L"Drivers"}));

  HKEY active = Open(L"Drivers\\Active");
  ASSERT_NE(active, nullptr);
  WCHAR name[2];
  DWORD n = 2;
  EXPECT_EQ(RegEnumKeyExW(active, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(n, 1u);
  n = 1;
  EXPECT_EQ(RegEnumKeyExW(active, 0, name, &n, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  n = 2;
  EXPECT_EQ(RegEnumKeyExW(active, 3, name, &n, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(RegDeleteKeyW(active, L"b"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(RegDeleteKeyW(active, L"B\\Deeper"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(active, L"b"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(active, L"b"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"a", L"c"}));
  // Enumerating by index 0 while deleting empties the key.
  for (;;) {
    n = 2;
    if (RegEnumKeyExW(active, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    ASSERT_EQ(RegDeleteKeyW(active, name), ERROR_SUCCESS);
  }
  EXPECT_TRUE(Subkeys(L"Drivers\\Active").empty());
  RegCloseKey(active);

  HKEY key = Create(L"Drivers\\X");
  EXPECT_EQ(SetText(key, L"v", L"1"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"v"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetText(key, L"two\nlines", L"1"), ERROR_INVALID_PARAMETER);  // no name breaks a line
  HKEY drivers = Open(L"Drivers");
  EXPECT_EQ(RegDeleteKeyW(drivers, L"X"), ERROR_SUCCESS);
  RegCloseKey(drivers);
  // The handle outlives its key.
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &bytes), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Open(L"Drivers\\X"), nullptr);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  RegCloseKey(Create(L"Shared"));
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    if (children[c] == 0) {
      HKEY key = Open(L"Shared");
      bool ok = key != nullptr;
      for (int i = 0; i < 40 && ok; ++i) {
        const std::wstring name = L"p" + std::to_wstring(c) + L"_" + std::to_wstring(i);
        ok = SetText(key, name.c_str(), L"x") == ERROR_SUCCESS;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // The other processes' writes are seen without reopening anything.
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < 40; ++i) {
      const std::wstring name = L"p" + std::to_wstring(c) + L"_" + std::to_wstring(i);
      EXPECT_EQ(GetText(L"Shared", name.c_str()), L"x") << c << " " << i;
    }
}

TEST_F(RegistryTest, AWriterKilledMidWriteLeavesAWholeFile) {
  HKEY key = Create(L"Big");
  const std::wstring a(20000, L'a'), b(20000, L'b');
  ASSERT_EQ(SetText(key, L"v", a.c_str()), ERROR_SUCCESS);
  const pid_t child = ::fork();
  if (child == 0) {
    for (;;) {
      SetText(key, L"v", b.c_str());
      SetText(key, L"v", a.c_str());
    }
  }
  Sleep(300);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  RegCloseKey(key);
  HKEY again = Open(L"Big");
  ASSERT_NE(again, nullptr);
  std::wstring value(20001, L'\0');
  DWORD bytes = static_cast<DWORD>(value.size() * sizeof(WCHAR));
  ASSERT_EQ(RegQueryValueExW(again, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                             &bytes),
            ERROR_SUCCESS);
  value.resize(20000);
  EXPECT_TRUE(value == a || value == b);
  RegCloseKey(again);
}

TEST_F(RegistryTest, UsbSerialPortsFromSysfsFollowTheFilesOwnDrivers) {
  // A fake sysfs: one USB modem, one on-board UART, one virtual console.
  const fs::path sys = dir / "sys";
  const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/tty/ttyACM0");
  std::ofstream(usb / "idVendor") << "0482\n";
  std::ofstream(usb / "idProduct") << "0203\n";
  fs::create_directories(sys / "devices/platform/serial8250/tty/ttyS0");
  fs::create_directories(sys / "class/tty");
  fs::create_directory_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0",
                               sys / "class/tty/ttyACM0");
  fs::create_directory_symlink("../../../1-2:1.0", usb / "1-2:1.0/tty/ttyACM0/device");
  fs::create_directory_symlink("../../devices/platform/serial8250/tty/ttyS0",
                               sys / "class/tty/ttyS0");
  fs::create_directory_symlink("../../../serial8250",
                               sys / "devices/platform/serial8250/tty/ttyS0/device");
  fs::create_directories(sys / "class/tty/tty0");

  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"ttyACM0"}));
  RegCloseKey(Create(L"Drivers\\Active\\01"));
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"01", L"ttyACM0"}));
  const WCHAR* driverKey = L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB";
  EXPECT_EQ(GetText(L"Drivers\\Active\\ttyACM0", L"Key"), driverKey);
  EXPECT_EQ(GetText(L"Drivers\\Active\\ttyACM0", L"Name"), L"/dev/ttyACM0");

  // The port's entry is the kernel's; the driver's own key takes values.
  HKEY entry = Open(L"Drivers\\Active\\ttyACM0");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(SetText(entry, L"Name", L"COM9:"), ERROR_ACCESS_DENIED);
  RegCloseKey(entry);
  HKEY active = Open(L"Drivers\\Active");
  EXPECT_EQ(RegDeleteKeyW(active, L"ttyACM0"), ERROR_ACCESS_DENIED);
  RegCloseKey(active);
  HKEY driver = Open(driverKey);
  ASSERT_NE(driver, nullptr);
  const DWORD pin = 42;
  EXPECT_EQ(
      RegSetValueExW(driver, L"PalvoPass", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pin), 4),
      ERROR_SUCCESS);
  RegCloseKey(driver);
  EXPECT_NE(Text().find("[HKEY_LOCAL_MACHINE\\Drivers\\USB\\LoadClients\\1154_515_Default\\0\\"
                        "RS232_USB]\n\"PalvoPass\"=dword:0000002a"),
            std::string::npos);

  // Unplugged: the entry goes, what the file holds stays.
  fs::remove(sys / "class/tty/ttyACM0");
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"01"}));
  EXPECT_NE(Open(driverKey), nullptr);
}

TEST_F(RegistryTest, TheFileIsTheUsersAloneOnEveryWrite) {
  const mode_t umask = ::umask(022);
  auto modeOf = [](const fs::path& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  };
  RegCloseKey(Create(L"Drivers\\X"));
  EXPECT_EQ(modeOf(file), 0600);
  EXPECT_EQ(modeOf(file.parent_path()), 0700);  // made here
  EXPECT_EQ(modeOf(dir), 0700);                 // there before: mkdtemp's, left alone

  // A file an earlier version left readable, and a crashed writer's temporary
  // file of any mode: the next write is private again.
  ::chmod(file.c_str(), 0644);
  std::ofstream(file.string() + ".tmp") << "stale";
  ::chmod((file.string() + ".tmp").c_str(), 0666);
  HKEY key = Open(L"Drivers\\X");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(SetText(key, L"a", L"1"), ERROR_SUCCESS);
  EXPECT_EQ(modeOf(file), 0600);
  // Owner bits the user chose stay; later writes keep the mode.
  ::chmod(file.c_str(), 0700);
  EXPECT_EQ(SetText(key, L"b", L"2"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"a"), ERROR_SUCCESS);
  EXPECT_EQ(modeOf(file), 0700);
  RegCloseKey(key);
  EXPECT_EQ(modeOf(file.string() + ".lock"), 0600);
  ::umask(umask);
}

TEST_F(RegistryTest, AHandEditedFileKeepsEveryLineItDidNotChange) {
  Write(
      "Windows Registry Editor Version 5.00\n"
      "; my handset, set up by hand\n"
      "[HKEY_LOCAL_MACHINE\\Keep]\n"
      "\"Old\"=\"x\"  ; a note after the value\n"
      "; about the next one\n"
      "\"Gone\"=dword:00000001\n"
      "\n"
      "[-HKEY_LOCAL_MACHINE\\Deleted]\n"
      "[HKEY_LOCAL_MACHINE\\Drop]\n"
      "; about Drop\n"
      "\"v\"=\"1\"\n"
      "[HKEY_USERS\\.DEFAULT\\Other]\n"
      "\"w\"=\"2\"");  // no line break at the end
  HKEY keep = Open(L"Keep");
  ASSERT_NE(keep, nullptr);
  EXPECT_EQ(RegDeleteValueW(keep, L"Gone"), ERROR_SUCCESS);
  EXPECT_EQ(SetText(keep, L"New", L"y"), ERROR_SUCCESS);
  RegCloseKey(keep);
  HKEY root = Open(L"");
  EXPECT_EQ(RegDeleteKeyW(root, L"Drop"), ERROR_SUCCESS);
  RegCloseKey(root);
  RegCloseKey(Create(L"Added"));
  EXPECT_EQ(Text(),
            "Windows Registry Editor Version 5.00\n"
            "; my handset, set up by hand\n"
            "[HKEY_LOCAL_MACHINE\\Keep]\n"
            "\"Old\"=\"x\"  ; a note after the value\n"
            "\"New\"=\"y\"\n"  // behind the key's last value
            "; about the next one\n"
            "\n"
            "[-HKEY_LOCAL_MACHINE\\Deleted]\n"
            "; about Drop\n"
            "[HKEY_USERS\\.DEFAULT\\Other]\n"
            "\"w\"=\"2\"\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Added]\n");
  EXPECT_EQ(GetText(L"Keep", L"Old"), L"x");

  // A key that comes and goes (a driver entry) leaves the file as it was.
  const std::string before = Text();
  for (int i = 0; i < 3; ++i) {
    RegCloseKey(Create(L"Comes\\AndGoes"));
    HKEY comes = Open(L"Comes");
    EXPECT_EQ(RegDeleteKeyW(comes, L"AndGoes"), ERROR_SUCCESS);
    RegCloseKey(comes);
  }
  EXPECT_EQ(Text(), before + "\n");  // one blank line, kept for the next
}

TEST_F(RegistryTest, ADriverEntryLivesAsLongAsTheProcessThatMadeIt) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t driver = ::fork();
  if (driver == 0) {
    HKEY key = Create(L"Drivers\\Active\\01");
    SetText(key, L"Key", L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB");
    SetText(key, L"Name", L"/dev/pts/77");
    RegCloseKey(key);
    ::write(ready[1], "r", 1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"01"}));
  EXPECT_EQ(GetText(L"Drivers\\Active\\01", L"Name"), L"/dev/pts/77");

  ::kill(driver, SIGKILL);
  // Dead but not yet reaped: a zombie holds no port any more.
  for (int i = 0; i < 100 && !Subkeys(L"Drivers\\Active").empty(); ++i) Sleep(10);
  EXPECT_TRUE(Subkeys(L"Drivers\\Active").empty());
  EXPECT_EQ(Open(L"Drivers\\Active\\01"), nullptr);
  ::waitpid(driver, nullptr, 0);
  EXPECT_TRUE(Subkeys(L"Drivers\\Active").empty());
  EXPECT_NE(Text().find("/dev/pts/77"), std::string::npos);  // until the next write

  // Entries by hand: none with an owner stays; owners of another boot, or a
  // pid now held by another process, are gone.
  std::string text = Text();
  text +=
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\03]\n\"Name\"=\"/dev/ttyUSB0\"\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\04]\n"
      "\"Owner\"=\"pid=1 start=1 boot=00000000-0000-0000-0000-000000000000\"\n"
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\05]\n\"Owner\"=\"pid=" +
      std::to_string(::getpid()) + " start=1 boot=" + BootId() + "\"\n" +
      "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\05\\Sub]\n";
  Write(text);
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"03"}));

  // The next write, whoever makes it, takes the dead entries out of the file;
  // a new entry may take a dead one's number.
  RegCloseKey(Create(L"Drivers\\Active\\01"));
  EXPECT_EQ(Subkeys(L"Drivers\\Active"), (std::vector<std::wstring>{L"01", L"03"}));
  text = Text();
  EXPECT_EQ(text.find("/dev/pts/77"), std::string::npos);
  EXPECT_EQ(text.find("\\04]"), std::string::npos);
  EXPECT_EQ(text.find("\\05"), std::string::npos);
  EXPECT_NE(text.find("\"Owner\"=\"pid=" + std::to_string(::getpid()) + " "), std::string::npos);
}
