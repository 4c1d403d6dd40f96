// The command line's own helpers: text out to the terminal or a pipe, the
// list view it runs the core against, and local paths in the program's form.
#pragma once

#include <cstdio>
#include <string>

#include "link/state.h"

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSignalBase = 128;  // + the signal's number: stopped by it
constexpr int kSigInt = 2;            // SIGINT's number, also as Windows' Ctrl+C sets it
constexpr int kSigPipe = 13;          // SIGPIPE's number, also where Windows has none

// --- text (text.cpp); terminal and output (output.cpp, terminal_posix.cpp /
// terminal_win32.cpp) ---
// UTF-8 of wide text (UTF-16 on Windows, UTF-32 on Linux). With sanitize,
// control characters become '?': handset text must not drive the terminal
// nor break a line-oriented output.
std::string ToUtf8(const WCHAR* text, bool sanitize = false);
// The same, appended to out (a line buffer reused without new allocations).
void AppendText(std::string& out, const WCHAR* text, bool sanitize = false);
// Wide text of UTF-8 bytes; malformed sequences become U+FFFD.
std::wstring FromUtf8(const char* text);
// Columns the text takes on a terminal (East Asian wide characters take two).
int DisplayWidth(const WCHAR* text);
// Appends text cut to at most columns display columns: a text that does not
// fit keeps its start and its end (the extension whole where it can be) with
// "…" between them. The columns taken.
int AppendCut(std::string& out, const WCHAR* text, int columns, bool sanitize = true);
bool IsTerminal(std::FILE* stream);
// The width of the terminal stream writes to; 0 when it is none.
int TerminalColumns(std::FILE* stream);
// The same for stderr, read again only once the terminal was resized
// (SIGWINCH, followed from the first call on).
int StderrColumns();
// Writes text to stream: UTF-8 bytes, or the console's own wide output on a
// Windows console.
void WriteText(std::FILE* stream, const std::string& utf8);
void WriteText(std::FILE* stream, const WCHAR* text);
// Bytes as they are to stdout (a file's content); false once a write failed,
// which the run's end reports.
bool WriteBytes(const char* data, std::size_t n);
// At start: descriptors 0 to 2 that are closed get /dev/null (a closed stdout
// still counts as failing), and a broken pipe is a write error, not a signal.
void GuardStandardStreams();
// Flushes stdout: the errno of the first failed write to it, or 0.
int FinishStandardOutput();
// Keeps error as stdout's first failed write, unless one came before.
void NoteStdoutError(int error);
// A short write to stdout is remembered; the run's end reports it.
void NoteWrite(std::FILE* stream, std::size_t wanted, std::size_t written);
// The program started with stdout closed: nothing written can arrive.
bool StdoutClosed();
bool StdinIsTerminal();
// Waits for standard input to have something to read; false once the user
// asked the command to stop. (A signal that comes just before a blocking read
// would not interrupt it: the read waits only once input is there.)
bool WaitForInput();
// "palvo: " + text + newline on stderr.
void Complain(const WCHAR* text);
// Complain(problem); the exit status of a command that failed.
int Failure(const std::wstring& problem);
// The locale's language is Japanese: LC_ALL, LC_MESSAGES or LANG (the first
// one set) natively, the user's UI language on Windows.
bool IsJapaneseLocale();
// Outside a Japanese locale, the system's own texts are followed by their
// English meaning (asked once per run).
bool AddEnglish();
// The command line's own text in the run's one language: Japanese in a
// Japanese locale, else English.
const WCHAR* InLanguage(const WCHAR* english, const WCHAR* japanese);
// A message text of the core, UTF-8, with " (meaning)" when AddEnglish().
std::string WithMeaning(const WCHAR* text);

