// A whole backup folder exported: what goes where, what is refused, and that
// the backup stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

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

// Every file under a folder with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
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
  const WCHAR* Export(const fs::path& from, const fs::path& to) {
    from_ = from.wstring();
    to_ = to.wstring();
    return ExportBackup(from_.c_str(), to_.c_str(), report_.get());
  }
  std::string Problems() const {
    std::string all;
    for (int i = 0; i < report_->problems.listed(); ++i)
      all += std::string(report_->problems.text(i)) + "\n";
    return all;
  }

  fs::path root_;
  std::wstring from_, to_;
  std::unique_ptr<ExportReport> report_;
};

TEST_F(BackupExportTest, AnEmptyBackupGivesAnEmptyExport) {
  EXPECT_EQ(Export(root_ / "bk", root_ / "out"), nullptr);
  EXPECT_TRUE(fs::is_directory(root_ / "out"));
  EXPECT_TRUE(fs::is_empty(root_ / "out"));
  EXPECT_EQ(report_->problems.count(), 0);
  const std::string summary = ExportSummaryText(*report_);
  EXPECT_NE(summary.find("exported 0 contacts, 0 bookmarks, 0 mails; 0 other files copied"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("no address.txt"), std::string::npos) << summary;
  EXPECT_NE(summary.find("no problems"), std::string::npos) << summary;
}

TEST_F(BackupExportTest, EveryFileGoesWhereItBelongsAndTheBackupStays) {
  const fs::path bk = root_ / "bk";
  Write(bk / "address.txt", "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" +
                                Sjis(L"鈴木;一郎") + "\r\nEND:VCARD\r\n");
  Write(bk / "bookmark.txt", "00\t00\t" + Sjis(L"天気") + "\thttp://w/\r\n");
  Write(bk / "mail000.txt", "X-PORIKA-LIGHT: 1,2,3,4\r\n\r\na\r\nb\r\nc");
  Write(bk / "MAIL001.TXT", "X-PORIKA-MAIL: 1,2,3,4\r\n" + Sjis(L"本文") + "\r\n");
  Write(bk / "mail7.txt", "not a mail file name");
  std::string binary(200000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) >> 3);
  Write(bk / "photo.jpg", binary);
  Write(bk / "empty.bin", "");
  Write(bk / "contacts.vcf", "a handset file of that name");  // the export's own name
  Write(bk / "contacts-1.vcf", "taken too");
  fs::create_directories(bk / "sub");
  Write(bk / "sub" / "x.txt", "x");
  const auto before = Snapshot(bk);

  ASSERT_EQ(Export(bk, root_ / "out"), nullptr);
  const fs::path out = root_ / "out";
  EXPECT_EQ(Snapshot(bk), before);
  EXPECT_EQ(Read(out / "contacts.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎\r\nFN:鈴木 一郎\r\nEND:VCARD\r\n");
  EXPECT_NE(Read(out / "bookmarks.html").find("<A HREF=\"http://w/\">天気</A>"), std::string::npos);
  EXPECT_EQ(Read(out / "mail" / "mail000.txt"), "X-PORIKA-LIGHT: 1,2,3,4\n\na\nb\nc");
  EXPECT_EQ(Read(out / "mail" / "MAIL001.TXT"), "X-PORIKA-MAIL: 1,2,3,4\n本文\n");
  EXPECT_TRUE(Read(out / "photo.jpg") == binary);
  EXPECT_TRUE(fs::exists(out / "empty.bin"));
  EXPECT_EQ(Read(out / "mail7.txt"), "not a mail file name");
  EXPECT_EQ(Read(out / "contacts-1.vcf"), "taken too");
  EXPECT_EQ(Read(out / "contacts-2.vcf"), "a handset file of that name");
  EXPECT_FALSE(fs::exists(out / "sub"));

  EXPECT_EQ(report_->contacts, 1u);
  EXPECT_EQ(report_->bookmarks, 1u);
  EXPECT_EQ(report_->lightMails, 1u);
  EXPECT_EQ(report_->mails, 1u);
  EXPECT_EQ(report_->files, 5u);  // photo, empty, mail7, both contacts files
  EXPECT_EQ(report_->fileBytes, binary.size() + 20 + 9 + 27);
  EXPECT_FALSE(report_->incomplete);
  const std::string problems = Problems();
  EXPECT_EQ(report_->problems.count(), 2) << problems;
  EXPECT_NE(problems.find("contacts.vcf: its name is the export's own; copied as contacts-2.vcf"),
            std::string::npos)
      << problems;
  EXPECT_NE(problems.find("sub: a folder: not exported"), std::string::npos) << problems;

  // Again into the same folder: the same result, files overwritten.
  ASSERT_EQ(Export(bk, out), nullptr);
  EXPECT_EQ(report_->contacts, 1u);
  EXPECT_EQ(Read(out / "mail" / "mail000.txt"), "X-PORIKA-LIGHT: 1,2,3,4\n\na\nb\nc");
}

TEST_F(BackupExportTest, FoldersThatWouldChangeTheBackupAreRefused) {
  const fs::path bk = root_ / "bk";
  Write(bk / "address.txt", "");
  Write(root_ / "file", "x");
  fs::create_directories(root_ / "outer" / "bk");
  const struct {
    fs::path from, to;
    const wchar_t* message;
  } cases[] = {
      {bk, bk, L"the export folder must lie outside the backup folder"},
      {bk, bk / "out", L"the export folder must lie outside the backup folder"},
      {root_ / "outer" / "bk", root_ / "outer",
       L"the backup folder must not lie inside the export folder"},
      {root_ / "missing", root_ / "out", L"the backup is not a folder"},
      {bk, root_ / "file", L"the export folder is a file"},
      {bk, root_ / "no" / "such", L"cannot make the export folder"},
  };
  const auto before = Snapshot(root_);
  for (const auto& c : cases) {
    const WCHAR* message = Export(c.from, c.to);
    ASSERT_NE(message, nullptr) << c.to;
    EXPECT_STREQ(message, c.message) << c.to;
  }
  EXPECT_EQ(Snapshot(root_), before);
  // A folder beside the backup whose name starts the same is no part of it.
  EXPECT_EQ(Export(bk, root_ / "bk-out"), nullptr);
  EXPECT_TRUE(fs::exists(root_ / "bk-out" / "contacts.vcf"));
}

}  // namespace
