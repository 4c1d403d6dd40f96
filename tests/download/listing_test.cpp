// The listing: the count query, the fixed rows, one row per item with its
// size, date and sort key, the acknowledgements, and what stays after a fault.
#include "download/listing.h"

#include <climits>

#include "commands/commands.h"
#include "tests/download/download_fixture.h"

namespace {

struct ListedRow {
  int icon;
  LPARAM key;
  std::wstring name, size, date;
};

// Shift-JIS bytes of "写真" (photograph).
const std::string kPhotoSjis = "\x8E\xCA\x90\x5E";

class ListingTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    if (!UseRowView()) GTEST_SKIP() << "no list view in this build";
  }
  void TearDown() override {
    DropRowView();
    DownloadTest::TearDown();
  }

  // Peer side: answers the count query with count, then sends each item after
  // the acknowledgement of the one before. badItem gets the wrong group.
  void Serve(const std::string& count, const std::vector<std::string>& items, int badItem = -1) {
    Next();
    Send(2, 6, 1, count);
    if (items.empty()) return;
    Next();  // the file list request
    for (std::size_t i = 0; i < items.size(); ++i) {
      const bool bad = static_cast<int>(i) == badItem;
      Send(3, bad ? 5 : 6, 7, items[i]);
      if (bad) return;
      Next();  // its acknowledgement, before anything else
    }
  }

  Message Fetch(const std::string& count, const std::vector<std::string>& items, int badItem = -1) {
    PeerScript script([&] { Serve(count, items, badItem); });
    return FetchListing();
  }

  std::vector<ListedRow> Rows() {
    std::vector<ListedRow> rows;
    const int n = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      LVITEMW item = {};
      item.mask = LVIF_IMAGE | LVIF_PARAM;
      item.iItem = i;
      SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
      rows.push_back({item.iImage, ListingSortKey(item.lParam), CellText(i, 0), CellText(i, 1),
                      CellText(i, 2)});
    }
    return rows;
  }

  // One file row's fields, read back after a listing of that one item.
  ListedRow Single(const std::string& payload) {
    EXPECT_EQ(W(Fetch("1", {payload})), W(nullptr));
    const auto rows = Rows();
    EXPECT_EQ(rows.size(), 4u);
    return rows.size() == 4 ? rows[3] : ListedRow{};
  }
};

void ExpectFixedRows(const std::vector<ListedRow>& rows) {
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, L"bookmark.txt");
  EXPECT_EQ(rows[0].icon, 5);
  EXPECT_EQ(rows[0].key, INT_MAX);
  EXPECT_EQ(rows[0].date, L"ブックマーク");
  EXPECT_EQ(rows[1].name, L"address.txt");
  EXPECT_EQ(rows[1].icon, 6);
  EXPECT_EQ(rows[1].key, INT_MAX - 1);
  EXPECT_EQ(rows[1].date, L"アドレス帳");
  EXPECT_EQ(rows[2].name, L"mail???.txt");
  EXPECT_EQ(rows[2].icon, 7);
  EXPECT_EQ(rows[2].key, INT_MAX - 2);
  EXPECT_EQ(rows[2].date, L"メール");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i].size, L"") << i;
}

TEST_F(ListingTest, CountZeroGivesTheFixedRowsOnly) {
  g_connected = false;
  log.clear();
  EXPECT_EQ(W(Fetch("0", {})), W(nullptr));
  const auto rows = Rows();
  EXPECT_EQ(rows.size(), 3u);
  ExpectFixedRows(rows);
  EXPECT_TRUE(g_connected);
  EXPECT_EQ(Log(), std::vector<std::string>{"2/6/1:"});  // no transfer request
  EXPECT_TRUE(Quiet());
}

// A count that is not a plain number in range would list an empty handset
// as if it were one: a link error, the listing untouched.
TEST_F(ListingTest, ACountThatIsNotANumberIsALinkError) {
  for (const std::string count : {"abc", "", "-3", " +3xyz", "3 ", "12345678"}) {
    g_connected = false;
    log.clear();
    EXPECT_EQ(W(Fetch(count, {})), W(MSG_COMM_FILE_COUNT)) << count;
    EXPECT_FALSE(g_connected) << count;
    EXPECT_EQ(Log(), std::vector<std::string>{"2/6/1:"}) << count;
  }
}