// --- front end: step_printer.cpp, progress_line.cpp, pin_prompt*.cpp,
// stop_signals_posix.cpp / stop_signals_win32.cpp ---
extern bool g_quiet;                // -q: errors only (no progress, no notes)
extern bool g_verbose;              // -v: each step on stderr
constexpr int kPinLineUnits = 260;  // as the PIN dialog's text buffer
// The PIN for every connection of this run, read from file (no asking).
void GivePin(DWORD pin, const std::wstring& file);
// Reads one line of bytes from stdin into line (cut at the newline, the rest
// of a long line read off and dropped). False at end of input, or when the
// user asked the command to stop.
bool ReadByteLine(char* line, std::size_t cap);
// The typed PIN into g_currentPin: four digits, blanks around them allowed.
// False (and nothing taken) for anything else.
bool TakePin(const WCHAR* text);
// The dialog's title as the prompt, with its meaning outside Japanese.
const char* PinPrompt();
// Asks for the PIN on the terminal without echo: 1 taken, 0 none given, -1
// what was typed is not four digits.
int AskPinHidden();
// Natively: the terminal's echo back on, if the PIN prompt turned it off
// (safe in a signal handler).
void PutBackTerminal();
// What a refused PIN means for the one who must fix it: a run without a
// terminal cannot ask, and the stored PIN it used is now forgotten.
void ExplainRefusedPin();
// Once per run: the handset refused the PIN typed on a terminal, so the
// command runs again and the PIN is asked anew.
bool AskRefusedPinAgain();
// The row the progress line shows: its text, and number of count.
void SetProgressItem(const WCHAR* text, int number, int count);
// Reads a PIN file: four digits (blanks and a line end around them allowed),
// in a regular file that only its owner may read. False with the reason.
bool ReadPinFile(const std::wstring& path, DWORD* pin, std::wstring* problem);
// Follows the core's steps: the row of the progress line, and -v.
void FollowSteps();
// Ends a progress line still on the terminal, so the next output starts
// clean: blanked, or after Ctrl-C kept with the terminal's "^C" and ended.
void EndProgressLine();
// A progress line was ended after Ctrl-C: the "^C" has its line.
bool StopEchoLineEnded();
// From now on Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and a
// closed console) set g_stopRequest to the signal's number; a second one, a
// second or more after the first, ends the program at once.
void CatchStopSignals();
// The note shown when a stop request waits until the set under way
// (kHoldBookmarks, kHoldAddressBook) is whole; made on the first call, which
// CatchStopSignals makes.
const char* HeldStopNote(int held);
// A stop request this soon after the first is the same one delivered twice
// (timeout(1), a process group's kill), not a second request.
bool IsRepeatedStop(unsigned long long firstMs, unsigned long long nowMs);
// Asks a yes/no question on the terminal: 1 yes, 0 no (or Ctrl-C, or the end
// of input), -1 when standard input is no terminal.
int AskOnTerminal(const std::string& question);

// --- host (host.cpp) ---
// The list view the core fills and reads (g_listView); null when none can be made.
HWND CreateListingView();
// A path argument in the program's form: absolute, with backslashes. Empty
// when it cannot be made.
std::wstring ProgramPath(const WCHAR* argument);
struct Arguments;
// --trace (trace.cpp): the port trace started before a command that talks to
// the handset, a failure's exit status or -1; and ended after it, with -v
// saying where it is.
int StartCommandTrace(const Arguments& a);
void FinishCommandTrace(const Arguments& a);
// The computer's system for a trace's first line (trace_posix.cpp /
// trace_win32.cpp), and why the trace file could not be made.
std::string SystemText();
std::wstring TraceFileReason();
enum class PathKind { Missing, Folder, File, Other };
// What there is at the path; with reason, why nothing is (the system's words).
PathKind KindOfPath(const std::wstring& programPath, std::wstring* reason = nullptr);
// Why no file can be made in the folder, in the system's words; empty when one
// can (a file of its own is made there and removed at once).
std::wstring WhyNotWritable(const std::wstring& folder);
// The system's words for an error: errno natively, GetLastError on Windows.
#ifdef _WIN32
std::wstring SystemReason(DWORD error);
#else
std::wstring SystemReason(int error);
#endif
// The port name --port gives, as the port is opened (COM10 and up on Windows
// as device paths).
std::wstring DevicePortName(const std::wstring& port);
// The path ends in a folder separator (natively '/', on Windows also '\\').
bool EndsWithSeparator(const std::wstring& path);
// The core spells paths with backslashes as separators: natively a
// backslash the user typed is an ordinary character of a name, which the
// core would take for a folder. False for such a path (refused before the
// handset is disturbed), and the complaint naming it.
bool RepresentablePath(const std::wstring& path);
std::wstring BackslashProblem(const std::wstring& path);
// A program path as the user writes it (natively with slashes).
std::wstring ShownPath(const std::wstring& programPath);
// The folder part of a program path (up to, not including, its last backslash;
// the root stays "\" or "C:\").
std::wstring FolderOf(const std::wstring& programPath);
// A new empty folder of the program's own among the temporary files; empty,
// with the system's reason, when none can be made.
std::wstring MakeTemporaryFolder(std::wstring* reason);
// Removes file (when there) and then the folder, made by MakeTemporaryFolder.
void RemoveTemporaryFolder(const std::wstring& folder, const std::wstring& file);
// Copies a local file to standard output; false when it cannot be read.
bool CopyToStandardOutput(const std::wstring& programPath);

// --- what a failed step could not use (problem.cpp) ---
// Paths under programPath are shown under shown, as the user wrote it.
void ShowPathsAs(const std::wstring& programPath, const std::wstring& shown);
// A program path as the user would recognise it (see ShowPathsAs).
std::wstring UserPath(const std::wstring& programPath);
// The system's words for an error code the core noted (GetLastError).
std::wstring CoreErrorReason(DWORD error);
// "PATH: reason" of the core's last failed step; empty when none is known.
std::wstring ProblemOfStep();

// --- the listing (listing.cpp) ---
// The rows of the list view the core filled.
int RowCount();
// The text of a cell, in text or in the control's own copy; no allocation.
const WCHAR* CellText(int row, int column, WCHAR (&text)[kPathUnits], int* icon = nullptr);
void SelectRow(int row);
// Prints the listing: a table (fitted to a terminal), or with tsv one line of
// TAB-separated fields per row, after a line naming them with header.
void PrintListing(bool tsv, bool header);
