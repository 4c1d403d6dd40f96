// A whole backup folder exported: what goes where, what is refused, and that
// the backup stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "export/export.h"
#include "tests/export/export_support.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file under a folder with its bytes; the export's own list of what it
// wrote left out.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename() != ".palvo-export")
      files[fs::relative(e.path(), dir).generic_string()] =
          e.is_regular_file() ? Read(e.path()) : std::string("(folder)");
  return files;
}

class BackupExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("palvo-export-" + std::to_string(rd()));
    fs::create_directories(root_ / "bk");
    report_ = std::make_unique<ExportReport>();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const WCHAR* Export(const fs::path& from, const fs::path& to, bool force = false,
                      bool japanese = false) {
    from_ = from.wstring();
    to_ = to.wstring();
    ExportOptions options;
    options.force = force;
    options.japanese = japanese;
    options.stop = &stop_;
    return ExportBackup(from_.c_str(), to_.c_str(), options, report_.get());
  }
  std::string Problems() const {
    std::string all;
    for (int i = 0; i < report_->problems.listed(); ++i)
      all += std::string(report_->problems.text(i)) + "\n";
    return all;
  }
  // Nothing of a temporary folder is left beside OUT.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_))
      if (e.path().filename().string().find(".palvo-") != std::string::npos)
        names.push_back(e.path().filename().string());
    return names;
  }

  fs::path root_;
  std::wstring from_, to_;
  volatile std::sig_atomic_t stop_ = 0;
  std::unique_ptr<ExportReport> report_;
};

