#include "export/contacts.h"

#include <algorithm>
#include <cstring>

#include "export/vcard_lines.h"

namespace {

// U+FF61..U+FF9F as full-width characters.
const char* const kWide[] = {
    "。", "「", "」", "、", "・", "ヲ", "ァ", "ィ", "ゥ", "ェ", "ォ", "ャ", "ュ", "ョ", "ッ", "ー",
    "ア", "イ", "ウ", "エ", "オ", "カ", "キ", "ク", "ケ", "コ", "サ", "シ", "ス", "セ", "ソ", "タ",
    "チ", "ツ", "テ", "ト", "ナ", "ニ", "ヌ", "ネ", "ノ", "ハ", "ヒ", "フ", "ヘ", "ホ", "マ", "ミ",
    "ム", "メ", "モ", "ヤ", "ユ", "ヨ", "ラ", "リ", "ル", "レ", "ロ", "ワ", "ン", "゛", "゜"};

unsigned Decode3(const char* p) {
  return ((static_cast<unsigned char>(p[0]) & 0x0Fu) << 12) |
         ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 6) |
         (static_cast<unsigned char>(p[2]) & 0x3Fu);
}

// The half-width kana at i, or 0.
unsigned HalfWidth(const std::string& s, std::size_t i) {
  if (i + 2 >= s.size() || static_cast<unsigned char>(s[i]) != 0xEF) return 0;
  const unsigned cp = Decode3(s.data() + i);
  return cp >= 0xFF61 && cp <= 0xFF9F ? cp : 0;
}

void AppendUtf8(std::string& out, unsigned cp) {
  out += static_cast<char>(0xE0 | (cp >> 12));
  out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

bool NameIs(const ContactLine& l, const char* name) { return l.name == name; }

bool HasParam(const ContactLine& l, const char* word) {
  std::string upper = l.params;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper.find(word) != std::string::npos;
}

// A 3.0 value's components at unescaped ';'.
std::vector<std::string> Components(const std::string& v) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      parts.back() += v.substr(i, 2);
      ++i;
    } else if (v[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += v[i];
    }
  }
  return parts;
}

std::string Unescape(const std::string& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      ++i;
      out += v[i] == 'n' || v[i] == 'N' ? '\n' : v[i];
    } else {
      out += v[i];
    }
  }
  return out;
}

// The reading of SOUND;X-IRMC-N as family and given readings; a reading
// written whole in the first component is split at its blank.
void Reading(const std::string& value, std::string* family, std::string* given) {
  const std::vector<std::string> c = Components(WidenKana(value));
  *family = c.size() > 0 ? c[0] : "";
  *given = c.size() > 1 ? c[1] : "";
  if (!given->empty()) return;
  for (const char* blank : {"　", " "}) {
    const std::size_t at = family->find(blank);
    if (at == std::string::npos) continue;
    *given = family->substr(at + std::strlen(blank));
    family->erase(at);
    return;
  }
}

// One card made ready for phones.
ContactCard Prepare(const ContactCard& in) {
  ContactCard out;
  std::string categories;
  std::size_t at = 0;  // where the card's first group stood
  for (const ContactLine& l : in) {
    if (NameIs(l, "N") || NameIs(l, "FN")) {
      out.push_back({l.name, l.params, WidenKana(l.value)});
    } else if (NameIs(l, "SOUND") && HasParam(l, "X-IRMC-N")) {
      std::string family, given;
      Reading(l.value, &family, &given);
      if (!family.empty()) out.push_back({"X-PHONETIC-LAST-NAME", "", family});
      if (!given.empty()) out.push_back({"X-PHONETIC-FIRST-NAME", "", given});
      const std::string sort = family + given;
      if (!sort.empty()) out.push_back({"SORT-STRING", "", sort});
    } else if (NameIs(l, "CATEGORIES") || NameIs(l, "X-GROUP") || NameIs(l, "X-GROUP-NAME")) {
      if (l.value.empty()) continue;
      if (categories.empty()) at = out.size();
      categories += (categories.empty() ? "" : ",") + l.value;
    } else {
      out.push_back(l);
    }
  }
  if (!categories.empty())
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), {"CATEGORIES", "", categories});
  return out;
}

const ContactLine* Find(const ContactCard& c, const char* name) {
  for (const ContactLine& l : c)
    if (l.name == name) return &l;
  return nullptr;
}

std::string ValueOf(const ContactCard& c, const char* name) {
  const ContactLine* l = Find(c, name);
  return l ? l->value : std::string();
}

bool SameLine(const ContactLine& a, const ContactLine& b) {
  return a.name == b.name && a.params == b.params && a.value == b.value;
}

