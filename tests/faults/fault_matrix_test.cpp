// Every operation against a handset that misbehaves in every way it can: each
// ends with its own message (or succeeds where the fault does no harm), within
// the silence bound, leaves no half file that looks whole, and the next
// connection lists the handset as if nothing had happened.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tests/faults/fault_fixture.h"

namespace {

enum class Op {
  kList,
  kGetFile,
  kGetBookmarks,
  kGetAddresses,
  kGetMail,
  kPutFile,
  kPutBookmarks,
  kPutAddresses,
  kPutMail
};

enum class Hit {
  kNone,
  kNoiseBefore,    // junk (half markers included) before every frame
  kTrailing,       // every frame longer than announced
  kByteByByte,     // every frame one byte per write
  kSmallPieces,    // every frame in pieces with pauses
  kDelay,          // the key frame comes later than one read time-out
  kSilentHello,    // no answer to the hello
  kSilentPin,      // no answer to the PIN
  kSilentCount,    // no answer to the (first) count query
  kSilentCount2,   // no answer to the mail count query
  kSilentItem,     // no answer where the data should come
  kCutItem,        // silence part-way through the key frame's head
  kCutContent,     // silence part-way through streamed content
  kVanishItem,     // the port vanishes part-way through the key frame
  kVanishContent,  // ... part-way through streamed content
  kWrongCode,      // an item frame with another code, group or operation
  kWrongGroup,
  kWrongOperation,
  kOverlong,     // an item frame over 4096 bytes
  kWrongEcho,    // a file download answered for another file
  kMissingFile,  // the listed file is gone from the handset
  kRefused,      // the handset refuses the upload item
  kSilentStart,  // no answer to a reply the program does not inspect
};

const char* OpName(Op op) {
  static const char* const kNames[] = {"List",         "GetFile",      "GetBookmarks",
                                       "GetAddresses", "GetMail",      "PutFile",
                                       "PutBookmarks", "PutAddresses", "PutMail"};
  return kNames[static_cast<int>(op)];
}

const char* HitName(Hit hit) {
  static const char* const kNames[] = {
      "None",        "NoiseBefore", "Trailing",       "ByteByByte",  "SmallPieces",
      "Delay",       "SilentHello", "SilentPin",      "SilentCount", "SilentCount2",
      "SilentItem",  "CutItem",     "CutContent",     "VanishItem",  "VanishContent",
      "WrongCode",   "WrongGroup",  "WrongOperation", "Overlong",    "WrongEcho",
      "MissingFile", "Refused",     "SilentStart"};
  return kNames[static_cast<int>(hit)];
}

struct Cell {
  Op op;
  Hit hit;
  Message expect;  // null: success
  // A port that vanishes may take the bytes still in flight with it: the
  // message of an earlier step of the same exchange is as right.
  Message alt = nullptr, alt2 = nullptr;
};

void PrintTo(const Cell& cell, std::ostream* os) {
  *os << OpName(cell.op) << "_" << HitName(cell.hit);
}

// The request whose answer each operation's faults bend: its count query and
// its data (item transfer, download reply or upload reply).
struct Keys {
  int countCode, countGroup, countOp;
  int dataCode, dataGroup, dataOp;
};

Keys KeysOf(Op op) {
  switch (op) {
    case Op::kList:
      return {2, 6, 1, 3, 6, 7};
    case Op::kGetFile:
      return {-1, -1, -1, 3, 6, 2};
    case Op::kGetBookmarks:
      return {2, 8, 1, 3, 8, 2};
    case Op::kGetAddresses:
      return {2, 3, 1, 3, 3, 2};
    case Op::kGetMail:
      return {2, 4, 1, 3, 5, 2};
    case Op::kPutFile:
      return {-1, -1, -1, 3, 6, 3};
    case Op::kPutBookmarks:
      return {-1, -1, -1, 3, 8, 3};
    case Op::kPutAddresses:
      return {-1, -1, -1, 3, 3, 3};
    case Op::kPutMail:
      return {-1, -1, -1, 3, 5, 3};
  }
  return {};
}

bool IsDownload(Op op) { return op >= Op::kGetFile && op <= Op::kGetMail; }
bool IsUpload(Op op) { return op >= Op::kPutFile; }

const std::string kPhotoEcho = "photo.jpg\timage\t";

std::vector<Cell> Cells() {
  std::vector<Cell> cells;
  const Op all[] = {Op::kList,         Op::kGetFile,      Op::kGetBookmarks,
                    Op::kGetAddresses, Op::kGetMail,      Op::kPutFile,
                    Op::kPutBookmarks, Op::kPutAddresses, Op::kPutMail};
  // Harmless everywhere, and the hello that never comes.
  for (Op op : all) {
    for (Hit hit : {Hit::kNone, Hit::kNoiseBefore, Hit::kTrailing, Hit::kByteByByte,
                    Hit::kSmallPieces, Hit::kDelay})
      cells.push_back({op, hit, nullptr});
    cells.push_back({op, Hit::kSilentHello, MSG_NOT_STANDBY});
  }
  // A PIN without answer counts as refused: the stored PIN goes.
  cells.push_back({Op::kList, Hit::kSilentPin, MSG_WRONG_PIN});
  cells.push_back({Op::kGetFile, Hit::kSilentPin, MSG_WRONG_PIN});
  cells.push_back({Op::kPutMail, Hit::kSilentPin, MSG_WRONG_PIN});
  // List-like transfers: the count, the items, foreign frames.
  struct ListLike {
    Op op;
    Message count, item;
  };
  const ListLike lists[] = {
      {Op::kList, MSG_COMM_FILE_COUNT, MSG_COMM_FILE_NAME},
      {Op::kGetBookmarks, MSG_COMM_BOOKMARK_COUNT, MSG_COMM_BOOKMARK},
      {Op::kGetAddresses, MSG_COMM_ADDRESS_COUNT, MSG_COMM_ADDRESS},
      {Op::kGetMail, MSG_COMM_LIGHT_MAIL_COUNT, MSG_COMM_MAIL},
  };
  for (const ListLike& l : lists) {
    cells.push_back({l.op, Hit::kSilentCount, l.count});
    for (Hit hit : {Hit::kSilentItem, Hit::kCutItem, Hit::kVanishItem, Hit::kWrongCode,
                    Hit::kWrongGroup, Hit::kWrongOperation})
      cells.push_back({l.op, hit, l.item});
  }
  cells.push_back({Op::kGetMail, Hit::kSilentCount2, MSG_COMM_MAIL_COUNT});
  cells.push_back({Op::kGetMail, Hit::kCutContent, MSG_COMM_CONTENT});
  cells.push_back({Op::kGetMail, Hit::kVanishContent, MSG_COMM_CONTENT, MSG_COMM_MAIL});
  // Frames over 4096 bytes: the mail reads the rest of its body; the others
  // must not stumble over what is left on the port.
  cells.push_back({Op::kGetMail, Hit::kOverlong, nullptr});
  cells.push_back({Op::kList, Hit::kOverlong, nullptr});
  cells.push_back({Op::kGetBookmarks, Hit::kOverlong, MSG_BAD_BOOKMARK});
  cells.push_back({Op::kGetAddresses, Hit::kOverlong, nullptr});
  // The file download and its echo.
  cells.push_back({Op::kGetFile, Hit::kSilentItem, MSG_COMM_FILE});
  cells.push_back({Op::kGetFile, Hit::kCutItem, MSG_COMM_HEADER});
  cells.push_back({Op::kGetFile, Hit::kVanishItem, MSG_COMM_HEADER, MSG_COMM_FILE});
  cells.push_back({Op::kGetFile, Hit::kCutContent, MSG_COMM_CONTENT});
  cells.push_back(
      {Op::kGetFile, Hit::kVanishContent, MSG_COMM_CONTENT, MSG_COMM_HEADER, MSG_COMM_FILE});
  cells.push_back({Op::kGetFile, Hit::kWrongEcho, MSG_FILE_NOT_FOUND});
  cells.push_back({Op::kGetFile, Hit::kMissingFile, MSG_FILE_NOT_FOUND});
  // Uploads: a reply that does not say "0" is a refusal, whatever the cause;
  // a set that failed midway says that the handset's set is incomplete.
  for (Op op : {Op::kPutFile, Op::kPutBookmarks, Op::kPutAddresses, Op::kPutMail})
    for (Hit hit : {Hit::kSilentItem, Hit::kCutItem, Hit::kVanishItem, Hit::kRefused})
      cells.push_back({op, hit,
                       op == Op::kPutBookmarks   ? MSG_BOOKMARKS_INCOMPLETE
                       : op == Op::kPutAddresses ? MSG_ADDRESS_INCOMPLETE
                                                 : MSG_UPLOAD_FAILED});
  cells.push_back({Op::kPutBookmarks, Hit::kSilentStart, nullptr});
  cells.push_back({Op::kPutAddresses, Hit::kSilentStart, nullptr});
  return cells;
}

#ifdef _WIN32
constexpr int kBoundMs = 12000;  // Wine's COM pair answers late
#else
constexpr int kBoundMs = 4000;
#endif

class FaultMatrixTest : public HandsetFixture, public ::testing::WithParamInterface<Cell> {
 protected:
  handset::Fault Bend(handset::Fault::Action action, int code, int group, int operation) {
    handset::Fault f;
    f.action = action;
    f.code = code;
    f.group = group;
    f.operation = operation;
    return f;
  }