TEST_F(ListingTest, ItemsAreAcknowledgedOneByOneAndSortedNewestFirst) {
  // Oldest first on the wire: the sort must turn them round.
  EXPECT_EQ(W(Fetch("3", {"old.jpg\timage\t100\t2001/01/01 10:00",
                          "mid.mid\tmusic\t200\t2005/06/07 08:09",
                          "new.htm\tnet\t300\t2024/12/31 23:59"})),
            W(nullptr));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 6u);
  ExpectFixedRows(rows);
  EXPECT_EQ(rows[3].name, L"new.htm");
  EXPECT_EQ(rows[3].icon, 2);
  EXPECT_EQ(rows[4].name, L"mid.mid");
  EXPECT_EQ(rows[4].icon, 1);
  EXPECT_EQ(rows[4].size, L"200");
  EXPECT_EQ(rows[4].date, L"2005/06/07 08:09");
  EXPECT_EQ(rows[5].name, L"old.jpg");
  EXPECT_TRUE(g_connected);
  // Count, list request, then exactly one acknowledgement per item.
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/6/1:", "3/6/7:", kAck, kAck, kAck}));
  EXPECT_TRUE(Quiet());
}

TEST_F(ListingTest, SizeColumnSwitchesToRoundedUpThousandsAtTenThousand) {
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"0", L"0"},       {"9999", L"9999"},           {"10000", L"10K"},
      {"10001", L"11K"}, {"12345678", L"12346K"},     {"", L"0"},
      {"abc", L"0"},     {"2147483647", L"2147484K"}, {"99999999999", L"2147484K"},
      {" 42x", L"42"}};
  for (const auto& [size, shown] : cases) {
    EXPECT_EQ(Single(std::string("f.bin\tother\t") + size + "\t2010/01/01 00:00").size, shown)
        << size;
  }
}

TEST_F(ListingTest, SortKeyCountsMinutesOnThirtyOneDayMonthsSince2000) {
  EXPECT_EQ(Single("a\timage\t1\t2000/01/01 00:00").key, 46080);
  // Separators are not read, only the digits at their places.
  EXPECT_EQ(Single("a\timage\t1\t2000-01-01T00.00").key, 46080);
  EXPECT_EQ(Single("a\timage\t1\t2001/02/03 04:05").key,
            ((((1 * 12 + 2) * 31 + 3) * 24 + 4) * 60 + 5));
  // Only the first sixteen characters matter; a short date reads as zeros.
  EXPECT_EQ(Single("a\timage\t1\t2000/01/01 00:00:59 extra").key, 46080);
  EXPECT_EQ(Single("a\timage\t1\t2000/01").key, (1 * 31) * 24 * 60);
  // 9999/12/31 23:59 is past 32 bits: it wraps as the handheld's int does,
  // into a negative key, instead of being undefined.
  const std::int64_t wide = (((((9999LL - 2000) * 12 + 12) * 31 + 31) * 24 + 23) * 60 + 59);
  EXPECT_EQ(Single("a\timage\t1\t9999/12/31 23:59").key,
            static_cast<std::int32_t>(static_cast<std::uint32_t>(wide)));
  EXPECT_LT(Single("a\timage\t1\t9999/12/31 23:59").key, 0);
}

TEST_F(ListingTest, DateColumnGetsBlankAndColonWhereTheFieldReaches) {
  EXPECT_EQ(Single("a\tcard\t1\t2003-04-05T06.07").date, L"2003-04-05 06:07");
  EXPECT_EQ(Single("a\tcard\t1\t2003/04/05x06").date, L"2003/04/05 06");
  EXPECT_EQ(Single("a\tcard\t1\t2003/04/05").date, L"2003/04/05");
  // The date runs to the end of the payload, further TABs included.
  EXPECT_EQ(Single("a\tcard\t1\t2003/04/05 06:07\tmore\tstill").date,
            L"2003/04/05 06:07\tmore\tstill");
}

