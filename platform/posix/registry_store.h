// The registry behind RegOpenKeyExW and friends: HKEY_LOCAL_MACHINE kept as a
// .reg text file (UTF-8) that other programs and people may edit, plus the
// USB serial ports the kernel shows, which appear under Drivers\Active as a
// device manager would publish them. Every call loads the file afresh under
// a lock, so what another process wrote is seen at once; writes go to a
// temporary file renamed over the old one, so a crash leaves one or the other.
// The file holds the scrambled PIN: it is the user's alone (0600 in a 0700
// folder), and a write changes only the lines of what it changed.
//
// Drivers\Active is runtime state, as on the handheld where it is rebuilt at
// every boot: an entry created through RegCreateKeyExW belongs to the process
// that created it (value "Owner": its pid, start time and the boot id), and
// once that process is gone the entry is never shown and the next write
// removes it. A dead driver's /dev/pts number may by then be another
// program's terminal. Entries without an owner (written by hand) stay.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/win32_posix.h"

struct RegValue {
  std::wstring name;  // empty: the key's default value ("@")
  DWORD type = REG_NONE;
  std::wstring text;        // REG_SZ
  DWORD number = 0;         // REG_DWORD
  std::vector<BYTE> bytes;  // any other type, as given
};

struct RegKey {
  std::wstring path;  // below HKEY_LOCAL_MACHINE, components joined by '\', "" the root
  std::vector<RegValue> values;
  bool readOnly = false;  // a port the kernel shows: not ours to change
};

struct RegistrySnapshot {
  std::string text;             // the file as read: SaveRegistry keeps what did not change
  std::vector<RegKey> file;     // the file's live keys, in the order they first appear
  std::vector<RegKey> devices;  // keys made from the USB serial ports, after them
};

// Case-insensitive equality as the registry compares names.
bool SameRegName(const std::wstring& a, const std::wstring& b);
// Whether path lies below parent (parent "" is the root): "A\B" is below "a".
bool IsBelow(const std::wstring& path, const std::wstring& parent);

// Loads under the lock; ERROR_SUCCESS, or an error when the file exists but
// cannot be read. A missing file is an empty registry. With forWriting the
// lock is exclusive and held until SaveRegistry or ReleaseRegistry.
LSTATUS LoadRegistry(RegistrySnapshot* snapshot, bool forWriting);
LSTATUS SaveRegistry(const RegistrySnapshot& snapshot);  // then releases
void ReleaseRegistry();

// registry_text.cpp: parsing and writing the text, for tests too.
// Formatting starts from the text that was read and changes only the lines of
// keys and values that differ from it: comments, blank lines, other hives and lines it cannot
// read stay as they were; new values go to the end of their key's section,
// new keys to the end of the file.
void ParseRegistryText(const std::string& text, std::vector<RegKey>* keys);
std::string FormatRegistryText(const std::string& original, const std::vector<RegKey>& keys);

// driver_owner.cpp: who owns an entry under Drivers\Active.
// Whether path is Drivers\Active\<entry> or below it; *entry gets the entry's path.
bool InActiveEntry(const std::wstring& path, std::wstring* entry);
// The "Owner" value for an entry this process creates; false when the
// process cannot tell who it is (no /proc), and then it must not register.
bool OwnerOfThisProcess(RegValue* owner);
// Drops the entries (and keys below them) whose owner is gone.
void DropEntriesOfGoneOwners(std::vector<RegKey>* keys);

// usb_ports.cpp: the keys for the USB serial ports under the sysfs root.
void AddUsbSerialPortKeys(std::vector<RegKey>* keys);
