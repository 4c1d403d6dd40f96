// The user's commands, shared by both front ends: everything between the
// window's dialogs (ui/) or the command line's arguments (cli/) and the
// transfers of download/ and upload/. A front end takes the user's choice its
// own way and calls these around it:
//
//   get listing  GetListingCommand()
//   download     ProposeDownloadName() -> save dialog or --to ->
//                StoreDownloadDestination() -> RunDownload()
//   upload       CutLastPathToFolder() -> open dialog or FILE ->
//                StoreUploadSource() -> DefaultUploadKind() -> destination
//                dialog or --kind/--as -> RunUpload()
//
// A command of its own (one transfer in one connection) runs through
// RunOperation with its transfer. Every Run* reports its first message
// through ShowStatus (link/frontend.h) and also returns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/state.h"

// ---- the operation runner

typedef Message (*Transfer)(void* context);

// Runs one operation: open, [busy box], log in, transfer, goodbye, close, and
// reports its first message through ShowStatus in result mode; returns that
// message. busy shows "通信中です" in keep-open mode once the port is open
// (downloads and uploads).
Message RunOperation(Transfer transfer, void* context, bool busy);

// ---- get listing

// Clears the connected flag, empties the listing, then runs FetchListing as
// the transfer.
Message GetListingCommand();

// ---- the PIN

// Connects with a PIN that AskPin gives whatever is stored (g_pinSource
// kAskAndStore) and stores it once the handset accepted it; nothing else is
// asked of the handset. Without a driver key (a given port no driver
// publishes) nothing can be stored: check g_driverKeyPath afterwards.
Message StorePinCommand();

// ---- the file dialogs' last path

// Cuts g_lastPath in place just after its last backslash, so the next file
// dialog opens in the folder of the last pick. True when there was a
// backslash (give the dialog that folder); false: give no initial folder.
bool CutLastPathToFolder();

// ---- download

// Download command up to the save dialog. False when the command does nothing
// (not connected, nothing selected). Otherwise name holds the name to propose
// (the selected row's name, or "(ここに上書き)") and *several tells whether the
// rows go into a folder under their own names (several rows, or the mail row).
bool ProposeDownloadName(WCHAR name[kPathUnits], bool* several);

// Stores the save dialog's accepted path as g_lastPath: whole for one row,
// cut after its last backslash when several.
void StoreDownloadDestination(const WCHAR* chosen, bool several);

// Runs the download of the selected rows to g_lastPath through the operation
// runner with the busy box; returns the first message (already reported).
// A folder download saves a row whose name cannot be a file name here under a
// replacement, and passes over one that cannot be saved at all (the message is
// then "保存できない行があります"); the others are downloaded all the same.
Message RunDownload();

// After RunDownload: one line per row saved under another name than its own
// ("  row -> saved as") or not saved at all ("  row -> (保存しませんでした)"),
// handset text with its control characters shown as "?"; null when every
// row kept its own name. *notSaved: some row was not saved at all.
const WCHAR* RenamedRowsText(bool* notSaved);

// How a folder download treats a backup folder. all: the whole handset into
// the folder (get --all): it keeps a manifest even where there was none,
// rows gone from the handset leave the backup for its attic, and, unless
// refetch, file rows the manifest shows unchanged and whose files are intact
// are not transferred again. Without all, a folder that holds a manifest has
// it updated for the rows saved; any other folder gets none.
struct BackupOptions {
  bool all;
  bool refetch;
};
extern BackupOptions g_backupOptions;

// What the last download did, for the line a front end ends it with.
struct DownloadSummary {
  int saved;            // rows saved
  int unchanged;        // rows the backup held unchanged, not transferred
  int renamed;          // rows saved under another name
  int notSaved;         // rows no name fitted
  int atticMoves;       // earlier files moved to the attic
  std::uint64_t bytes;  // bytes of the files saved
  DWORD milliseconds;
  bool interrupted;
  WCHAR attic[kPathUnits];  // the attic folder of this run, when atticMoves
};
const DownloadSummary& LastDownloadSummary();

// The listing and a download in one connection: after the listing, choose
// selects the rows and stores the destination (StoreDownloadDestination);
// a nonzero return stops there (no download, no message; the caller knows
// why). Returns the first message, already reported.
Message RunListingAndDownload(int (*choose)(void* context), void* context);

// Checks the backup in dir (a folder path ending with a backslash) against
// its manifest: every recorded file present with its size and SHA-256; and,
// unless offline, against a fresh listing of the handset: every file row in
// the backup with its size and date. Each problem goes to problem, naming
// the row or file (the front end words it). Returns the number of problems,
// or -1 when the check could not be made (*why: no manifest, or the
// listing's message).
enum class VerifyProblem {
  kUnreadableLines,     // name: the manifest; count: its lines that cannot be read
  kMissing,             // name: a recorded file that is not there or cannot be read
  kChanged,             // name: a recorded file of another size or SHA-256
  kNotInBackup,         // name: a handset row the backup lacks
  kDiffersFromHandset,  // name: a row of another size or date than recorded
};
typedef void (*VerifyReport)(VerifyProblem problem, const WCHAR* name, int count);
int VerifyBackup(const WCHAR* dir, bool offline, VerifyReport problem, Message* why);