TEST_F(ListingTest, OldEmptyAndMalformedDatesSortBelowTheFixedRows) {
  EXPECT_EQ(W(Fetch("5", {"empty\tother\t1\t", "y1999\tother\t1\t1999/12/31 23:59",
                          "y1900\tother\t1\t1900/01/01 00:00", "junk\tother\t1\tno date",
                          "y2010\tother\t1\t2010/05/05 05:05"})),
            W(nullptr));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 8u);
  ExpectFixedRows(rows);
  EXPECT_EQ(rows[3].name, L"y2010");
  EXPECT_EQ(rows[4].name, L"y1999");
  EXPECT_EQ(rows[5].name, L"y1900");
  EXPECT_LT(rows[5].key, 0);
  // No year reads as year 0: both far below; their order among themselves is
  // the sort's.
  EXPECT_TRUE((rows[6].name == L"empty" && rows[7].name == L"junk") ||
              (rows[6].name == L"junk" && rows[7].name == L"empty"));
  EXPECT_EQ(rows[6].key, -2000LL * 12 * 31 * 24 * 60);
  EXPECT_EQ(rows[7].key, rows[6].key);
}

TEST_F(ListingTest, CategoryIsTheExactWireNameElseOther) {
  const std::pair<const char*, int> cases[] = {
      {"image", 0}, {"music", 1},  {"net", 2},  {"card", 3}, {"other", 4},
      {"Image", 4}, {"images", 4}, {"imag", 4}, {"", 4},     {"NET", 4}};
  for (const auto& [wire, icon] : cases) {
    EXPECT_EQ(Single(std::string("f\t") + wire + "\t1\t2010/01/01 00:00").icon, icon) << wire;
  }
}

TEST_F(ListingTest, PayloadWithoutTabsIsAllName) {
  const ListedRow row = Single("just-a-name.dat");
  EXPECT_EQ(row.name, L"just-a-name.dat");
  EXPECT_EQ(row.icon, 4);
  EXPECT_EQ(row.size, L"0");
  EXPECT_EQ(row.date, L"");
  EXPECT_LT(row.key, 0);
  const ListedRow two = Single("name\timage");
  EXPECT_EQ(two.name, L"name");
  EXPECT_EQ(two.icon, 0);
  EXPECT_EQ(two.size, L"0");
}

TEST_F(ListingTest, NamesAreConvertedFromTheCodePageAndCutToFit) {
  EXPECT_EQ(Single(kPhotoSjis + ".jpg\timage\t5\t2010/01/01 00:00").name, L"写真.jpg");
  // 300 one-byte characters: the first 259 are kept.
  EXPECT_EQ(Single(std::string(300, 'a') + "\tother\t1\t2010/01/01 00:00").name,
            std::wstring(259, L'a'));
  // 300 double-byte characters: 259 whole ones, none split.
  std::string many;
  for (int i = 0; i < 300; ++i) many += kPhotoSjis.substr(0, 2);
  const ListedRow row = Single(many + "\tother\t1\t2010/01/01 00:00");
  EXPECT_EQ(row.name, std::wstring(259, L'写'));
  // A long date is cut the same way, its start intact.
  const ListedRow dated = Single("d\tother\t1\t2010/01/01 00:00" + std::string(400, '!'));
  EXPECT_EQ(dated.date.size(), 259u);
  EXPECT_EQ(dated.date.substr(0, 16), L"2010/01/01 00:00");
}

TEST_F(ListingTest, WrongItemKeepsWhatArrivedUnsortedAndLeavesTheFlagClear) {
  g_connected = false;
  // Oldest first: a sort would have put new.jpg above old.jpg.
  EXPECT_EQ(W(Fetch("4",
                    {"old.jpg\timage\t1\t2001/01/01 00:00", "new.jpg\timage\t1\t2020/01/01 00:00",
                     "bad\timage\t1\t2030/01/01 00:00", "never\timage\t1\t2030/01/01 00:00"},
                    2)),
            W(MSG_COMM_FILE_NAME));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 5u);
  ExpectFixedRows(rows);
  EXPECT_EQ(rows[3].name, L"old.jpg");
  EXPECT_EQ(rows[4].name, L"new.jpg");
  EXPECT_FALSE(g_connected);
  // The bad item is not acknowledged.
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/6/1:", "3/6/7:", kAck, kAck}));
  EXPECT_TRUE(Quiet());
}

