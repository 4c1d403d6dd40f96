// --trace FILE [--trace-private]: the core traces the port; this starts it,
// ends it and tells a person where it is.
#include "link/trace.h"

#include "cli/args.h"
#include "cli/cli.h"

int StartCommandTrace(const Arguments& a) {
  if (!a.haveTrace) return -1;
  if (a.trace.empty()) return UsageError(L"--trace needs a file name", a.command);
  const std::wstring path = ProgramPath(a.trace.c_str());
  const TraceLevel level = a.tracePrivate ? TraceLevel::kPrivate : TraceLevel::kRedacted;
  if (!StartTrace(path.c_str(), level, SystemText().c_str()))
    return Failure(L"cannot make the trace " + a.trace + L": " + TraceFileReason());
  return -1;
}

void FinishCommandTrace(const Arguments& a) {
  if (!a.haveTrace) return;
  StopTrace();
  if (!a.verbose) return;
  WriteText(stderr, "trace: " + ToUtf8(ShownPath(ProgramPath(a.trace.c_str())).c_str()) + "\n");
  WriteText(stderr, a.tracePrivate
                        ? "attach it to a problem report: it holds no PIN and nothing that files, "
                          "mails, bookmarks or addresses hold\n"
                        : "attach it to a problem report: it holds no PIN (--trace-private also "
                          "leaves out what files, mails, bookmarks and addresses hold)\n");
}