  // Prepares the local side as the command does before it connects: the
  // listing, the selected row and destination, or the local file to send.
  void Prepare(Op op) {
    if (op == Op::kList) return;
    ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr));
    ++goodbyes;
    if (IsDownload(op)) {
      const int icon = op == Op::kGetFile        ? 0
                       : op == Op::kGetBookmarks ? kIconBookmarks
                       : op == Op::kGetAddresses ? kIconAddressBook
                                                 : kIconMail;
      ASSERT_TRUE(SelectOnly(icon, op == Op::kGetFile ? L"photo.jpg" : L""));
      WCHAR name[kPathUnits];
      bool several = false;
      ASSERT_TRUE(ProposeDownloadName(name, &several));
      StoreDownloadDestination((ProgramPath(folder) + L"\\" + name).c_str(), several);
      return;
    }
    std::string bytes;
    const char* file = "";
    switch (op) {
      case Op::kPutFile:
        file = "up.png";
        bytes = Filler(5000, 9);
        break;
      case Op::kPutBookmarks:
        file = "bookmark.txt";
        bytes = handset::BookmarkFileText({{5, 42, "new", "http://new.example/"}});
        break;
      case Op::kPutAddresses:
        file = "address.txt";
        bytes = "BEGIN:VCARD\r\nN:new\r\nEND:VCARD\r\n";
        break;
      default: {
        handset::MailItem mail;
        mail.header[0] = "a";
        mail.header[1] = "b";
        mail.header[2] = "c";
        mail.header[3] = "new";
        mail.body = "new body\r\n";
        file = "mail000.txt";
        bytes = handset::MailFileText(mail);
        break;
      }
    }
    WriteAll(folder / file, bytes);
    WCHAR name[kPathUnits];
    StoreUploadSource(ProgramPath(folder / file).c_str(), name);
    uploadName = name;
  }

  void Apply(Op op, Hit hit) {
    using F = handset::Fault;
    const Keys k = KeysOf(op);
    handset::Fault f;
    switch (hit) {
      case Hit::kNone:
        break;
      case Hit::kNoiseBefore:
        f = Bend(F::kNoise, -1, -1, -1);
        f.bytes = std::string("\x00\xE1\x00\xE1\x01\x02\xE1", 7);
        H().AddFault(f);
        break;
      case Hit::kTrailing:
        f = Bend(F::kExtra, -1, -1, -1);
        f.bytes = std::string("\r\n\x00\x02\xE1", 5);
        H().AddFault(f);
        break;
      case Hit::kByteByByte:
        f = Bend(F::kPieces, -1, -1, -1);
        f.maxPiece = 1;
        H().AddFault(f);
        break;
      case Hit::kSmallPieces:
        f = Bend(F::kPieces, -1, -1, -1);
        f.maxPiece = 300;
        f.ms = 3;
        H().AddFault(f);
        break;
      case Hit::kDelay:
        // Longer than one read's time-out, shorter than the silence limit.
        g_silenceLimitMs = 3000;
        f = Bend(F::kDelay, k.dataCode, k.dataGroup, k.dataOp);
        f.ms = 1500;
        f.times = 1;
        H().AddFault(f);
        break;
      case Hit::kSilentHello:
        H().AddFault(Bend(F::kSilence, 0, 1, 1));
        break;
      case Hit::kSilentPin:
        H().AddFault(Bend(F::kSilence, 1, 2, 1));
        break;
      case Hit::kSilentCount:
        H().AddFault(Bend(F::kSilence, k.countCode, k.countGroup, k.countOp));
        break;
      case Hit::kSilentCount2:
        H().AddFault(Bend(F::kSilence, 2, 5, 1));
        break;
      case Hit::kSilentItem:
      case Hit::kCutItem:
      case Hit::kVanishItem:
        f = Bend(hit == Hit::kVanishItem ? F::kVanish : F::kSilence, k.dataCode, k.dataGroup,
                 k.dataOp);
        f.item = (op == Op::kGetFile || IsUpload(op)) ? -1 : 0;
        // Inside the echo of a download; inside the payload of an item;
        // inside the header of an upload's one-byte reply.
        f.at = hit == Hit::kSilentItem ? 0 : op == Op::kGetFile ? 16 : IsUpload(op) ? 6 : 20;
        H().AddFault(f);
        break;
      case Hit::kCutContent:
      case Hit::kVanishContent:
        f = Bend(hit == Hit::kVanishContent ? F::kVanish : F::kSilence, k.dataCode, k.dataGroup,
                 k.dataOp);
        if (op == Op::kGetMail) f.item = 1;  // the long one: the body beyond one frame
        f.at = op == Op::kGetFile ? 12 + kPhotoEcho.size() + 1000 : 5000;
        H().AddFault(f);
        break;
      case Hit::kWrongCode:
      case Hit::kWrongGroup:
      case Hit::kWrongOperation: {
        std::vector<handset::Frame> frames = H().Items(static_cast<unsigned>(k.dataGroup));
        ASSERT_GE(frames.size(), 2u);
        handset::Frame& bad = frames[1];
        if (hit == Hit::kWrongCode) bad.code = 2;
        if (hit == Hit::kWrongGroup) bad.group = k.dataGroup == 6 ? 8 : 6;
        if (hit == Hit::kWrongOperation) bad.operation = 1;
        H().OverrideItems(static_cast<unsigned>(k.dataGroup), frames);
        break;
      }
      case Hit::kOverlong: {
        std::vector<handset::Frame> frames = H().Items(static_cast<unsigned>(k.dataGroup));
        ASSERT_GE(frames.size(), 2u);
        // Whatever follows the first 4096 bytes stays on the port for the
        // program to deal with: filler that holds no frame marker.
        switch (op) {
          case Op::kList:
            frames[0].payload =
                handset::ListingItem({Filler(5000, 4), "other", "x", "2026/12/05 10:00"});
            break;
          case Op::kGetBookmarks:
            frames[0].payload = handset::BookmarkRecord({0, 1, "t", "http://" + Filler(5000, 4)});
            break;
          case Op::kGetAddresses:
            frames[0].payload = "BEGIN:VCARD\r\nNOTE:" + Filler(9000, 4) + "\r\nEND:VCARD\r\n";
            break;
          default:
            frames[0].payload += Filler(5000, 4);  // a mail body beyond one frame
            break;
        }
        H().OverrideItems(static_cast<unsigned>(k.dataGroup), frames);
        break;
      }
      case Hit::kWrongEcho:
        H().OverrideReply(3, 6, 2, "photo.jpg\tother\t" + Filler(3000, 1), 1);
        break;
      case Hit::kMissingFile: {
        handset::Content c = H().GetContent();
        c.files.erase(c.files.begin());
        H().SetContent(c);
        break;
      }
      case Hit::kRefused:
        H().RefuseUpload(static_cast<unsigned>(k.dataGroup), 0);
        break;
      case Hit::kSilentStart:
        H().AddFault(Bend(F::kSilence, 3, k.dataGroup, 4));
        break;
    }
  }

  Message Run(Op op) {
    if (op == Op::kList) return GetListingCommand();
    if (IsDownload(op)) return RunDownload();
    const UploadKind kind = op == Op::kPutFile        ? kUploadFile
                            : op == Op::kPutBookmarks ? kUploadBookmarks
                            : op == Op::kPutAddresses ? kUploadAddressBook
                                                      : kUploadMail;
    return RunUpload(kind, uploadName.c_str());
  }

  // What the failed or finished download left in the folder (empty before).
  void CheckFiles(const Cell& cell, const handset::Content& before) {
    // A download that did not run to its end leaves nothing at all behind:
    // no file cut short, no part file. Skipped faulty items still count as
    // an end.
    const bool ranToEnd =
        !cell.expect || (cell.op == Op::kGetBookmarks && cell.hit == Hit::kOverlong);
    if (!ranToEnd) {
      std::vector<std::string> left;
      for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
      EXPECT_TRUE(left.empty()) << testing::PrintToString(left);
      return;
    }
    switch (cell.op) {
      case Op::kGetFile:
        EXPECT_EQ(ReadAll(folder / "photo.jpg"), before.files[0].data);
        break;
      case Op::kGetBookmarks:
        if (cell.hit == Hit::kOverlong) {
          // The bookmark that did not fit is skipped; the next one is whole.
          EXPECT_EQ(ReadAll(folder / "bookmark.txt"),
                    handset::BookmarkFileText({before.bookmarks[1]}));
        } else {
          EXPECT_EQ(ReadAll(folder / "bookmark.txt"), handset::BookmarkFileText(before.bookmarks));
        }
        break;
      case Op::kGetAddresses:
        if (cell.hit == Hit::kOverlong) {
          // However the entry that did not fit is kept, the next one follows whole.
          const std::string text = ReadAll(folder / "address.txt");
          ASSERT_GE(text.size(), before.addresses[1].size());
          EXPECT_EQ(text.substr(text.size() - before.addresses[1].size()), before.addresses[1]);
        } else {
          EXPECT_EQ(ReadAll(folder / "address.txt"), before.addresses[0] + before.addresses[1]);
        }
        break;
      case Op::kGetMail: {
        EXPECT_EQ(ReadAll(folder / "mail000.txt"), handset::MailFileText(before.lightMails[0]));
        // An item over 4096 bytes: the rest of its body comes off the port.
        const std::string tail = cell.hit == Hit::kOverlong ? Filler(5000, 4) : "";
        EXPECT_EQ(ReadAll(folder / "mail001.txt"), handset::MailFileText(before.mails[0]) + tail);
        EXPECT_EQ(ReadAll(folder / "mail002.txt"), handset::MailFileText(before.mails[1]));
        break;
      }
      default:
        break;
    }
  }

  int goodbyes = 0;
  std::wstring uploadName;
};

