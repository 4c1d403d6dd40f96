#include "export/run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace exporting {

std::string U8(const fs::path& p) {
#ifdef _WIN32
  const std::u8string s = p.generic_u8string();
  return std::string(s.begin(), s.end());
#else
  return p.generic_string();
#endif
}

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

fs::path FsPath(const WCHAR* path) {
#ifdef _WIN32
  return fs::path(path);
#else
  const int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, path, -1, s.data(), n, nullptr, nullptr);
  s.pop_back();
  std::replace(s.begin(), s.end(), '\\', '/');
  return fs::path(s);
#endif
}

std::wstring NativeWide(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return Wide(p.string());
#endif
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string HandsetTime(fs::file_time_type t) {
  using namespace std::chrono;
  const auto sys = time_point_cast<minutes>(file_clock::to_sys(t)) + hours(9);
  const auto day = floor<days>(sys);
  const year_month_day ymd{day};
  const auto hm = hh_mm_ss<minutes>(sys - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02u/%02u %02ld:%02ld", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(hm.hours().count()), static_cast<long>(hm.minutes().count()));
  return text;
}

bool Stopped(const Run& run) { return run.options->stop && *run.options->stop; }

bool Fail(Run& run, const std::string& file, const char* english, const char* japanese) {
  if (run.failure.empty()) run.failure = file + ": " + (run.options->japanese ? japanese : english);
  return false;
}

HANDLE OpenInput(const fs::path& p) {
  return CreateFileW(NativeWide(p).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateOutput(Run& run, const std::string& rel) {
  std::error_code ec;
  const fs::path p = run.temp / fs::path(Wide(rel));
  fs::create_directories(p.parent_path(), ec);
  HANDLE h = CreateFileW(NativeWide(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(run, rel, "cannot be written", "書き込めません");
  } else {
    run.written.push_back(rel);
  }
  return h;
}

bool FinishOutput(Run& run, OutStream& out, HANDLE h, const std::string& rel) {
  const bool ok = out.Flush();
  CloseHandle(h);
  return ok || Fail(run, rel, "could not be written whole (disk full?)",
                    "全部は書き込めませんでした (ディスクがいっぱいかもしれません)");
}

bool WriteWhole(Run& run, const std::string& rel, const std::string& bytes) {
  HANDLE h = CreateOutput(run, rel);
  if (h == INVALID_HANDLE_VALUE) return false;
  run.out.OpenFile(h);
  run.out.Write(bytes.data(), bytes.size());
  return FinishOutput(run, run.out, h, rel);
}

bool ReadWhole(Run& run, const Entry& e, std::string* bytes) {
  HANDLE h = OpenInput(e.path);
  if (h == INVALID_HANDLE_VALUE) return Fail(run, e.name, "cannot be read", "読めません");
  bytes->clear();
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, run.copy, kCopyPiece, &got, nullptr)) {
      CloseHandle(h);
      return Fail(run, e.name, "could not be read to its end", "最後まで読めませんでした");
    }
    if (got == 0) break;
    bytes->append(reinterpret_cast<const char*>(run.copy), got);
  }
  CloseHandle(h);
  return true;
}

}  // namespace exporting
