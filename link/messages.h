// Every text an operation step can return, each written once.
#pragma once

#include "platform/win32.h"

// link
#define MSG_HANDSET_NOT_FOUND L"Veltaが見つかりません"
#define MSG_OPEN_FAILED L"オープンに失敗しました"
#define MSG_NOT_STANDBY L"待ち受け中ではありません"
#define MSG_WRONG_PIN L"暗証番号が誤りです"
#define MSG_CANCELLED L""

// listing
#define MSG_COMM_FILE_COUNT L"通信エラー(ファイル数)"
#define MSG_COMM_FILE_NAME L"通信エラー(ファイル名)"

// downloads
#define MSG_COMM_FILE L"通信エラー(ファイル)"
#define MSG_COMM_HEADER L"通信エラー(ヘッダ)"
#define MSG_COMM_CONTENT L"通信エラー(内容)"
#define MSG_FILE_NOT_FOUND L"ファイルが見つかりません"
#define MSG_CANNOT_WRITE L"ファイルが書き込めません"
#define MSG_COMM_BOOKMARK_COUNT L"通信エラー(ブックマーク数)"
#define MSG_COMM_BOOKMARK L"通信エラー(ブックマーク)"
#define MSG_BAD_BOOKMARK L"ブックマークデータ異常"
#define MSG_COMM_ADDRESS_COUNT L"通信エラー(アドレス数)"
#define MSG_COMM_ADDRESS L"通信エラー(アドレス)"
#define MSG_COMM_LIGHT_MAIL_COUNT L"通信エラー(ライトメール数)"
#define MSG_COMM_LIGHT_MAIL L"通信エラー(ライトメール)"
#define MSG_COMM_MAIL_COUNT L"通信エラー(メール数)"
#define MSG_COMM_MAIL L"通信エラー(メール)"
#define MSG_BAD_DATA L"データ異常"
#define MSG_NOT_SAVED L"保存できない行があります"
#define MSG_SAVED_AS L"別の名前で保存しました"
#define MSG_ROW_NOT_SAVED L"保存しませんでした"

// uploads
#define MSG_UPLOAD_FAILED L"転送に失敗しました"
#define MSG_FILE_OPEN_ERROR L"ファイルオープンエラー"
#define MSG_CHECK_FORMAT L"チェック:フォーマットエラー"
#define MSG_CHECK_NUMBER_RANGE L"チェック:番号は00～99"
#define MSG_CHECK_NUMBER_DUPLICATE L"チェック:番号が重複"
#define MSG_CHECK_FOLDER_RANGE L"チェック:フォルダは00～19"
#define MSG_CHECK_TOO_MANY L"チェック:100件を超過"
#define MSG_CHECK_NAME_TOO_LONG L"チェック:ファイル名が長すぎます"
#define MSG_CHECK_NAME_CHARS L"チェック:ファイル名に使えない文字があります"
#define MSG_CHECK_TOO_LARGE L"チェック:ファイルが大きすぎます"

// commands
#define MSG_BUSY L"通信中です"
#define MSG_INTERRUPTED L"中断しました"
