// The handset's side of an upload: acceptance replies, then a refusal.
#pragma once

#include <string>

#include "fuzz/harness.h"
#include "link/frame.h"

// `accepted` replies of "0" for the request, then one "1", then silence.
inline std::string UploadReplies(Request request, int accepted) {
  std::string replies;
  for (int i = 0; i < accepted; ++i) replies += ResponseFrame(request.code, request.selector, "0");
  return replies + ResponseFrame(request.code, request.selector, "1");
}
