// The listing on whatever the handset sends: the count, then one item per
// row (name, TAB, category, TAB, size, TAB, date), any bytes in any field.
#include "download/listing.h"
#include "fuzz/harness.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  g_listView = FakeListView();
  OpenPort(data, size);
  const Message m = FetchListing();
  ClosePort();
  const int rows = FakeListRows();
  g_listView = nullptr;
  if (m) return 0;
  // A listing reported whole: the count and every row it announced arrived.
  FrameModel model(data, size);
  const int total = model.Receive(kWholeFrame);
  FUZZ_CHECK(total >= kHeaderBytes);
  const int count = model.PayloadNumber(total);
  for (int i = 0; i < count; ++i) FUZZ_CHECK(model.Receive(kWholeFrame) >= kHeaderBytes);
  FUZZ_CHECK(rows == 3 + (count > 0 ? count : 0));
  FUZZ_CHECK(g_connected);
  return 0;
}
