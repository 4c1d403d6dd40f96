// The program allocates nothing per request, item, line or piece: an operation
// on a thousand items, or on a file eight times larger, makes exactly as many
// heap allocations on the calling thread as the same operation on one item or
// one small file. The handset's own thread is not counted.
//
// What is counted: natively under AddressSanitizer every heap allocation
// (malloc, calloc, realloc, new: the sanitizer's allocation hook), so also the
// stand-in's LocalAlloc; elsewhere (the Windows build, a build without the
// sanitizer) every operator new.
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>

#include "tests/faults/fault_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define PALVO_COUNT_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PALVO_COUNT_MALLOC 1
#endif
#endif

#ifdef PALVO_COUNT_MALLOC
// The sanitizer runtime's hook (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            std::size_t),
                                                         void (*freeHook)(const volatile void*));
#endif

namespace {

thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};

void Count() {
  if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

#ifdef PALVO_COUNT_MALLOC
void MallocHook(const volatile void*, std::size_t) { Count(); }
void FreeHook(const volatile void*) {}
const bool g_hooked = __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook) != 0;
#endif

}  // namespace

#ifndef PALVO_COUNT_MALLOC
// Every C++ allocation of the test binary passes here.
void* operator new(std::size_t n) {
  Count();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  Count();
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#endif

namespace {

// Allocations made on this thread while fn runs.
template <typename Fn>
long Allocations(Fn fn) {
  g_testFrontend.Reset();  // the recorded statuses grow alike in every run
  g_allocations = 0;
  t_counting = true;
  fn();
  t_counting = false;
  return g_allocations.load();
}

handset::Content Files(int count, std::size_t bytes) {
  handset::Content c;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.jpg", i);
    c.files.push_back({name, "image", Filler(bytes, static_cast<unsigned>(i)), "2026/12/01 10:00"});
  }
  return c;
}

// Each operation records its statuses at least: a count of 0 means the
// counter sees nothing (valgrind, for one, puts its own operator new in).
#define SKIP_WHEN_BLIND(count) \
  if ((count) == 0) GTEST_SKIP() << "allocations are not seen in this build"

class AllocationTest : public HandsetFixture {
 protected:
  void SetUp() override {
    HandsetFixture::SetUp();
    g_silenceLimitMs = 5000;  // big transfers on a loaded machine
  }
  // The list view is the window system's, and grows its own row storage:
  // let it grow before anything is counted.
  void WarmUp() {
    H().SetContent(Files(1000, 1));
    ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr));
  }
  long CountListing(int files) {
    H().SetContent(Files(files, 1));
    Message m = nullptr;
    const long n = Allocations([&] { m = GetListingCommand(); });
    EXPECT_EQ(Shown(m), Shown(nullptr));
    EXPECT_EQ(RowCount(), 3 + files);
    return n;
  }
  long CountDownload(std::size_t bytes) {
    H().SetContent(Files(1, bytes));
    EXPECT_EQ(Shown(GetListingCommand()), Shown(nullptr));
    EXPECT_TRUE(SelectOnly(0));
    WCHAR name[kPathUnits];
    bool several = false;
    EXPECT_TRUE(ProposeDownloadName(name, &several));
    StoreDownloadDestination((ProgramPath(folder) + L"\\" + name).c_str(), several);
    Message m = nullptr;
    const long n = Allocations([&] { m = RunDownload(); });
    EXPECT_EQ(Shown(m), Shown(nullptr));
    EXPECT_EQ(fs::file_size(folder / "f0000.jpg"), bytes);
    return n;
  }
  long CountUpload(std::size_t bytes) {
    H().SetContent(handset::Content());
    WriteAll(folder / "up.jpg", Filler(bytes, 5));
    WCHAR name[kPathUnits];
    StoreUploadSource(ProgramPath(folder / "up.jpg").c_str(), name);
    Message m = nullptr;
    const long n = Allocations([&] { m = RunUpload(kUploadFile, name); });
    EXPECT_EQ(Shown(m), Shown(nullptr));
    const handset::Content now = H().GetContent();
    EXPECT_EQ(now.files.size(), 1u);
    if (!now.files.empty()) {
      EXPECT_EQ(now.files[0].data.size(), bytes);
    }
    return n;
  }
  long CountBookmarkUpload(int lines) {
    std::vector<handset::Bookmark> marks;
    for (int i = 0; i < lines; ++i) marks.push_back({i % 20, i, "title", "http://example.jp/"});
    WriteAll(folder / "bookmark.txt", handset::BookmarkFileText(marks));
    WCHAR name[kPathUnits];
    StoreUploadSource(ProgramPath(folder / "bookmark.txt").c_str(), name);
    Message m = nullptr;
    const long n = Allocations([&] { m = RunUpload(kUploadBookmarks, name); });
    EXPECT_EQ(Shown(m), Shown(nullptr));
    EXPECT_EQ(H().GetContent().bookmarks.size(), static_cast<std::size_t>(lines));
    return n;
  }
};

TEST_F(AllocationTest, AThousandListedFilesCostNoMoreThanOne) {
  WarmUp();
  const long one = CountListing(1);
  const long thousand = CountListing(1000);
  SKIP_WHEN_BLIND(one);
  std::cout << "allocations: listing of 1 file " << one << ", of 1000 files " << thousand << "\n";
  EXPECT_EQ(one, thousand);
}

// 8 MiB natively; under Wine the COM pair is slow, so 4 MiB there.
#ifdef _WIN32
constexpr std::size_t kLarge = 4u << 20;
#else
constexpr std::size_t kLarge = 8u << 20;
#endif

TEST_F(AllocationTest, ALargeFileDownloadsWithAsFewAllocationsAsASmallOne) {
  WarmUp();
  CountDownload(1 << 20);  // warms the file layer up as well
  const long small = CountDownload(1 << 20);
  const long large = CountDownload(kLarge);
  SKIP_WHEN_BLIND(small);
  std::cout << "allocations: download of 1 MiB " << small << ", of " << (kLarge >> 20) << " MiB "
            << large << "\n";
  EXPECT_EQ(small, large);
}

TEST_F(AllocationTest, ALargeFileUploadsWithAsFewAllocationsAsASmallOne) {
  WarmUp();
  CountUpload(1 << 20);
  const long small = CountUpload(1 << 20);
  const long large = CountUpload(kLarge);
  SKIP_WHEN_BLIND(small);
  std::cout << "allocations: upload of 1 MiB " << small << ", of " << (kLarge >> 20) << " MiB "
            << large << "\n";
  EXPECT_EQ(small, large);
}

TEST_F(AllocationTest, AHundredBookmarkLinesCostNoMoreThanOne) {
  WarmUp();
  CountBookmarkUpload(1);
  const long one = CountBookmarkUpload(1);
  const long hundred = CountBookmarkUpload(100);
  SKIP_WHEN_BLIND(one);
  std::cout << "allocations: bookmark upload of 1 line " << one << ", of 100 lines " << hundred
            << "\n";
  EXPECT_EQ(one, hundred);
}

}  // namespace