// Names a card may hold once; the first card's is kept.
bool Single(const std::string& name) {
  static const char* const kSingle[] = {
      "N",    "FN",  "SORT-STRING", "X-PHONETIC-LAST-NAME", "X-PHONETIC-FIRST-NAME",
      "BDAY", "UID", "REV"};
  for (const char* k : kSingle)
    if (name == k) return true;
  return false;
}

// b's lines that a lacks, added to a; categories joined.
void Merge(ContactCard& a, const ContactCard& b) {
  for (const ContactLine& l : b) {
    if (Single(l.name) && Find(a, l.name.c_str())) continue;
    ContactLine* categories = nullptr;
    for (ContactLine& m : a)
      if (l.name == "CATEGORIES" && m.name == "CATEGORIES") categories = &m;
    if (categories) {
      if (("," + categories->value + ",").find("," + l.value + ",") == std::string::npos)
        categories->value += "," + l.value;
    } else if (std::none_of(a.begin(), a.end(),
                            [&](const ContactLine& m) { return SameLine(m, l); })) {
      a.push_back(l);
    }
  }
}

}  // namespace

std::string WidenKana(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned h = HalfWidth(s, i);
    if (!h) {
      out += s[i++];
      continue;
    }
    const char* wide = kWide[h - 0xFF61];
    unsigned cp = Decode3(wide);
    i += 3;
    const unsigned mark = HalfWidth(s, i);
    // カ to チ every other; ツ, テ, ト; ハ to ホ every third.
    const bool half = cp >= 0x30CF && cp <= 0x30DB && (cp - 0x30CF) % 3 == 0;
    const bool voicable = (cp >= 0x30AB && cp <= 0x30C1 && (cp - 0x30AB) % 2 == 0) ||
                          cp == 0x30C4 || cp == 0x30C6 || cp == 0x30C8 || half;
    if (mark == 0xFF9E && voicable) {
      ++cp;
      i += 3;
    } else if (mark == 0xFF9E && cp == 0x30A6) {
      cp = 0x30F4;
      i += 3;
    } else if (mark == 0xFF9F && half) {
      cp += 2;
      i += 3;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void ContactBook::Add(const std::string& text) {
  // Content lines unfolded: a line end and one blank join the lines.
  ContactCard card;
  bool inCard = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::string line;
    for (;;) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      line += text.substr(at, end - at);
      at = end + 2;
      if (at < text.size() && text[at] == ' ') {
        ++at;
        continue;
      }
      break;
    }
    if (line == "BEGIN:VCARD") {
      card.clear();
      inCard = true;
      continue;
    }
    if (line == "END:VCARD") {
      if (!inCard) continue;
      inCard = false;
      ContactCard prepared = Prepare(card);
      const std::string n = ValueOf(prepared, "N"), fn = ValueOf(prepared, "FN");
      bool merged = false;
      if (!fn.empty()) {
        for (ContactCard& other : cards_) {
          if (ValueOf(other, "FN") == fn && ValueOf(other, "N") == n) {
            Merge(other, prepared);
            ++merged_;
            merged = true;
            break;
          }
        }
      }
      if (!merged) cards_.push_back(std::move(prepared));
      continue;
    }
    const std::size_t colon = line.find(':');
    if (!inCard || colon == std::string::npos || line.compare(0, 8, "VERSION:") == 0) continue;
    std::size_t semi = line.find(';');
    if (semi > colon) semi = colon;
    std::string name = line.substr(0, semi);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.erase(0, dot + 1);
    for (char& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    card.push_back({name, line.substr(semi, colon - semi), line.substr(colon + 1)});
  }
}

void ContactBook::Write(OutStream& out) const {
  vcard::Folder folder;
  folder.Start(&out);
  for (const ContactCard& card : cards_) {
    folder.Ascii("BEGIN:VCARD");
    folder.EndLine();
    folder.Ascii("VERSION:3.0");
    folder.EndLine();
    for (const ContactLine& l : card) {
      folder.Plain(l.name.data(), l.name.size());
      folder.Plain(l.params.data(), l.params.size());
      folder.Unit(":", 1);
      folder.Escaped(l.value.data(), l.value.size());
      folder.EndLine();
    }
    folder.Ascii("END:VCARD");
    folder.EndLine();
  }
}

std::vector<ContactRow> ContactBook::Rows() const {
  std::vector<ContactRow> rows;
  for (const ContactCard& card : cards_) {
    ContactRow r;
    r.name = Unescape(ValueOf(card, "FN"));
    r.reading = Unescape(ValueOf(card, "SORT-STRING"));
    r.categories = Unescape(ValueOf(card, "CATEGORIES"));
    for (const ContactLine& l : card) {
      std::string* list = l.name == "TEL" ? &r.phones : l.name == "EMAIL" ? &r.emails : nullptr;
      if (!list) continue;
      if (!list->empty()) *list += ", ";
      *list += Unescape(l.value);
    }
    rows.push_back(std::move(r));
  }
  return rows;
}
