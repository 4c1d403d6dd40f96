// Shift-JIS conversion with the Win32 contract.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

TEST(CodePageTest, JapaneseRoundTrip) {
  const WCHAR* text = L"ブックマーク アドレス帳 ｶﾅ 漢字ABC";
  char sjis[64];
  BOOL usedDefault = TRUE;
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, sjis, sizeof sjis, nullptr, &usedDefault);
  ASSERT_GT(n, 0);
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(sjis[n - 1], 0);  // -1: the terminator is converted and counted
  EXPECT_EQ(std::string(sjis, 6), "\x83\x75\x83\x62\x83\x4E");  // ブック
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), n);

  WCHAR back[64];
  const int m = MultiByteToWideChar(CP_ACP, 0, sjis, -1, back, 64);
  EXPECT_EQ(m, static_cast<int>(std::wcslen(text)) + 1);
  EXPECT_STREQ(back, text);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, sjis, -1, nullptr, 0), m);

  // Explicit lengths convert exactly that much, no terminator added.
  WCHAR two[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, sjis, 4, two, 4), 2);
  EXPECT_EQ(two[0], L'ブ');
  EXPECT_EQ(two[2], L'x');
}

TEST(CodePageTest, UnmappableCharactersBecomeTheDefault) {
  char out[16];
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a€b", -1, out, sizeof out, nullptr, &usedDefault), 4);
  EXPECT_STREQ(out, "a?b");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"😀", -1, out, sizeof out, "*", nullptr), 2);
  EXPECT_STREQ(out, "*");
}

TEST(CodePageTest, InvalidBytesAndSmallBuffers) {
  WCHAR out[8];
  // 0x80 cannot start a character; 0x81 0x20 is a lead byte with no trail.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "a\x80"
                                "b\x81 ",
                                5, out, 8),
            5);
  EXPECT_EQ(std::wstring(out, 5), std::wstring(L"a?b\x30FB "));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\x80", 2, out, 8), 0);
  EXPECT_EQ(GetLastError(), 1113u);  // ERROR_NO_UNICODE_TRANSLATION
  // A lead byte cut off at the end.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x83", 2, out, 8), 2);
  EXPECT_EQ(out[1], 0x30FB);

  char small[4];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"漢字漢", -1, small, sizeof small, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 3), 0);
  EXPECT_EQ(GetLastError(), 122u);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"x", 0, small, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WideCharToMultiByte(37, 0, L"x", -1, small, 4, nullptr, nullptr), 0);  // EBCDIC: none

  // Sizing a long text goes through the scratch area many times.
  std::wstring longText(5000, L'漢');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, longText.c_str(), -1, nullptr, 0, nullptr, nullptr),
            10001);
}

TEST(CodePageTest, BadArgumentsFailBothWaysAlike) {
  // No input, an input length of 0 or below -1, a negative output size, an
  // output size without a buffer: each fails before anything is converted.
  const struct {
    bool input;
    int inLength;
    bool output;
    int outLength;
  } cases[] = {{false, -1, true, 8},
               {true, 0, true, 8},
               {true, -2, true, 8},
               {true, 1, true, -1},
               {true, 1, false, 8}};
  char multi[8];
  WCHAR wide[8];
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, c.input ? L"x" : nullptr, c.inLength,
                                  c.output ? multi : nullptr, c.outLength, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.input ? "x" : nullptr, c.inLength,
                                  c.output ? wide : nullptr, c.outLength),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  // Output size 0 without a buffer only asks for the size.
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"x", 1, nullptr, 0, nullptr, nullptr), 1);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x", 1, nullptr, 0), 1);
}
