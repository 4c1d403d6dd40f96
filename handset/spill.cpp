// A large file upload to a handset with a folder streams to disk as it
// arrives, and its data is read back only when it is asked for.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "handset/impl.h"

namespace handset {

// Whether the request at the start of rx, not all here yet, is a file upload
// that may stream to disk (into *dir): large, in a session, to a folder.
bool Handset::Impl::MayStream(std::size_t payload, std::filesystem::path* dir) {
  const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
  if (payload < kSpillBytes || spill.declined || ((h[2] << 8) | h[3]) != 3 || h[9] != kGroupFiles ||
      h[11] != 3 || state != kSession)
    return false;
  std::lock_guard<std::mutex> lock(mu);
  if (!hasFolder || keepLog) return false;
  *dir = folder;
  return true;
}

// Whether that upload now streams. False also while its name and wire have
// not arrived.
bool Handset::Impl::StartSpill(std::size_t payload, const std::filesystem::path& dir) {
  const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
  const std::size_t t1 = rx.find('\t', 12);
  const std::size_t t2 = t1 == std::string::npos ? t1 : rx.find('\t', t1 + 1);
  if (t2 == std::string::npos) {
    spill.declined = rx.size() >= 12 + 1024;  // no such name: the usual way
    return false;
  }
  spill.path = dir / ".upload.part";
  spill.file = std::fopen(spill.path.string().c_str(), "wb");
  if (!spill.file) {
    spill.path.clear();
    spill.declined = true;
    return false;
  }
  std::setvbuf(spill.file, nullptr, _IONBF, 0);  // each piece as read: no second copy
  spill.code = 3;
  spill.group = h[9];
  spill.operation = h[11];
  spill.headerOk = h[8] == 0 && h[10] == 0;
  spill.head = rx.substr(12, t2 + 1 - 12);
  spill.size = payload - spill.head.size();
  const std::size_t here = rx.size() - (t2 + 1);
  spill.failed = std::fwrite(rx.data() + t2 + 1, 1, here, spill.file) != here;
  spill.left = spill.size - here;
  spill.ready = false;
  const std::size_t keep = 25;  // a goodbye and a hello: what ends an upload cut short
  spillTail = rx.substr(rx.size() - std::min(here, keep));
  rx.clear();
  return true;
}

void Handset::Impl::DropSpill() {
  if (spill.file) std::fclose(spill.file);
  spill.file = nullptr;
  if (!spill.path.empty()) {
    std::error_code ec;
    std::filesystem::remove(spill.path, ec);
  }
  spill.path.clear();
  spill.ready = spill.declined = spill.failed = false;
}

void Handset::Impl::LoadSpilledLocked() {
  for (const Spilled& s : spilled)
    for (StoredFile& f : content.files)
      if (f.name == s.name && f.wire == s.wire && !ReadWhole(s.path, &f.data))
        violations.push_back("cannot read back " + s.path.string());  // mu is held
  spilled.clear();
}

}  // namespace handset