TEST_F(BackupExportTest, AnEmptyBackupGivesAnArchiveAlone) {
  EXPECT_EQ(Export(root_ / "bk", root_ / "out"), nullptr);
  EXPECT_TRUE(fs::exists(root_ / "out" / "index.html"));
  EXPECT_FALSE(fs::exists(root_ / "out" / "contacts.vcf"));
  EXPECT_EQ(report_->problems.count(), 0);
  const std::string summary = ExportSummaryText(*report_, false);
  EXPECT_NE(summary.find("exported 0 contacts, 0 bookmarks, 0 mails; 0 other files copied"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("no address.txt"), std::string::npos) << summary;
  EXPECT_NE(summary.find("no problems"), std::string::npos) << summary;
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BackupExportTest, EveryFileGoesWhereItBelongsAndTheBackupStays) {
  const fs::path bk = root_ / "bk";
  Write(bk / "address.txt", "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" +
                                Sjis(L"鈴木;一郎") + "\r\nTEL:1\r\nEND:VCARD\r\n");
  Write(bk / "me.vcf", "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" + Sjis(L"鈴木;一郎") +
                           "\r\nTEL:2\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:" + Sjis(L"山田;花子") +
                           "\r\nSOUND;X-IRMC-N:" + Sjis(L"ﾔﾏﾀﾞ;ﾊﾅｺ") + "\r\nEND:VCARD\r\n");
  Write(bk / "bookmark.txt", "00\t00\t" + Sjis(L"天気") + "\thttp://w/\r\n");
  Write(bk / "mail000.txt", "X-PORIKA-LIGHT: 1,2,3,4\r\n\r\na\r\nb\r\nc");
  Write(bk / "MAIL001.TXT", "X-PORIKA-MAIL: 1,2,3,4\r\n" + Sjis(L"本文") + "\r\n");
  Write(bk / "mail002.txt", "no mail");
  Write(bk / "mail7.txt", "not a mail file name");
  std::string binary(200000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) >> 3);
  Write(bk / "photo.jpg", binary);
  Write(bk / "empty.bin", "");
  Write(bk / "memo.txt", Sjis(L"買い物: 牛乳"));
  Write(bk / "page.html", "<meta charset=\"Shift_JIS\">" + Sjis(L"ようこそ"));
  Write(bk / "contacts.vcf", "a handset file of that name");
  // The backup's own: hidden and part files, the attic, the list, folders.
  Write(bk / ".palvo-photo2.jpg.part", "cut");
  Write(bk / ".hidden", "x");
  fs::create_directories(bk / "palvo-attic");
  Write(bk / "palvo-attic" / "old.txt", "x");
  Write(bk / "palvo-backup.tsv",
        "palvo 1.0\nhandset name\tcategory\tlocal name\textra\thandset date\n"
        "photo.jpg\timage\tphoto.jpg\t?\t2005/04/01 09:30\n");
  fs::create_directories(bk / "sub");
  Write(bk / "sub" / "x.txt", "x");
  const auto before = Snapshot(bk);

  ASSERT_EQ(Export(bk, root_ / "out"), nullptr);
  const fs::path out = root_ / "out";
  EXPECT_EQ(Snapshot(bk), before);
  EXPECT_EQ(Read(out / "contacts.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎\r\nTEL:1\r\nFN:鈴木 一郎\r\nTEL:2\r\n"
            "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:山田;花子\r\n"
            "X-PHONETIC-LAST-NAME:ヤマダ\r\nX-PHONETIC-FIRST-NAME:ハナコ\r\n"
            "SORT-STRING:ヤマダハナコ\r\nFN:山田 花子\r\nEND:VCARD\r\n");
  EXPECT_NE(Read(out / "bookmarks.html").find("<A HREF=\"http://w/\">天気</A>"), std::string::npos);
  EXPECT_TRUE(fs::exists(out / "mail" / "000.eml"));
  EXPECT_TRUE(fs::exists(out / "mail" / "001.eml"));
  EXPECT_TRUE(fs::exists(out / "archive" / "mail" / "001.html"));
  EXPECT_FALSE(fs::exists(out / "mail" / "002.eml"));
  EXPECT_EQ(Read(out / "files" / "mail002.txt"), "no mail");
  EXPECT_TRUE(Read(out / "files" / "photo.jpg") == binary);
  EXPECT_EQ(fs::last_write_time(out / "files" / "photo.jpg"),
            fs::last_write_time(bk / "photo.jpg"));
  EXPECT_TRUE(fs::exists(out / "files" / "empty.bin"));
  EXPECT_EQ(Read(out / "files" / "mail7.txt"), "not a mail file name");
  EXPECT_EQ(Read(out / "files" / "contacts.vcf"), "a handset file of that name");
  EXPECT_EQ(Read(out / "files" / "memo.txt"), Sjis(L"買い物: 牛乳"));
  EXPECT_EQ(Read(out / "files" / "memo.utf-8.txt"), "買い物: 牛乳");
  EXPECT_EQ(Read(out / "files" / "page.utf-8.html"), "<meta charset=\"UTF-8\">ようこそ");
  EXPECT_NE(Read(out / "files" / "me.utf-8.vcf").find("N;CHARSET=UTF-8:鈴木;一郎"),
            std::string::npos);
  EXPECT_NE(Read(out / "archive" / "files.html").find("2005/04/01 09:30"), std::string::npos);
  for (const char* gone : {"sub", "palvo-attic", "palvo-backup.tsv", ".hidden",
                           ".palvo-photo2.jpg.part", "address.txt", "bookmark.txt"}) {
    EXPECT_FALSE(fs::exists(out / gone)) << gone;
    EXPECT_FALSE(fs::exists(out / "files" / gone)) << gone;
  }

  EXPECT_EQ(report_->contacts, 2u);
  EXPECT_EQ(report_->mergedContacts, 1u);
  EXPECT_EQ(report_->bookmarks, 1u);
  EXPECT_EQ(report_->lightMails, 1u);
  EXPECT_EQ(report_->mails, 1u);
  EXPECT_EQ(report_->notMails, 1u);
  EXPECT_EQ(report_->files, 8u);  // photo, empty, memo, page, mail7, mail002, both .vcf
  EXPECT_EQ(report_->utf8Copies, 3u);
  EXPECT_EQ(report_->photos, 1u);
  EXPECT_TRUE(report_->manifest);
  const std::string problems = Problems();
  EXPECT_NE(problems.find("sub: a folder: not exported"), std::string::npos) << problems;
  EXPECT_NE(problems.find("contacts.vcf:1: text outside a card"), std::string::npos) << problems;
  EXPECT_TRUE(Leftovers().empty());
}

// One run, one language: the English as it always was, the Japanese with no
// English sentence of its own (file names and formats aside), refusals too.
TEST_F(BackupExportTest, TheSummaryAndProblemsAreInTheRunsLanguage) {
  const fs::path bk = root_ / "bk";
  std::string card = "BEGIN:VCARD\r\nN:a\xFF\r\n";
  for (int i = 0; i < 101; ++i) card += "x\r\n";
  Write(bk / "address.txt", card + "END:VCARD\r\n");
  Write(bk / "mail000.txt", "no mail");
  fs::create_directories(bk / "sub");
  fs::create_directories(root_ / "ja");
  Write(root_ / "ja" / "mine.txt", "kept aside");

  ASSERT_EQ(Export(bk, root_ / "en"), nullptr);
  const std::string english = ExportSummaryText(*report_, false);
  const std::string englishProblems = Problems();
  // The refusals too.
  const WCHAR* refused = Export(bk, root_ / "ja", false, true);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(std::wstring(refused).find(L" holds files"), std::wstring::npos);
  EXPECT_NE(std::wstring(refused).find(L"--force を付けると"), std::wstring::npos);
  ASSERT_NE(Export(bk, bk, false, true), nullptr);
  EXPECT_STREQ(Export(bk, bk, false, true),
               L"書き出し先はバックアップのフォルダの外にしてください");
  ASSERT_EQ(Export(bk, root_ / "ja", true, true), nullptr);
  const std::string japanese = ExportSummaryText(*report_, true);
  const std::string japaneseProblems = Problems();

  EXPECT_EQ(english.substr(0, english.find("  ", english.find("problems:"))),
            "exported 1 contact, 0 bookmarks, 0 mails; 1 other file copied\n"
            "  index.html      the archive: open it in a browser\n"
            "  contacts.vcf    1 contact (vCard 3.0) from 1 file, 0 duplicates merged\n"
            "  bookmarks.html  not made: no bookmark.txt\n"
            "  mail.mbox, mail/ not made: no mail\n"
            "                  1 mailNNN.txt that is no mail, kept under files/\n"
            "  files/          1 file as it is (7 bytes, 0 photos), 0 UTF-8 copies\n"
            "no palvo-backup.tsv: dates and kinds taken from the files\n"
            "1 byte that was not valid text became U+FFFD\n"
            "104 problems:\n");
  EXPECT_NE(english.find("\n  ... and 4 more\n"), std::string::npos);
  EXPECT_NE(englishProblems.find("sub: a folder: not exported\n"), std::string::npos);
  EXPECT_NE(englishProblems.find("address.txt:3: card 1: a line without ':' left out\n"),
            std::string::npos);

  EXPECT_NE(japanese.find("\n問題 104 件:\n"), std::string::npos) << japanese;
  EXPECT_NE(japanese.find("\n  ... ほか 4 件\n"), std::string::npos) << japanese;
  EXPECT_NE(japanese.find("ja.before-export に置きました\n"), std::string::npos) << japanese;
  EXPECT_NE(japaneseProblems.find("sub: フォルダです: 書き出しません\n"), std::string::npos);
  EXPECT_NE(japaneseProblems.find("address.txt:3: カード 1: ':' のない行を除きました\n"),
            std::string::npos);
  const std::regex threeWords("[A-Za-z]+[ ,;:]+[A-Za-z]+[ ,;:]+[A-Za-z]+");
  std::istringstream lines(japanese);
  for (std::string line; std::getline(lines, line);)
    EXPECT_FALSE(std::regex_search(line, threeWords)) << line;
}

TEST_F(BackupExportTest, FoldersThatWouldChangeTheBackupAreRefused) {
  const fs::path bk = root_ / "bk";
  Write(bk / "address.txt", "");
  Write(root_ / "file", "x");
  fs::create_directories(root_ / "outer" / "bk");
  fs::create_directories(bk / "inner");
  std::error_code noLinks;  // MinGW's library makes no links under Wine
  fs::create_directory_symlink(bk / "inner", root_ / "link-into-backup", noLinks);
#ifndef _WIN32
  ASSERT_FALSE(noLinks) << noLinks.message();
#endif
  const struct {
    fs::path from, to;
    const wchar_t* message;
  } cases[] = {
      {bk, bk, L"the export folder must lie outside the backup folder"},
      {bk, bk / "out", L"the export folder must lie outside the backup folder"},
      {bk, root_ / "link-into-backup", L"the export folder must lie outside the backup folder"},
      {bk, root_ / "link-into-backup" / "out",
       L"the export folder must lie outside the backup folder"},
      {root_ / "outer" / "bk", root_ / "outer",
       L"the backup folder must not lie inside the export folder"},
      {root_ / "missing", root_ / "out", L"the backup is not a folder"},
      {bk, root_ / "file", L"the export folder is a file"},
      {bk, root_ / "no" / "such", L"cannot make the export folder"},
  };
  const auto before = Snapshot(root_);
  for (const auto& c : cases) {
    if (noLinks && c.to.string().find("link-into-backup") != std::string::npos) continue;
    const WCHAR* message = Export(c.from, c.to);
    ASSERT_NE(message, nullptr) << c.to;
    EXPECT_STREQ(message, c.message) << c.to;
  }
  EXPECT_EQ(Snapshot(root_), before);
  // A folder beside the backup whose name starts the same is no part of it.
  EXPECT_EQ(Export(bk, root_ / "bk-out"), nullptr);
  EXPECT_TRUE(fs::exists(root_ / "bk-out" / "contacts.vcf"));
}

// An earlier export is replaced whole; a folder of the person's own is
// refused, and with --force kept aside whole.
TEST_F(BackupExportTest, AnEarlierExportIsReplacedAndOtherFilesAreKept) {
  const fs::path bk = root_ / "bk", out = root_ / "out";
  Write(bk / "mail000.txt", "X-PORIKA-MAIL: a,b,c,d\r\none");
  Write(bk / "mail001.txt", "X-PORIKA-MAIL: a,b,c,d\r\ntwo");
  ASSERT_EQ(Export(bk, out), nullptr);
  fs::remove(bk / "mail001.txt");
  ASSERT_EQ(Export(bk, out), nullptr);
  EXPECT_TRUE(fs::exists(out / "mail" / "000.eml"));
  EXPECT_FALSE(fs::exists(out / "mail" / "001.eml"));
  EXPECT_EQ(Read(out / "mail.mbox").find("two"), std::string::npos);
  EXPECT_TRUE(Leftovers().empty());

  // A file of the person's own in OUT makes it no export of ours.
  Write(out / "mine.txt", "my notes");
  const auto mine = Snapshot(out);
  const WCHAR* refused = Export(bk, out);
  ASSERT_NE(refused, nullptr);
  EXPECT_NE(std::wstring(refused).find(L"mine.txt"), std::wstring::npos);
  EXPECT_NE(std::wstring(refused).find(L"--force"), std::wstring::npos);
  EXPECT_EQ(Snapshot(out), mine);
  EXPECT_TRUE(Leftovers().empty());

  ASSERT_EQ(Export(bk, out, true), nullptr);
  EXPECT_FALSE(fs::exists(out / "mine.txt"));
  EXPECT_EQ(Snapshot(root_ / "out.before-export"), mine);
  EXPECT_NE(report_->keptAside.find("out.before-export"), std::string::npos);
}

// A stop or a failed write leaves OUT as it was and nothing beside it.
TEST_F(BackupExportTest, AStopOrAFailureLeavesTheEarlierExport) {
  const fs::path bk = root_ / "bk", out = root_ / "out";
  Write(bk / "small.bin", "x");
  ASSERT_EQ(Export(bk, out), nullptr);
  const auto earlier = Snapshot(out);
  Write(bk / "big.bin", std::string(300000, 'b'));
  stop_ = 1;
  const WCHAR* stopped = Export(bk, out);
  ASSERT_NE(stopped, nullptr);
  EXPECT_STREQ(stopped, L"stopped; the export folder is left as it was");
  EXPECT_EQ(Snapshot(out), earlier);
  EXPECT_TRUE(Leftovers().empty());
  stop_ = 0;
#ifndef _WIN32
  // A file system that takes no more than 100 kB of one file: as a full disk.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 100000;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const WCHAR* failed = Export(bk, out);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_NE(failed, nullptr);
  EXPECT_NE(std::wstring(failed).find(L"files/big.bin: could not be written whole"),
            std::wstring::npos);
  EXPECT_EQ(Snapshot(out), earlier);
  EXPECT_TRUE(Leftovers().empty());
#endif
}

}  // namespace