// Makes a download's destination folder when it is missing, with every
// missing folder above it (as mkdir -p). ERROR_SUCCESS when path is a folder
// now, else why not: ERROR_ALREADY_EXISTS (a file has its name or that of a
// folder above it), or what CreateDirectoryW said.
DWORD MakeDestinationFolder(const WCHAR* path);

// ---- upload

// Upload kinds as the destination dialog returns them.
enum UploadKind {
  kUploadCancel = 0,
  kUploadFile = 1,
  kUploadBookmarks = 2,
  kUploadAddressBook = 3,
  kUploadMail = 4
};

// The kind a local file name suggests: the names the downloads write
// (bookmark.txt, address.txt, mail000.txt ...) upload as what they hold.
UploadKind DefaultUploadKind(const WCHAR* fileName);

// Stores the open dialog's accepted path as g_lastPath and copies its
// file-name part (all of it when there is no backslash) into name, ready for
// the upload destination dialog.
void StoreUploadSource(const WCHAR* chosen, WCHAR name[kPathUnits]);

// Runs the upload of g_lastPath as kind (name: the handset file name, used for
// kUploadFile) and, after success, the fresh listing, through the operation
// runner with the busy box; returns the first message (already reported).
Message RunUpload(UploadKind kind, const WCHAR* name);

// The upload command's transfer: the upload of `kind`, then on success the
// connected flag cleared and the listing fetched again.
Message UploadAndRelist(UploadKind kind, const WCHAR* path, const WCHAR* name);

// ---- restore: several uploads in one connection

struct UploadItem {
  UploadKind kind;
  const WCHAR* path;  // the local file, a full path in the program's form
  const WCHAR* name;  // the handset file name (kUploadFile)
};

// The files of one restore, in the order they go: next() gives the next one
// (false at the end), rewind() starts again from the first.
struct UploadList {
  bool (*next)(void* context, UploadItem* item);
  void (*rewind)(void* context);
  void* context;
};

// Asked before an upload that replaces the handset's whole set (the bookmark
// file, the address file) with the handset's count, from a count query sent
// just before the upload's start request only when there is a question, and
// the file's: true to go ahead, false to leave that file out. Asked again with
// done once the set was replaced (the answer then does not matter).
typedef bool (*ReplaceQuestion)(const UploadItem& item, int handsetCount, int fileCount, bool done);

// What became of one file of a restore, told as it happens.
enum RestoreNote {
  kNoteConverted,     // UTF-8 text, sent as the handset's text (told once, at the check)
  kNoteUploaded,      // sent and accepted
  kNoteAlreadyThere,  // not sent: the handset holds it already
  kNoteRefused        // the handset refused it (why: the message); the restore went on
};

struct RestoreOptions {
  ReplaceQuestion ask = nullptr;  // null: replace without asking
  // A bookmark or address file without entries may replace a set: --yes, or
  // the question will be asked. Otherwise such a file fails its check.
  bool emptySetConfirmed = false;
  bool force = false;  // ordinary files already on the handset go up all the same
  // A folder (ending in a backslash) for the restore's working files (UTF-8
  // text converted, the handset's mails to compare with); every file it
  // writes there it removes. Null: no conversion, and mails are not compared.
  const WCHAR* scratch = nullptr;
  void (*note)(const UploadItem& item, RestoreNote what, Message why) = nullptr;
};

struct RestoreCounts {
  int declined = 0;  // left out by the question
  int uploaded = 0;
  int alreadyThere = 0;
  int refused = 0;
};

// Restores the list in one connection: every file checked first (nothing is
// sent, not even a log-in, when one fails), then each uploaded in order, then
// one listing. Mails the handset holds already (compared as a download writes
// them) and, unless force, ordinary files of the same name, category and size
// are not sent again. An item the handset refuses is told through note and
// counted, and the restore goes on; a failure of the link ends it with the
// message prefixed by the file's name, and the line when a check of its
// lines failed ("mail002.txt, line 1: チェック:フォーマットエラー"), reported
// through ShowStatus and returned. Each file's upload is a step
// (Step::kItem, n of count).
Message RunUploads(const UploadList& list, const RestoreOptions& options, RestoreCounts* counts);

// A line of palvo-backup.tsv that records local (escaped as the manifest
// writes it) as a saved file's local name: its fourth TAB-separated field.
bool ManifestLineNamesLocal(const char* line, const char* local);

// Whether a folder holds palvo's manifest (palvo-backup.tsv): get --all made it.
bool IsBackupFolder(const WCHAR* dir);

// The files of a backup folder as get --all writes it, in restore order: the
// bookmark file, the address file, every mail file (mail000.txt ...) in
// number order, then every other file as an ordinary file under its own name.
// Only plain files go: folders, links, devices, sockets, hidden files, a
// download's part files and palvo's own manifest are left out.
struct BackupFolder {
  WCHAR dir[kPathUnits];  // ends with a backslash
  std::size_t dirUnits;
  WCHAR path[kPathUnits];
  int phase;
  long mailNumber, lastMail;
  HANDLE find;
};
// False when dir plus a file name cannot fit a path.
bool OpenBackupFolder(BackupFolder* folder, const WCHAR* dir);
UploadList BackupFolderList(BackupFolder* folder);
