// Every text an operation step can return, each written once, with what it
// means in English: the system's own texts stay as they are, and a front end
// in another language may add the meaning (the command line does, outside a
// Japanese locale).
#pragma once

#include <cwchar>

#include "platform/win32.h"

// X(name, the system's own text, its meaning in English)
// clang-format off
#define PALVO_MESSAGES(X)                                                                          \
  /* link */                                                                                       \
  X(MSG_HANDSET_NOT_FOUND, L"Veltaが見つかりません",                                               \
    "no handset found: is it plugged in, switched on, and its USB serial driver loaded?")          \
  X(MSG_OPEN_FAILED, L"オープンに失敗しました",                                                    \
    "the handset's port could not be opened: another program has it, you may not open it, or it went away") \
  X(MSG_NOT_A_PORT, L"通信ポートではありません",                                                  \
    "this is no serial port, so not the handset's: nothing was sent to it")                       \
  X(MSG_NOT_STANDBY, L"待ち受け中ではありません",                                                  \
    "the handset is not in standby: end the call or leave its menus, then try again")             \
  X(MSG_WRONG_PIN, L"暗証番号が誤りです", "the handset refused the PIN")                          \
  X(MSG_CANCELLED, L"", "")                                                                        \
  /* listing */                                                                                    \
  X(MSG_COMM_FILE_COUNT, L"通信エラー(ファイル数)", "link error while receiving the number of files") \
  X(MSG_COMM_FILE_NAME, L"通信エラー(ファイル名)", "link error while receiving the listing")      \
  /* downloads */                                                                                  \
  X(MSG_COMM_FILE, L"通信エラー(ファイル)", "link error: the handset did not answer the file request") \
  X(MSG_COMM_HEADER, L"通信エラー(ヘッダ)", "link error while receiving the start of a file")     \
  X(MSG_COMM_CONTENT, L"通信エラー(内容)", "link error while receiving a file's content")         \
  X(MSG_FILE_NOT_FOUND, L"ファイルが見つかりません", "the handset does not have that file")       \
  X(MSG_CANNOT_WRITE, L"ファイルが書き込めません", "a local file could not be written")           \
  X(MSG_COMM_BOOKMARK_COUNT, L"通信エラー(ブックマーク数)",                                        \
    "link error while receiving the number of bookmarks")                                          \
  X(MSG_COMM_BOOKMARK, L"通信エラー(ブックマーク)", "link error while receiving the bookmarks")   \
  X(MSG_BAD_BOOKMARK, L"ブックマークデータ異常",                                                   \
    "bookmarks the handset sent unreadable were left out; the others were saved")                 \
  X(MSG_COMM_ADDRESS_COUNT, L"通信エラー(アドレス数)",                                             \
    "link error while receiving the number of address book entries")                               \
  X(MSG_COMM_ADDRESS, L"通信エラー(アドレス)", "link error while receiving the address book")     \
  X(MSG_COMM_LIGHT_MAIL_COUNT, L"通信エラー(ライトメール数)",                                      \
    "link error while receiving the number of light mails")                                        \
  X(MSG_COMM_LIGHT_MAIL, L"通信エラー(ライトメール)", "link error while receiving the light mails") \
  X(MSG_COMM_MAIL_COUNT, L"通信エラー(メール数)", "link error while receiving the number of mails") \
  X(MSG_COMM_MAIL, L"通信エラー(メール)", "link error while receiving the mails")                 \
  X(MSG_BAD_DATA, L"データ異常", "mails the handset sent unreadable were left out; the others were saved") \
  X(MSG_NOT_SAVED, L"保存できない行があります", "some rows could not be saved")                 \
  X(MSG_SAVED_AS, L"別の名前で保存しました", "some rows were saved under other names")           \
  X(MSG_ROW_NOT_SAVED, L"保存しませんでした", "not saved")                                       \
  /* uploads */                                                                                    \
  X(MSG_UPLOAD_FAILED, L"転送に失敗しました", "the handset did not accept the upload")            \
  X(MSG_FILE_OPEN_ERROR, L"ファイルオープンエラー", "the local file could not be opened")         \
  X(MSG_CHECK_FORMAT, L"チェック:フォーマットエラー",                                              \
    "check failed: not in the format downloads write; nothing was sent")                           \
  X(MSG_CHECK_NUMBER_RANGE, L"チェック:番号は00～99",                                              \
    "check failed: a bookmark's memory number must be 00 to 99; nothing was sent")                 \
  X(MSG_CHECK_NUMBER_DUPLICATE, L"チェック:番号が重複",                                            \
    "check failed: two bookmarks have the same memory number; nothing was sent")                   \
  X(MSG_CHECK_FOLDER_RANGE, L"チェック:フォルダは00～19",                                          \
    "check failed: a bookmark's folder number must be 00 to 19; nothing was sent")                 \
  X(MSG_CHECK_TOO_MANY, L"チェック:100件を超過", "check failed: more than 100 bookmarks; nothing was sent") \
  X(MSG_CHECK_NAME_TOO_LONG, L"チェック:ファイル名が長すぎます",                                   \
    "check failed: the file name is too long for the handset; nothing was sent")                   \
  X(MSG_CHECK_NAME_CHARS, L"チェック:ファイル名に使えない文字があります",                          \
    "check failed: the file name has characters the handset cannot store; nothing was sent")       \
  X(MSG_CHECK_TOO_LARGE, L"チェック:ファイルが大きすぎます",                                       \
    "check failed: the file is too large for the handset; nothing was sent")                       \
  X(MSG_CHECK_CHARACTER, L"チェック:送れない文字があります",                                       \
    "check failed: a character the handset's code page cannot hold; nothing was sent")             \
  X(MSG_CHECK_EMPTY_SET, L"チェック:データがありません",                                          \
    "check failed: the file holds no entries and would empty the handset's set; confirm with --yes") \
  X(MSG_BOOKMARKS_INCOMPLETE, L"ブックマークが不完全です",                                         \
    "the handset's bookmarks are now incomplete: put the same bookmark file again to restore them") \
  X(MSG_ADDRESS_INCOMPLETE, L"アドレス帳が不完全です",                                             \
    "the handset's address book is now incomplete: put the same address file again to restore it") \
  /* commands */                                                                                   \
  X(MSG_BUSY, L"通信中です", "talking to the handset")                                        \
  X(MSG_INTERRUPTED, L"中断しました", "interrupted: stopped before the end")
// clang-format on

// Each name is one array, so a message compares equal to itself by address.
#define PALVO_MESSAGE_TEXT(name, text, english) inline constexpr WCHAR name[] = text;
PALVO_MESSAGES(PALVO_MESSAGE_TEXT)
#undef PALVO_MESSAGE_TEXT

struct MessageMeaning {
  const WCHAR* text;
  const char* english;
};

#define PALVO_MESSAGE_ROW(name, text, english) {name, english},
inline constexpr MessageMeaning kMessageMeanings[] = {PALVO_MESSAGES(PALVO_MESSAGE_ROW)};
#undef PALVO_MESSAGE_ROW

// The English meaning of a message text (compared as text: it may have been
// copied); null for a text that is not in the table.
inline const char* EnglishMeaning(const WCHAR* text) {
  if (!text) return nullptr;
  for (const MessageMeaning& m : kMessageMeanings) {
    if (std::wcscmp(m.text, text) == 0) return m.english;
  }
  return nullptr;
}
