// The progress line of a long transfer on a terminal: the row, bytes done,
// rate and time left, redrawn at most ten times a second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/cli.h"
#include "download/listing.h"
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
constexpr std::uint64_t kLargestShown = 999999999999999;      // 15 digits: fits FormatSize
constexpr int kNameKept = 12;  // columns of the name kept before figures give way

// Sizes as the listing shows them (plain bytes, else thousands with a K), so
// the total reads as the row's size did.
void FormatBytes(char* out, std::size_t cap, std::uint64_t bytes) {
  WCHAR size[16];
  FormatSize(static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, kLargestShown)), size);
  std::snprintf(out, cap, "%s", ToUtf8(size).c_str());
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

// The figures of the progress line, most wanted first: percent (or bytes
// done when the total is unknown), done / total, rate, time left. A narrow
// terminal drops them from the end.
struct Figures {
  char field[4][64] = {};
  int count = 0;
};

void FormatFigures(Figures* f, std::uint64_t done, std::uint64_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char doneText[24], totalText[24], rateText[24], leftText[24];
  FormatBytes(doneText, sizeof doneText, done);
  FormatBytes(rateText, sizeof rateText, static_cast<std::uint64_t>(rate));
  if (total == 0) {
    std::snprintf(f->field[0], sizeof f->field[0], "%s", doneText);
    std::snprintf(f->field[1], sizeof f->field[1], "%s/s", rateText);
    f->count = 2;
    return;
  }
  FormatBytes(totalText, sizeof totalText, total);
  const int percent =
      static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  if (rate > 0 && done < total) {
    FormatDuration(leftText, sizeof leftText, static_cast<double>(total - done) / rate);
  } else {
    std::snprintf(leftText, sizeof leftText, "0:00");
  }
  std::snprintf(f->field[0], sizeof f->field[0], "%3d%%", percent);
  std::snprintf(f->field[1], sizeof f->field[1], "%s / %s", doneText, totalText);
  std::snprintf(f->field[2], sizeof f->field[2], "%s/s", rateText);
  std::snprintf(f->field[3], sizeof f->field[3], "%s left", leftText);
  f->count = 4;
}

// Columns the first count figures take on the line, two blanks apart.
int FiguresWidth(const Figures& f, int count) {
  int width = 0;
  for (int i = 0; i < count; ++i) width += (i ? 2 : 0) + static_cast<int>(std::strlen(f.field[i]));
  return width;
}

// The widest the line may be: three columns spare, for the "^C" the
// terminal echoes after it (a line that fills the last column wraps on
// some terminals, and so would the echo). A resized terminal is followed
// from the next redraw on.
int LineRoom() {
  const int columns = StderrColumns();
  return columns > 3 ? columns - 3 : 1;
}

bool g_echoLineEnded = false;  // a stopped progress line was kept, with its "^C"

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

  Figures figures;
  FormatFigures(&figures, done, total,
                std::chrono::duration<double>(now - g_progress.start).count());
  // "3/12 name  figures" within the terminal's width: the figures at the end
  // give way first, while the name keeps a few columns, then the name.
  std::string line = "\r";
  int width = 0;
  const int room = LineRoom();
  if (g_progress.count > 1) {
    const std::string number =
        std::to_string(g_progress.number) + "/" + std::to_string(g_progress.count) + " ";
    if (static_cast<int>(number.size()) + FiguresWidth(figures, 1) <= room) {
      line += number;
      width += static_cast<int>(number.size());
    }
  }
  const int nameWidth = g_progress.item[0] ? DisplayWidth(g_progress.item) : 0;
  const int nameWanted = std::min(nameWidth, kNameKept);
  int fields = figures.count;
  while (fields > 1 &&
         width + (nameWanted ? nameWanted + 2 : 0) + FiguresWidth(figures, fields) > room)
    --fields;
  const int nameRoom = room - width - FiguresWidth(figures, fields) - 2;
  if (nameWidth > 0 && nameRoom >= 4) {
    width += AppendCut(line, g_progress.item, nameRoom) + 2;
    line += "  ";
  }
  for (int i = 0;
       i < fields && width + (i ? 2 : 0) + static_cast<int>(std::strlen(figures.field[i])) <= room;
       ++i) {
    if (i) line += "  ";
    line += figures.field[i];
    width += (i ? 2 : 0) + static_cast<int>(std::strlen(figures.field[i]));
  }
  // Blanks over what the last line had further right (never past the edge).
  const int blankTo = std::min(g_progress.shownWidth, room);
  if (blankTo > width) line.append(static_cast<std::size_t>(blankTo - width), ' ');
  WriteText(stderr, line);
  std::fflush(stderr);
  g_progress.shownWidth = std::max(width, blankTo);
}

bool StopEchoLineEnded() { return g_echoLineEnded; }

void EndProgressLine() {
  if (g_progress.shownWidth > 0 && g_stopRequest == kSigInt) {
    // Ctrl-C: the line stays as it stopped, the terminal's "^C" after it.
    WriteText(stderr, "\n");
    g_echoLineEnded = true;
  } else if (g_progress.shownWidth > 0) {
    // A screen made narrower since would wrap blanks past its edge.
    std::string blank = "\r";
    blank.append(static_cast<std::size_t>(std::min(g_progress.shownWidth, LineRoom())), ' ');
    blank += '\r';
    WriteText(stderr, blank);
    std::fflush(stderr);
  }
  g_progress.shownWidth = 0;
  g_progress.running = false;
  g_progress.lastDone = 0;
}
