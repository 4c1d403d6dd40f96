// --trace FILE [--trace-private]: the core traces the port; this starts it,
// ends it and tells a person where it is.
#include "link/trace.h"

#include "cli/args.h"
#include "cli/cli.h"

int StartCommandTrace(const Arguments& a) {
  if (!a.haveTrace) return -1;
  if (a.trace.empty())
    return UsageError(InLanguage(L"--trace needs a file name", L"--trace にファイル名がありません"),
                      a.command);
  const std::wstring path = ProgramPath(a.trace.c_str());
  const TraceLevel level = a.tracePrivate ? TraceLevel::kPrivate : TraceLevel::kRedacted;
  if (!StartTrace(path.c_str(), level, SystemText().c_str()))
    return Failure(InLanguage(L"cannot make the trace ", L"トレースを作れません: ") + a.trace +
                   L": " + TraceFileReason());
  return -1;
}

void FinishCommandTrace(const Arguments& a) {
  if (!a.haveTrace) return;
  StopTrace();
  if (!a.verbose) return;
  WriteText(stderr, ToUtf8(InLanguage(L"trace: ", L"トレース: ")) +
                        ToUtf8(ShownPath(ProgramPath(a.trace.c_str())).c_str()) + "\n");
  WriteText(stderr,
            ToUtf8(a.tracePrivate
                       ? InLanguage(L"attach it to a problem report: it holds no PIN and nothing "
                                    L"that files, mails, bookmarks or addresses hold\n",
                                    L"問題の報告に添付してください: 暗証番号も、ファイル・メール・"
                                    L"ブックマーク・アドレスの中身も含みません\n")
                       : InLanguage(L"attach it to a problem report: it holds no PIN "
                                    L"(--trace-private also leaves out what files, mails, "
                                    L"bookmarks and addresses hold)\n",
                                    L"問題の報告に添付してください: 暗証番号は含みません "
                                    L"(--trace-private を付けるとファイル・メール・ブックマーク・"
                                    L"アドレスの中身も除きます)\n")));
}