TEST_P(FaultMatrixTest, EndsWithItsMessageAndTheNextConnectionWorks) {
  const Cell cell = GetParam();
  Prepare(cell.op);
  if (HasFatalFailure()) return;
  const handset::Content before = H().GetContent();
  Apply(cell.op, cell.hit);
  if (HasFatalFailure()) return;

  const auto start = std::chrono::steady_clock::now();
  const Message result = Run(cell.op);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  if (cell.alt && result &&
      (Shown(result) == cell.alt || (cell.alt2 && Shown(result) == cell.alt2))) {
    // Accepted: the vanishing port took the last bytes along.
  } else {
    EXPECT_EQ(Shown(result), Shown(cell.expect));
  }
  EXPECT_LT(ms, kBoundMs + (cell.hit == Hit::kDelay ? 1500 : 0));
  EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  ASSERT_FALSE(g_testFrontend.statuses.empty());
  EXPECT_EQ(g_testFrontend.statuses.back().text, result ? std::wstring(result) : L"");
  if (IsDownload(cell.op)) CheckFiles(cell, before);

  const bool vanished = cell.hit == Hit::kVanishItem || cell.hit == Hit::kVanishContent;
  if (vanished) {
    // Plugged in again: a new port, the program's state otherwise as left.
    Plug(H().GetContent());
  } else {
    ++goodbyes;
    EXPECT_TRUE(H().WaitForRequest(255, 1, 2, goodbyes, 5000)) << "no goodbye";
    H().ClearControl();
  }
  if (cell.hit == Hit::kRefused) {
    EXPECT_EQ(H().GetContent().files.size(), before.files.size());
  }

  g_silenceLimitMs = 1000;
  const handset::Content now = H().GetContent();
  ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr)) << "the next connection";
  EXPECT_EQ(RowCount(), 3 + static_cast<int>(now.files.size()));
  EXPECT_TRUE(g_connected);
  // Only a PIN that went unanswered is asked for again.
  EXPECT_EQ(g_testFrontend.askPinCalls, cell.hit == Hit::kSilentPin ? 1 : 0);
  if (!vanished) {
    ++goodbyes;
    EXPECT_TRUE(H().WaitForRequest(255, 1, 2, goodbyes, 5000));
  }
  // The program kept to the protocol throughout, faults or not.
  const auto violations = H().Violations();
  EXPECT_TRUE(violations.empty()) << violations.front();
  if (IsUpload(cell.op) && !cell.expect) {
    const bool stored =
        cell.op == Op::kPutFile
            ? std::any_of(now.files.begin(), now.files.end(),
                          [](const handset::StoredFile& f) { return f.name == "up.png"; })
        : cell.op == Op::kPutBookmarks
            ? std::any_of(now.bookmarks.begin(), now.bookmarks.end(),
                          [](const handset::Bookmark& b) { return b.title == "new"; })
        : cell.op == Op::kPutAddresses
            ? std::any_of(now.addresses.begin(), now.addresses.end(),
                          [](const std::string& a) { return a.find("N:new") != std::string::npos; })
            : std::any_of(now.mails.begin(), now.mails.end(),
                          [](const handset::MailItem& m) { return m.header[3] == "new"; });
    EXPECT_TRUE(stored) << "the uploaded item is not in the handset";
  }
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  return std::string(OpName(info.param.op)) + "_" + HitName(info.param.hit);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrixTest, ::testing::ValuesIn(Cells()), CellName);

}  // namespace
