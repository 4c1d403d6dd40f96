// Every vCard of a backup in one contacts.vcf: the cards converted to 3.0
// (ConvertAddressBook) from the address book and each .vcf file, made ready
// for phones (readings as X-PHONETIC-* and SORT-STRING, half-width kana
// widened, groups as CATEGORIES) and duplicates merged.
#pragma once

#include <string>
#include <vector>

#include "export/stream.h"

struct ContactLine {
  std::string name;    // upper case, without a group
  std::string params;  // as written, from the first ';' (or empty)
  std::string value;   // 3.0 text, escapes kept
};
using ContactCard = std::vector<ContactLine>;

// What the archive's table shows of a card (text unescaped).
struct ContactRow {
  std::string name, reading, phones, emails, categories;
};

class ContactBook {
 public:
  // The cards of one vCard 3.0 text, in its order.
  void Add(const std::string& vcard30);
  void Write(OutStream& out) const;
  std::vector<ContactRow> Rows() const;
  unsigned size() const { return static_cast<unsigned>(cards_.size()); }
  unsigned merged() const { return merged_; }

 private:
  std::vector<ContactCard> cards_;
  unsigned merged_ = 0;
};

// Half-width katakana (U+FF61-U+FF9F) in UTF-8 text widened, a sound mark
// joined to the kana before it.
std::string WidenKana(const std::string& utf8);
