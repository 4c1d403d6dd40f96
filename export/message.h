// A mail file of the backup as an Internet message (RFC 5322): headers from
// the four header values by their shape, the body as UTF-8 in
// quoted-printable, the same message once more for the mbox (mboxrd), and the
// body as HTML for the archive's page.
#pragma once

#include <string>

#include "export/convert.h"
#include "export/stream.h"

// What the archive's list shows of one mail (UTF-8).
struct MailSummary {
  std::string date;     // "2006-03-02 21:40", or empty
  std::string sortKey;  // "20060302214000": sorts by time; empty without a date
  std::string party;    // the other party, or empty
  std::string subject;
  bool sent = false;
};

struct MailOutputs {
  OutStream* eml;   // the message alone, CR LF line ends
  OutStream* mbox;  // "From " line, the message with LF line ends, an empty line
  OutStream* page;  // the body, HTML-escaped, for inside <pre>
};

// Reads the mail file twice (the input must rewind). Pictograms (the code
// page's user-defined area) become private-use characters and are added to
// *pictograms. A file that is no mail gives kNotMail and writes nothing.
MailKind ConvertMessage(InStream& in, MailOutputs& out, MailSummary& summary,
                        unsigned long long* pictograms, Problems& problems);

// Non-ASCII header text as RFC 2047 encoded-words (UTF-8, B), each at most 75
// characters and never splitting a character, joined by folding white space;
// ASCII text as it is.
void WriteHeaderText(OutStream& out, const char* utf8, std::size_t n);
