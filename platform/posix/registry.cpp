// RegOpenKeyExW and the other registry calls the core makes, with Win32's
// results: ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_MORE_DATA
// when a buffer is too small (the size needed reported back),
// ERROR_NO_MORE_ITEMS at the end of an enumeration, ERROR_ACCESS_DENIED when
// deleting a key that has subkeys, ERROR_KEY_DELETED for a handle whose key
// another process removed. Names compare without regard to letter case and
// keep the spelling they were created with. REG_SZ data is WCHAR units with
// the terminator, sizes in bytes (sizeof(WCHAR) is 4 here, 2 on Windows).
// Only HKEY_LOCAL_MACHINE is there; see registry_store.h for where it lives.
#include <cstring>
#include <mutex>

#include "platform/posix/posix_internal.h"
#include "platform/posix/registry_store.h"

struct PosixKey {
  bool used;
  WCHAR path[1024];
};

namespace {

constexpr std::size_t kMaxPathUnits = 1023;
constexpr std::size_t kMaxNameUnits = 255;
constexpr int kMaxKeys = 64;
PosixKey g_keys[kMaxKeys];
std::mutex g_keysLock;

bool KeyPath(HKEY key, std::wstring* path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
    return true;
  }
  std::lock_guard<std::mutex> lock(g_keysLock);
  for (PosixKey& k : g_keys)
    if (&k == key && k.used) {
      *path = k.path;
      return true;
    }
  return false;
}

HKEY NewKey(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(g_keysLock);
  for (PosixKey& k : g_keys)
    if (!k.used) {
      k.used = true;
      std::wmemcpy(k.path, path.c_str(), path.size() + 1);
      return &k;
    }
  return nullptr;
}

// base + subKey; empty components (doubled or trailing backslashes) vanish.
bool JoinPath(const std::wstring& base, LPCWSTR subKey, std::wstring* path) {
  *path = base;
  if (!subKey) return true;
  for (const WCHAR* c = subKey; *c;) {
    const WCHAR* end = c;
    while (*end && *end != L'\\') ++end;
    if (end > c) {
      if (static_cast<std::size_t>(end - c) > kMaxNameUnits) return false;
      for (const WCHAR* k = c; k < end; ++k)
        if (*k < 0x20) return false;  // would break the file's lines
      if (!path->empty()) *path += L'\\';
      path->append(c, end);
    }
    c = *end ? end + 1 : end;
  }
  return path->size() <= kMaxPathUnits;
}

template <typename Fn>
void ForEachKey(const RegistrySnapshot& s, Fn fn) {
  for (const RegKey& k : s.file) fn(k);
  for (const RegKey& k : s.devices) fn(k);
}

bool Exists(const RegistrySnapshot& s, const std::wstring& path) {
  bool found = path.empty();
  ForEachKey(s, [&](const RegKey& k) {
    if (SameRegName(k.path, path) || IsBelow(k.path, path)) found = true;
  });
  return found;
}

bool HasSubkeys(const RegistrySnapshot& s, const std::wstring& path) {
  bool found = false;
  ForEachKey(s, [&](const RegKey& k) { found = found || IsBelow(k.path, path); });
  return found;
}

// The key holding path's values: the file's, else a port's.
const RegKey* ValuesOf(const RegistrySnapshot& s, const std::wstring& path) {
  for (const RegKey& k : s.file)
    if (SameRegName(k.path, path)) return &k;
  for (const RegKey& k : s.devices)
    if (SameRegName(k.path, path)) return &k;
  return nullptr;
}

RegKey* FileKey(RegistrySnapshot* s, const std::wstring& path) {
  for (RegKey& k : s->file)
    if (SameRegName(k.path, path)) return &k;
  return nullptr;
}

// path spelled as the keys that already exist spell it.
std::wstring Canonical(const RegistrySnapshot& s, const std::wstring& path) {
  std::wstring out;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring prefix = (out.empty() ? L"" : out + L"\\") + path.substr(start, end - start);
    bool done = false;
    ForEachKey(s, [&](const RegKey& k) {
      if (!done && (SameRegName(k.path, prefix) || IsBelow(k.path, prefix))) {
        prefix = k.path.substr(0, prefix.size());
        done = true;
      }
    });
    out = prefix;
    start = end + 1;
  }
  return out;
}

