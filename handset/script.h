// Control lines for palvo-handset: the text form of the Handset control API, for
// --set LINE, --script FILE and the named --fault presets.
#pragma once

#include <string>

#include "handset/handset.h"

namespace handset {

// Applies one control line (blank and # lines do nothing). False with a message.
bool ApplyControlLine(Handset& handset, const std::string& line, std::string* error);
// Every line of a file, stopping at the first bad one (message names the line).
bool ApplyControlScript(Handset& handset, const std::string& text, std::string* error);
bool ApplyFaultPreset(Handset& handset, const std::string& name, std::string* error);

// Byte strings in control lines: \t \r \n \s (space) \\ \xHH; everything else
// is taken as written. "" alone is the empty string.
bool Unescape(const std::string& text, std::string* bytes);

// The control part of palvo-handset --help.
extern const char kControlHelp[];

}  // namespace handset