TEST_F(ListingTest, WrongCodeOrOperationOrMissingItemIsANameError) {
  {
    PeerScript script([&] {
      Next();
      Send(2, 6, 1, "1");
      Next();
      Send(2, 6, 7, "x\timage\t1\t2001/01/01 00:00");  // code 2
    });
    EXPECT_EQ(W(FetchListing()), W(MSG_COMM_FILE_NAME));
  }
  {
    PeerScript script([&] {
      Next();
      Send(2, 6, 1, "1");
      Next();
      Send(3, 6, 8, "x\timage\t1\t2001/01/01 00:00");  // operation 8
    });
    EXPECT_EQ(W(FetchListing()), W(MSG_COMM_FILE_NAME));
  }
  {
    // The handset promises two and sends one.
    PeerScript script([&] { Serve("2", {"x\timage\t1\t2001/01/01 00:00"}); });
    EXPECT_EQ(W(FetchListing()), W(MSG_COMM_FILE_NAME));
  }
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_FALSE(g_connected);
}

TEST_F(ListingTest, UnansweredCountFailsWithinTheSilenceLimitAndTouchesNothing) {
  // Rows of an earlier listing stay when the count never comes.
  FillRows(g_listView, {{L"earlier"}});
  PeerScript script([&] { Next(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(FetchListing()), W(MSG_COMM_FILE_COUNT));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_LT(ms, static_cast<long long>(g_silenceLimitMs) + 2500);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, L"earlier");
  EXPECT_FALSE(g_connected);
}

TEST(CompareSortKeys, DescendingWithoutOverflow) {
  EXPECT_LT(CompareSortKeys(5, 3, 0), 0);
  EXPECT_GT(CompareSortKeys(3, 5, 0), 0);
  EXPECT_EQ(CompareSortKeys(7, 7, 0), 0);
  // A subtraction would overflow here and give the wrong sign.
  EXPECT_LT(CompareSortKeys(INT_MAX, -5, 0), 0);
  EXPECT_GT(CompareSortKeys(INT_MIN, 5, 0), 0);
  EXPECT_LT(CompareSortKeys(46080, INT_MIN, 0), 0);
}

TEST(CategoryTable, WireNamesLabelsAndIcons) {
  const char* wire[] = {"image", "music", "net", "card", "other"};
  const wchar_t* label[] = {L"画像", L"サウンド", L"インターネット", L"名刺", L"その他"};
  const int icon[] = {106, 108, 107, 109, 110};
  for (int i = 0; i < kCategoryCount; ++i) {
    EXPECT_STREQ(kCategories[i].wireName, wire[i]);
    EXPECT_EQ(std::wstring(kCategories[i].label), label[i]);
    EXPECT_EQ(kCategories[i].iconResource, icon[i]);
  }
}

// The whole get-listing command: the goodbye follows whatever the listing did.
class ListingCommandTest : public ListingTest {
 protected:
  void SetUp() override {
    ListingTest::SetUp();
    if (IsSkipped()) return;
    CloseHandle(g_port);  // the command opens the port itself
    g_port = INVALID_HANDLE_VALUE;
    RegisterDriver(L"01", kTestDriverKey, peer.PortName());
  }

  // Peer side: log-in, then the listing as scripted, then wait for the goodbye.
  void ServeCommand(const std::string& count, const std::vector<std::string>& items, int badItem) {
    Next();
    Send(0, 1, 1, "OK");
    Next();
    Send(1, 2, 1, "OK");
    if (count.empty()) {
      Next();  // the count query, never answered
    } else {
      Serve(count, items, badItem);
    }
    Next();  // the goodbye
  }
};

TEST_F(ListingCommandTest, GoodbyeFollowsSuccessAndEveryFailure) {
  struct Case {
    std::string count;
    int badItem;
    const WCHAR* message;
  } cases[] = {{"2", -1, nullptr}, {"2", 1, MSG_COMM_FILE_NAME}, {"", -1, MSG_COMM_FILE_COUNT}};
  for (const Case& c : cases) {
    log.clear();
    g_testFrontend.statuses.clear();
    g_connected = true;
    {
      PeerScript script([&] {
        ServeCommand(c.count,
                     {"a.jpg\timage\t1\t2001/01/01 00:00", "b.jpg\timage\t1\t2002/01/01 00:00"},
                     c.badItem);
      });
      EXPECT_EQ(W(GetListingCommand()), W(c.message)) << c.count << c.badItem;
    }
    const auto requests = Log();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(), "255/1/2:") << c.count << c.badItem;
    EXPECT_EQ(g_connected, c.message == nullptr);
    EXPECT_EQ(g_port, INVALID_HANDLE_VALUE);
  }
}

}  // namespace