// A file key for path, added at the end when the file has none yet.
RegKey* FileKeyForWrite(RegistrySnapshot* s, const std::wstring& path) {
  if (RegKey* k = FileKey(s, path)) return k;
  s->file.push_back(RegKey{});
  s->file.back().path = Canonical(*s, path);
  return &s->file.back();
}

const RegValue* FindValue(const RegKey* key, LPCWSTR name) {
  const std::wstring wanted = name ? name : L"";
  if (key)
    for (const RegValue& v : key->values)
      if (SameRegName(v.name, wanted)) return &v;
  return nullptr;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  std::wstring base, path;
  if (!result) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &base)) return ERROR_INVALID_HANDLE;
  if (!JoinPath(base, subKey, &path)) return ERROR_INVALID_PARAMETER;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, false); status != ERROR_SUCCESS) return status;
  if (!Exists(s, path)) return ERROR_FILE_NOT_FOUND;
  HKEY k = NewKey(Canonical(s, path));
  if (!k) return ERROR_NOT_ENOUGH_MEMORY;
  *result = k;
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, HKEY* result,
                        LPDWORD disposition) {
  std::wstring base, path;
  if (!result) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &base)) return ERROR_INVALID_HANDLE;
  if (!JoinPath(base, subKey, &path)) return ERROR_INVALID_PARAMETER;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, true); status != ERROR_SUCCESS) return status;
  const bool existed = Exists(s, path);
  std::wstring entry;
  if (existed) {
    ReleaseRegistry();
  } else if (InActiveEntry(path, &entry) && !FileKey(&s, entry)) {
    // A new driver entry lives as long as this process does.
    RegValue owner;
    if (!OwnerOfThisProcess(&owner)) {
      ReleaseRegistry();
      return ERROR_ACCESS_DENIED;
    }
    FileKeyForWrite(&s, entry)->values.push_back(owner);
    FileKeyForWrite(&s, path);
    if (LSTATUS status = SaveRegistry(s); status != ERROR_SUCCESS) return status;
  } else {
    FileKeyForWrite(&s, path);
    if (LSTATUS status = SaveRegistry(s); status != ERROR_SUCCESS) return status;
  }
  HKEY k = NewKey(Canonical(s, path));
  if (!k) return ERROR_NOT_ENOUGH_MEMORY;
  *result = k;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

