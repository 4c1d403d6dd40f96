// The bookmark download: the comment line, one line per good item, skipped
// items counted, the link failing part-way.
#include "tests/download/download_fixture.h"

namespace {

const std::string kComment =
    "\x3B\x83\x74\x83\x48\x83\x8B\x83\x5F\x2C\x28\x83\x81\x83\x82\x83\x8A\x94\xD4\x8D\x86\x29\x2C"
    "\x83\x5E\x83\x43\x83\x67\x83\x8B\x2C\x55\x52\x4C\x20\x82\xCC\x83\x5E\x83\x75\x8B\xE6\x90\xD8"
    "\x82\xE8\x0D\x0A";

std::string Bookmark(const std::string& title, const std::string& url, const std::string& memory,
                     const std::string& folder) {
  return Record({Field(1, title, 2), Field(2, url), Field(3, memory), Field(4, folder, 2)});
}

class BookmarkTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    target = FilePath("bookmark.txt");
  }

  // Peer side: the count, then each item followed by its acknowledgement.
  void Serve(const std::vector<std::string>& items) {
    Next();
    Send(2, 8, 1, std::to_string(items.size()));
    if (items.empty()) return;
    Next();
    for (const auto& item : items) {
      Send(3, 8, 2, item);
      Next();
    }
  }

  std::wstring target;
};

TEST_F(BookmarkTest, NoBookmarksGiveJustTheCommentLine) {
  PeerScript script([&] {
    Next();
    Send(2, 8, 1, "0");
  });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), kComment);
  EXPECT_EQ(kComment.size(), 50u);
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/8/1:"}));
  EXPECT_TRUE(Quiet());
}

// A count that is not a number is a link error, never "no bookmarks": the
// earlier file stays.
TEST_F(BookmarkTest, ACountThatIsNotANumberKeepsTheEarlierFile) {
  WriteLocal(folder / "bookmark.txt", "earlier");
  for (const char* count : {"none", "-1", "", " 3", "99999999"}) {
    PeerScript script([&] {
      Next();
      Send(2, 8, 1, count);
    });
    EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_COMM_BOOKMARK_COUNT)) << count;
    script.Join();
    EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), "earlier") << count;
  }
}

TEST_F(BookmarkTest, GoodItemsAreLinesAndFaultyOnesAreCountedAndSkipped) {
  const std::string sjisTitle = "\x83\x5E\x83\x43\x83\x67\x83\x8B";  // "タイトル"
  const std::vector<std::string> items = {
      Bookmark("Top", "http://a.example/", "7", "3"),
      Bookmark("", "http://empty.title/", "1", "0"),  // empty title is fine
      // Tags 1, 2, 4, 3: tag 3 is looked for at tag 4 and never found.
      Record({Field(1, "order"), Field(2, "http://o/"), Field(4, "1"), Field(3, "2")}),
      Record({Field(1, "no url"), Field(3, "4"), Field(4, "5")}),
      Bookmark("negative", "http://n/", "-1", "2"),
      Bookmark(sjisTitle, "http://j/", "99", "19"),
  };
  PeerScript script([&] { Serve(items); });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_BAD_BOOKMARK));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), kComment +
                                                    "03\t07\tTop\thttp://a.example/\r\n"
                                                    "00\t01\t\thttp://empty.title/\r\n"
                                                    "19\t99\t" +
                                                    sjisTitle + "\thttp://j/\r\n");
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u + items.size());
  EXPECT_EQ(log[1], "3/8/2:");
  for (std::size_t i = 2; i < log.size(); ++i) EXPECT_EQ(log[i], kAck);
}

TEST_F(BookmarkTest, ThreeItemsSecondWithoutUrl) {
  PeerScript script([&] {
    Serve({Bookmark("one", "u1", "0", "0"), Record({Field(1, "two"), Field(3, "1"), Field(4, "0")}),
           Bookmark("three", "u3", "2", "0")});
  });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_BAD_BOOKMARK));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"),
            kComment + "00\t00\tone\tu1\r\n00\t02\tthree\tu3\r\n");
  EXPECT_EQ(Log().size(), 5u);
}

