// What the simulated handset holds, and the local text formats it keeps it in.
// The content folder uses exactly the formats the program's downloads write, so
// a download followed by an upload (or the reverse) can be compared byte for
// byte. Every text stays in the handset's own bytes (Shift-JIS); nothing here
// converts text. This code shares nothing with the program's own parsers on
// purpose: a fault in one shows up against the other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace handset {

// Category wire names, in category order (image 0 ... other 4).
extern const char* const kWireNames[5];
int WireIndex(const std::string& wire);  // -1 when not one of the five

// The extension rule of the handset file categories (ASCII letters compared
// without case); 4 ("other") when no extension matches.
int CategoryOfName(const std::string& name);

struct StoredFile {
  std::string name;  // handset file name, Shift-JIS bytes
  std::string wire;  // category wire name
  std::string data;
  std::string date;  // "YYYY/MM/DD hh:mm"
};

struct Bookmark {
  int folder = 0;  // 0..19
  int number = 0;  // memory slot 0..99
  std::string title;
  std::string url;
};

struct MailItem {
  bool light = false;
  std::string header[4];
  std::string line1, line2;  // light mail only
  std::string body;
};

struct Content {
  std::vector<StoredFile> files;
  std::vector<Bookmark> bookmarks;
  std::vector<std::string> addresses;  // one vCard each, bytes as sent
  std::vector<MailItem> lightMails;
  std::vector<MailItem> mails;
};

// Folder layout:
//   files/<wire name>/<file name>   (date from the file's modification time)
//   bookmarks.txt                   (bookmark file)
//   address.vcf                     (vCards back to back)
//   lightmail/*.txt, mail/*.txt     (one mail file each, in name order)
//   dates.txt                       (optional "<wire>/<name> TAB date" lines)
// Missing parts are empty. False with a message for a file that does not parse.
bool LoadContent(const std::filesystem::path& dir, Content* content, std::string* error);
bool SaveStoredFile(const std::filesystem::path& dir, const StoredFile& file);
bool SaveBookmarks(const std::filesystem::path& dir, const std::vector<Bookmark>& bookmarks);
bool SaveAddresses(const std::filesystem::path& dir, const std::vector<std::string>& cards);
bool SaveMail(const std::filesystem::path& dir, const MailItem& mail);  // next free number

std::string FormatDate(std::filesystem::file_time_type time);
std::string NowDate();

// Bookmark file: the 50-byte comment line, then "%02d\t%02d\t<title>\t<url>\r\n".
extern const char kBookmarkComment[];  // 50 bytes, CR LF included
std::string BookmarkFileText(const std::vector<Bookmark>& bookmarks);
bool ParseBookmarkFile(const std::string& text, std::vector<Bookmark>* out, std::string* error);

// Address file: each BEGIN:VCARD line through its END:VCARD line (line end
// included) is one entry; anything between entries is dropped.
std::vector<std::string> SplitVCards(const std::string& text);

// Mail files: "X-PORIKA-LIGHT: a,b,c,d\r\n\r\n" line1 CR LF line2 CR LF body, or
// "X-PORIKA-MAIL: a,b,c,d\r\n" body.
std::string MailFileText(const MailItem& mail);
bool ParseMailFile(const std::string& text, MailItem* out, std::string* error);

// Field records: 0x1C, then fields 0x1E tag type len32le data.
struct Field {
  std::uint8_t tag = 0;
  std::uint8_t type = 0;
  std::string data;
};
std::string EncodeRecord(const std::vector<Field>& fields);
// Strict: start byte 0x1C, every field starts with 0x1E and lies wholly inside
// the payload, nothing trails the last field.
bool DecodeRecord(const std::string& payload, std::vector<Field>* fields, std::string* error);

std::string BookmarkRecord(const Bookmark& bookmark);
std::string MailRecord(const MailItem& mail);
// What an upload must send: tags in order with the tabled type bytes, two-digit
// numbers in range, texts without control bytes.
bool BookmarkFromRecord(const std::string& payload, Bookmark* out, std::string* error);
bool MailFromRecord(const std::string& payload, bool light, MailItem* out, std::string* error);
// An address record: "BEGIN:VCARD" through "END:VCARD", every line ending in CR LF.
bool CheckVCardRecord(const std::string& payload, std::string* error);

// Listing item payload: name TAB wire TAB size TAB date.
std::string ListingItem(const StoredFile& file);
std::string ListingItem(const StoredFile& file, std::uintmax_t size);  // data not at hand

bool ReadWhole(const std::filesystem::path& path, std::string* out);

// Not empty, and nothing but the digits 0 to 9.
bool AllDigits(const std::string& s);

}  // namespace handset
