// The window program under test: the real main window made by StartUp in this
// process, the in-process handset on the COM pair, and helpers that play the
// user from a second thread while the UI thread sits in a modal loop.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handset/content.h"
#include "tests/support/handset_peer.h"
#include "tests/support/prerequisite.h"
#include "ui/ui.h"

struct ListRow {
  std::wstring name, size, date;
  int icon = -1;
};
std::vector<ListRow> ReadListing();
std::vector<std::wstring> RowNames();
// Selects exactly the rows with these names (the first one gets the mark).
void SelectRows(const std::vector<std::wstring>& names);

// Handles messages of this thread for ms milliseconds, or until done().
void Pump(int ms, const std::function<bool()>& done = nullptr);

// A top-level window of this process with the given title (any class), or
// null after timeoutMs. Safe from any thread: it sends no messages.
HWND WaitForWindow(const WCHAR* title, int timeoutMs = 10000);
std::wstring TextOf(HWND window);  // without sending messages

// Plays the user on another thread: action runs once the dialog titled title
// shows up. Join() waits for it; found() tells whether it did.
class DialogPlayer {
 public:
  DialogPlayer(const WCHAR* title, std::function<void(HWND)> action, int timeoutMs = 15000);
  ~DialogPlayer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Stop() {  // gives up waiting
    stop_ = true;
    Join();
  }
  bool found() const { return found_; }

 private:
  std::atomic<bool> found_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The common file dialog's name field: its text, and typing a path then OK.
std::wstring FileDialogName(HWND dialog);
void AcceptFileDialog(HWND dialog, const std::wstring& path);
void CancelDialog(HWND dialog);

// Records every text the status box shows, and how many boxes there were.
// Made on the UI thread; one at a time.
class StatusWatcher {
 public:
  StatusWatcher();
  ~StatusWatcher() { Stop(); }
  void Stop();
  std::vector<std::wstring> texts() const;
  int boxes() const;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  void Record(HWND box, const WCHAR* text);
  HHOOK hook_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::wstring> texts_;
  std::vector<HWND> boxes_;
};

// Runs an xdotool command line through X, as a person's mouse and keyboard
// would reach the program; false when xdotool cannot be started. With wait,
// this thread's messages are handled until it is done; without, the caller's
// own loop takes what it sends.
bool Xdotool(const std::wstring& arguments, bool wait = true);

// A folder of its own per test, as a Windows path ending in a backslash.
std::wstring FreshFolder(const char* name);
bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

handset::Content SampleContent();

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Start-up as the program does it; a hook may first set the main
  // window's frame (width, top edge) as the handheld's screen would.
  void StartWindow(int width = 0, int top = -1);
  // The listing as the get-listing command leaves it (stored PIN, no dialog).
  void FetchWithStoredPin(InProcessHandset& hs);
  int Requests(InProcessHandset& hs, unsigned code, unsigned group, unsigned operation);
};

// Tests that feed real input (keys, an X click) run in a process of their own:
// input they leave behind in Wine's queues must not reach other tests' dialogs.
class UserInputTest : public UiTest {};