TEST_F(BookmarkTest, WrongFrameOnTheFifthOfTenLeavesTheOlderFileAsItWas) {
  WriteLocal(folder / "bookmark.txt", "older");
  PeerScript script([&] {
    Next();
    Send(2, 8, 1, "10");
    Next();
    for (int i = 0; i < 4; ++i) {
      Send(3, 8, 2, Bookmark("t" + std::to_string(i), "u", std::to_string(i), "1"));
      Next();
    }
    Send(3, 3, 2, Bookmark("wrong group", "u", "5", "1"));
  });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_COMM_BOOKMARK));
  script.Join();
  // The four lines that came are not the handset's bookmarks: nothing of them
  // stays, not even a part file.
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), "older");
  EXPECT_EQ(Names(), std::vector<std::string>{"bookmark.txt"});
  EXPECT_TRUE(Quiet());  // the wrong frame is not acknowledged
}

TEST_F(BookmarkTest, FieldsPastTheFrameAndOverlongFramesAreSkippedInStep) {
  std::string runsPast = Bookmark("t", "u", "1", "1");
  runsPast[runsPast.size() - 5] = 9;  // tag 4's length says 9, one byte arrives
  // A frame longer than the packet buffer: its rest must be read off the port.
  const std::string overlong =
      Record({Field(1, Pattern(5000)), Field(2, "u"), Field(3, "1"), Field(4, "1")});
  WriteLocal(folder / "bookmark.txt", "older");
  PeerScript script([&] { Serve({runsPast, overlong, Bookmark("after", "u", "2", "3")}); });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_BAD_BOOKMARK));
  script.Join();
  // Skipped items are still a transfer that ran to its end: the file replaces.
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), kComment + "03\t02\tafter\tu\r\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"bookmark.txt"});
  EXPECT_TRUE(Quiet());
}

TEST_F(BookmarkTest, LocalFileProblems) {
  const std::wstring missing = FolderPath(folder / "missing") + L"bookmark.txt";
  EXPECT_EQ(W(DownloadBookmarks(missing.c_str())), W(MSG_CANNOT_WRITE));
  EXPECT_TRUE(Quiet());  // nothing sent
}

#ifndef _WIN32
TEST_F(BookmarkTest, FullDiskIsReported) {
  {
    // Not even the comment line fits: nothing is asked of the handset.
    FileSizeLimit limit(10);
    EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_CANNOT_WRITE));
  }
  EXPECT_TRUE(Quiet());
  PeerScript script([&] { Serve({Bookmark("t", std::string(200, 'u'), "1", "1")}); });
  {
    FileSizeLimit limit(60);
    EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_CANNOT_WRITE));
  }
  script.Join();
  EXPECT_TRUE(Names().empty());  // the 60 bytes that fitted went with their part file
}
#else
TEST_F(BookmarkTest, FullDiskIsReported) {
  if (!HaveFullDevice()) GTEST_SKIP() << "no full device";
  // Not even the comment line fits: nothing is asked of the handset.
  EXPECT_EQ(W(DownloadBookmarks(kFullDevice)), W(MSG_CANNOT_WRITE));
  EXPECT_TRUE(Quiet());
}
#endif

TEST_F(BookmarkTest, SilentHandsetAtTheCountOrAnItem) {
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_COMM_BOOKMARK_COUNT));
  EXPECT_TRUE(Names().empty());
  peer.Purge();
  WriteLocal(folder / "bookmark.txt", "older");
  PeerScript script([&] {
    Next();
    Send(2, 8, 1, "2");
    Next();
    Send(3, 8, 2, Bookmark("t", "u", "1", "1"));
    Next();
  });
  EXPECT_EQ(W(DownloadBookmarks(target.c_str())), W(MSG_COMM_BOOKMARK));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), "older");
  EXPECT_EQ(Names(), std::vector<std::string>{"bookmark.txt"});
}

}  // namespace
