// What both systems' stop handlers share: the note for a stop request that
// waits until a set is whole, made before any signal can come (a handler may
// only write it).
#include <string>

#include "cli/cli.h"

const char* HeldStopNote(int held) {
  static const std::string bookmarks =
      "palvo: " +
      ToUtf8(InLanguage(L"finishing the bookmarks, Ctrl-C again to stop now",
                        L"ブックマークを書き終えるまで待ちます。すぐ止めるにはもう一度 Ctrl-C")) +
      "\n";
  static const std::string addresses =
      "palvo: " +
      ToUtf8(InLanguage(L"finishing the address book, Ctrl-C again to stop now",
                        L"アドレス帳を書き終えるまで待ちます。すぐ止めるにはもう一度 Ctrl-C")) +
      "\n";
  return held == kHoldBookmarks ? bookmarks.c_str() : addresses.c_str();
}

bool IsRepeatedStop(unsigned long long firstMs, unsigned long long nowMs) {
  return nowMs - firstMs < 1000;
}
