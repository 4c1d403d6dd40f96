// Field records as the handset writes and checks them: the items of the
// bookmark and mail transfers, what an upload item must look like, and the
// listing's item payload.
#include <algorithm>

#include "handset/content.h"

namespace handset {

static void PutLength(std::string* out, std::uint32_t n) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::string EncodeRecord(const std::vector<Field>& fields) {
  std::string out(1, '\x1C');
  for (const Field& f : fields) {
    out.push_back('\x1E');
    out.push_back(static_cast<char>(f.tag));
    out.push_back(static_cast<char>(f.type));
    PutLength(&out, static_cast<std::uint32_t>(f.data.size()));
    out += f.data;
  }
  return out;
}

bool DecodeRecord(const std::string& p, std::vector<Field>* fields, std::string* error) {
  fields->clear();
  if (p.empty() || static_cast<unsigned char>(p[0]) != 0x1C) {
    *error = "record does not start with 0x1C";
    return false;
  }
  std::size_t pos = 1;
  while (pos < p.size()) {
    if (p.size() - pos < 7) {
      *error = "field head cut short at offset " + std::to_string(pos);
      return false;
    }
    if (static_cast<unsigned char>(p[pos]) != 0x1E) {
      *error = "field at offset " + std::to_string(pos) + " does not start with 0x1E";
      return false;
    }
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
      n |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[pos + 3 + i])) << (8 * i);
    if (n > p.size() - pos - 7) {
      *error = "field at offset " + std::to_string(pos) + " runs past the record";
      return false;
    }
    fields->push_back({static_cast<std::uint8_t>(p[pos + 1]), static_cast<std::uint8_t>(p[pos + 2]),
                       p.substr(pos + 7, n)});
    pos += 7 + n;
  }
  return true;
}

static std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

std::string BookmarkRecord(const Bookmark& b) {
  return EncodeRecord(
      {{1, 2, b.title}, {2, 1, b.url}, {3, 1, TwoDigits(b.number)}, {4, 2, TwoDigits(b.folder)}});
}

std::string MailRecord(const MailItem& m) {
  std::vector<Field> f;
  for (int i = 0; i < 4; ++i) f.push_back({static_cast<std::uint8_t>(i + 1), 1, m.header[i]});
  if (m.light) {
    f.push_back({5, 1, m.line1});
    f.push_back({6, 1, m.line2});
    f.push_back({7, 2, m.body});
  } else {
    f.push_back({5, 3, m.body});
  }
  return EncodeRecord(f);
}

static bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// Fields with exactly these tags and type bytes, in this order.
static bool CheckLayout(const std::vector<Field>& f, const std::vector<std::pair<int, int>>& want,
                        std::string* error) {
  if (f.size() != want.size()) {
    *error = "record has " + std::to_string(f.size()) + " fields, expected " +
             std::to_string(want.size());
    return false;
  }
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i].tag != want[i].first || f[i].type != want[i].second) {
      *error = "field " + std::to_string(i + 1) + " has tag " + std::to_string(f[i].tag) +
               " type " + std::to_string(f[i].type) + ", expected tag " +
               std::to_string(want[i].first) + " type " + std::to_string(want[i].second);
      return false;
    }
  }
  return true;
}

bool BookmarkFromRecord(const std::string& payload, Bookmark* out, std::string* error) {
  std::vector<Field> f;
  if (!DecodeRecord(payload, &f, error) || !CheckLayout(f, {{1, 2}, {2, 1}, {3, 1}, {4, 2}}, error))
    return false;
  if (f[2].data.size() != 2 || !AllDigits(f[2].data) || f[3].data.size() != 2 ||
      !AllDigits(f[3].data)) {
    *error = "memory number and folder must be two ASCII digits";
    return false;
  }
  out->number = std::stoi(f[2].data);
  out->folder = std::stoi(f[3].data);
  if (out->folder > 19) {
    *error = "folder above 19";
    return false;
  }
  if (f[0].data.empty() || f[1].data.empty() || HasControl(f[0].data) || HasControl(f[1].data)) {
    *error = "title and URL must be non-empty text without control bytes";
    return false;
  }
  out->title = f[0].data;
  out->url = f[1].data;
  return true;
}

bool MailFromRecord(const std::string& payload, bool light, MailItem* out, std::string* error) {
  std::vector<Field> f;
  std::vector<std::pair<int, int>> want = {{1, 1}, {2, 1}, {3, 1}, {4, 1}};
  if (light) {
    want.insert(want.end(), {{5, 1}, {6, 1}, {7, 2}});
  } else {
    want.push_back({5, 3});
  }
  if (!DecodeRecord(payload, &f, error) || !CheckLayout(f, want, error)) return false;
  *out = MailItem();
  out->light = light;
  for (int i = 0; i < 4; ++i) {
    if (HasControl(f[i].data) || (i < 3 && f[i].data.find(',') != std::string::npos)) {
      *error = "header value " + std::to_string(i + 1) + " holds a control byte or comma";
      return false;
    }
    out->header[i] = f[i].data;
  }
  if (light) {
    if (f[4].data.find_first_of("\r\n") != std::string::npos ||
        f[5].data.find_first_of("\r\n") != std::string::npos) {
      *error = "light mail text line holds a line end";
      return false;
    }
    out->line1 = f[4].data;
    out->line2 = f[5].data;
    out->body = f[6].data;
  } else {
    out->body = f[4].data;
  }
  return true;
}

bool CheckVCardRecord(const std::string& p, std::string* error) {
  if (p.size() > 4096) {
    *error = "vCard longer than 4096 bytes";
    return false;
  }
  std::size_t pos = 0;
  std::string first, last;
  while (pos < p.size()) {
    std::size_t lf = p.find('\n', pos);
    if (lf == std::string::npos || lf == pos || p[lf - 1] != '\r') {
      *error = "vCard line without CR LF";
      return false;
    }
    std::string content = p.substr(pos, lf - 1 - pos);
    if (content.find('\r') != std::string::npos) {
      *error = "vCard line with a lone CR";
      return false;
    }
    if (pos == 0) first = content;
    last = content;
    pos = lf + 1;
  }
  if (first != "BEGIN:VCARD" || last != "END:VCARD") {
    *error = "record is not BEGIN:VCARD ... END:VCARD";
    return false;
  }
  return true;
}

std::string ListingItem(const StoredFile& f) { return ListingItem(f, f.data.size()); }

std::string ListingItem(const StoredFile& f, std::uintmax_t size) {
  return f.name + "\t" + f.wire + "\t" + std::to_string(size) + "\t" + f.date;
}

}  // namespace handset
