// The progress line of a long transfer on a terminal: the row, bytes done,
// rate and time left, redrawn at most ten times a second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/cli.h"
#include "link/frontend.h"

namespace {

// Progress of the transfer under way, and the row it belongs to.
struct Progress {
  std::chrono::steady_clock::time_point start, lastShown;
  std::uint64_t lastDone = 0;
  bool running = false;
  int shownWidth = 0;  // columns of the line on the terminal; 0: none shown
  WCHAR item[kPathUnits] = {};
  int number = 0, count = 0;
};
Progress g_progress;

constexpr auto kQuietStart = std::chrono::milliseconds(500);  // short transfers show nothing
constexpr auto kRedraw = std::chrono::milliseconds(100);      // at most 10 lines a second

void FormatBytes(char* out, std::size_t cap, double bytes) {
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(out, cap, "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(out, cap, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(out, cap, "%.0f B", bytes);
  }
}

// "h:mm:ss" or "m:ss".
void FormatDuration(char* out, std::size_t cap, double seconds) {
  const long long s = seconds > 0 && seconds < 1e9 ? static_cast<long long>(seconds + 0.5) : 0;
  if (s >= 3600) {
    std::snprintf(out, cap, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(out, cap, "%lld:%02lld", s / 60, s % 60);
  }
}

// The figures of the progress line: done / total, percent, rate, time left.
void FormatFigures(char* out, std::size_t cap, std::uint64_t done, std::uint64_t total,
                   double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char doneText[32], totalText[32], rateText[32], leftText[32];
  FormatBytes(doneText, sizeof doneText, static_cast<double>(done));
  FormatBytes(rateText, sizeof rateText, rate);
  if (total == 0) {
    std::snprintf(out, cap, "%s  %s/s", doneText, rateText);
    return;
  }
  FormatBytes(totalText, sizeof totalText, static_cast<double>(total));
  const int percent =
      static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  if (rate > 0 && done < total) {
    FormatDuration(leftText, sizeof leftText, static_cast<double>(total - done) / rate);
  } else {
    std::snprintf(leftText, sizeof leftText, "0:00");
  }
  std::snprintf(out, cap, "%s / %s  %3d%%  %s/s  %s left", doneText, totalText, percent, rateText,
                leftText);
}

}  // namespace

void SetProgressItem(const WCHAR* text, int number, int count) {
  std::wcsncpy(g_progress.item, text ? text : L"", kPathUnits - 1);
  g_progress.number = number;
  g_progress.count = count;
}

void ShowProgress(std::uint64_t done, std::uint64_t total) {
  // Asked once: this runs for every 4096-byte piece.
  static const bool shown = IsTerminal(stderr);
  if (!shown || g_quiet) return;
  const auto now = std::chrono::steady_clock::now();
  if (!g_progress.running || done < g_progress.lastDone) {
    EndProgressLine();
    g_progress.running = true;
    g_progress.start = now;
    g_progress.lastShown = now - kRedraw;
  }
  g_progress.lastDone = done;
  const bool finished = total > 0 && done >= total;
  if (finished) {
    // Done: the line goes away.
    EndProgressLine();
    return;
  }
  if (now - g_progress.start < kQuietStart || now - g_progress.lastShown < kRedraw) return;
  g_progress.lastShown = now;

  char figures[160];
  FormatFigures(figures, sizeof figures, done, total,
                std::chrono::duration<double>(now - g_progress.start).count());
  // "3/12 name  figures", within the terminal's width: the name gives way.
  std::string line = "\r";
  int width = 0;
  if (g_progress.count > 1) {
    const std::string number =
        std::to_string(g_progress.number) + "/" + std::to_string(g_progress.count) + " ";
    line += number;
    width += static_cast<int>(number.size());
  }
  const int figuresWidth = static_cast<int>(std::strlen(figures));
  const int columns = TerminalColumns(stderr);
  // One column spare: a line that fills the last one wraps on some terminals.
  const int room = (columns > 0 ? columns - 1 : 79) - width - figuresWidth - 2;
  if (g_progress.item[0] && room >= 4) {
    width += AppendCut(line, g_progress.item, room) + 2;
    line += "  ";
  }
  line += figures;
  width += figuresWidth;
  // Blanks over what the last line had further right.
  if (g_progress.shownWidth > width)
    line.append(static_cast<std::size_t>(g_progress.shownWidth - width), ' ');
  WriteText(stderr, line);
  std::fflush(stderr);
  g_progress.shownWidth = std::max(width, g_progress.shownWidth);
}

void EndProgressLine() {
  if (g_progress.shownWidth > 0) {
    std::string blank = "\r";
    blank.append(static_cast<std::size_t>(g_progress.shownWidth), ' ');
    blank += '\r';
    WriteText(stderr, blank);
    std::fflush(stderr);
  }
  g_progress.shownWidth = 0;
  g_progress.running = false;
  g_progress.lastDone = 0;
}