// Subkeys in the order they first appear in the file, then the ports'.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPWSTR cls,
                      LPDWORD clsLength, FILETIME* lastWrite) {
  std::wstring path;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &path)) return ERROR_INVALID_HANDLE;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, false); status != ERROR_SUCCESS) return status;
  if (!Exists(s, path)) return ERROR_KEY_DELETED;
  std::vector<std::wstring> children;
  ForEachKey(s, [&](const RegKey& k) {
    if (!IsBelow(k.path, path)) return;
    const std::size_t start = path.empty() ? 0 : path.size() + 1;
    const std::wstring child = k.path.substr(start, k.path.find(L'\\', start) - start);
    for (const std::wstring& c : children)
      if (SameRegName(c, child)) return;
    children.push_back(child);
  });
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::wstring& child = children[index];
  if (child.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  std::wmemcpy(name, child.c_str(), child.size() + 1);
  *nameLength = static_cast<DWORD>(child.size());
  if (cls && clsLength && *clsLength > 0) cls[0] = 0;
  if (clsLength) *clsLength = 0;
  if (lastWrite) *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                         LPDWORD dataLength) {
  std::wstring path;
  if (data && !dataLength) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &path)) return ERROR_INVALID_HANDLE;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, false); status != ERROR_SUCCESS) return status;
  if (!Exists(s, path)) return ERROR_KEY_DELETED;
  const RegValue* v = FindValue(ValuesOf(s, path), name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  const BYTE* bytes = v->bytes.data();
  std::size_t size = v->bytes.size();
  if (v->type == REG_SZ) {
    bytes = reinterpret_cast<const BYTE*>(v->text.c_str());
    size = (v->text.size() + 1) * sizeof(WCHAR);
  } else if (v->type == REG_DWORD && v->bytes.empty()) {
    bytes = reinterpret_cast<const BYTE*>(&v->number);
    size = sizeof v->number;
  }
  if (type) *type = v->type;
  if (!dataLength) return ERROR_SUCCESS;
  const DWORD room = *dataLength;
  *dataLength = static_cast<DWORD>(size);
  if (!data) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  std::memcpy(data, bytes, size);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                       DWORD dataLength) {
  std::wstring path;
  if (!data && dataLength > 0) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &path)) return ERROR_INVALID_HANDLE;
  RegValue value;
  value.name = name ? name : L"";
  for (WCHAR c : value.name)
    if (c < 0x20) return ERROR_INVALID_PARAMETER;  // would break the file's lines
  value.type = type;
  if (type == REG_SZ) {
    // Up to the terminator, or all the units given when there is none.
    const WCHAR* text = reinterpret_cast<const WCHAR*>(data);
    std::size_t units = 0;
    while (units < dataLength / sizeof(WCHAR) && text[units]) ++units;
    value.text.assign(text ? text : L"", units);
  } else if (type == REG_DWORD && dataLength == sizeof(DWORD)) {
    std::memcpy(&value.number, data, sizeof(DWORD));
  } else {
    value.bytes.assign(data, data + dataLength);
  }
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, true); status != ERROR_SUCCESS) return status;
  if (!Exists(s, path)) {
    ReleaseRegistry();
    return ERROR_KEY_DELETED;
  }
  const RegKey* current = ValuesOf(s, path);
  if (current && current->readOnly) {
    ReleaseRegistry();
    return ERROR_ACCESS_DENIED;
  }
  RegKey* k = FileKeyForWrite(&s, path);
  bool replaced = false;
  for (RegValue& v : k->values)
    if (SameRegName(v.name, value.name)) {
      value.name = v.name;
      v = value;
      replaced = true;
    }
  if (!replaced) k->values.push_back(value);
  return SaveRegistry(s);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) {
  std::wstring path;
  if (!KeyPath(key, &path)) return ERROR_INVALID_HANDLE;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, true); status != ERROR_SUCCESS) return status;
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  const RegKey* current = ValuesOf(s, path);
  if (!Exists(s, path)) {
    status = ERROR_KEY_DELETED;
  } else if (current && current->readOnly && FindValue(current, name)) {
    status = ERROR_ACCESS_DENIED;
  } else if (RegKey* k = FileKey(&s, path)) {
    const std::wstring wanted = name ? name : L"";
    for (std::size_t i = 0; i < k->values.size(); ++i)
      if (SameRegName(k->values[i].name, wanted)) {
        k->values.erase(k->values.begin() + static_cast<long>(i));
        return SaveRegistry(s);
      }
  }
  ReleaseRegistry();
  return status;
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  std::wstring base, path;
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(key, &base)) return ERROR_INVALID_HANDLE;
  if (!JoinPath(base, subKey, &path) || path.empty()) return ERROR_INVALID_PARAMETER;
  RegistrySnapshot s;
  if (LSTATUS status = LoadRegistry(&s, true); status != ERROR_SUCCESS) return status;
  LSTATUS status = ERROR_ACCESS_DENIED;  // has subkeys, or is a port's
  if (!Exists(s, path)) {
    status = ERROR_FILE_NOT_FOUND;
  } else if (!HasSubkeys(s, path)) {
    for (std::size_t i = 0; i < s.file.size(); ++i)
      if (SameRegName(s.file[i].path, path)) {
        s.file.erase(s.file.begin() + static_cast<long>(i));
        return SaveRegistry(s);
      }
  }
  ReleaseRegistry();
  return status;
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(g_keysLock);
  for (PosixKey& k : g_keys)
    if (&k == key && k.used) {
      k.used = false;
      return ERROR_SUCCESS;
    }
  return ERROR_INVALID_HANDLE;
}
