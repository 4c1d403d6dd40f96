#include "handset/script.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

namespace handset {

const char kControlHelp[] =
    "Control lines (--set LINE, or one per line in --script FILE; # starts a comment).\n"
    "Byte strings take \\t \\r \\n \\s (space) \\\\ \\xHH; \"\" is empty. REQ is code/group/op.\n"
    "Groups: 6 files, 8 bookmarks, 3 addresses, 4 light mails, 5 mails.\n"
    "  pin NNNN                      the PIN the handset accepts\n"
    "  reply REQ BYTES [times=N]     reply payload for a request, e.g.\n"
    "                                reply 0/1/1 OK\\r\\n   (refuse the hello)\n"
    "                                reply 1/2/1 NG       (refuse any PIN)\n"
    "                                reply 2/6/1 abc      (file count text)\n"
    "  items GROUP                   the next transfers of GROUP send no items ...\n"
    "  item GROUP N [code=C] [group=G] [op=O] [length=L] [payload=BYTES]\n"
    "                                ... or item N replaced/added (fields not given\n"
    "                                keep the natural item's; length = announced)\n"
    "  truncate GROUP N              keep only the first N items\n"
    "  refuse GROUP N [reply=BYTES]  refuse upload item N (0-based, per connection)\n"
    "  fault ACTION [req=REQ] [nth=N] [item=N] [bytes=BYTES] [at=N] [piece=N]\n"
    "        [ms=N] [times=N]\n"
    "      ACTION: noise (bytes before the frame), extra (bytes after it, longer\n"
    "      than announced), pieces (random pieces of 1..piece bytes, ms apart;\n"
    "      piece=1 byte by byte), delay (ms before the frame), silence (write 'at'\n"
    "      bytes, then nothing; at=0 no reply), vanish (write 'at' bytes, then the\n"
    "      port disappears). req/nth/item pick the frames: the nth request REQ since\n"
    "      start (1-based), item k of its transfer.\n"
    "Fault presets (--fault NAME): noise, extra, bytewise, pieces, slow,\n"
    "  refuse-hello, refuse-pin, refuse-upload, silent, silence-listing,\n"
    "  vanish-listing, vanish-download.\n";

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  if (text == "\"\"") return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 't':
        out->push_back('\t');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 's':
        out->push_back(' ');
        break;
      case '\\':
        out->push_back('\\');
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        std::string hex = text.substr(i + 1, 2);
        char* end = nullptr;
        long v = std::strtol(hex.c_str(), &end, 16);
        if (hex.size() != 2 || *end) return false;
        out->push_back(static_cast<char>(v));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

static bool ParseInt(const std::string& s, long long* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  *v = std::strtoll(s.c_str(), &end, 0);
  return *end == 0;
}

static bool ParseReq(const std::string& s, int* c, int* g, int* o) {
  std::istringstream in(s);
  char a, b;
  return static_cast<bool>(in >> *c >> a >> *g >> b >> *o) && a == '/' && b == '/' && in.eof();
}

bool ApplyControlLine(Handset& h, const std::string& rawLine, std::string* error) {
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#') return true;
  // key=value options after the positional words
  std::map<std::string, std::string> opt;
  std::vector<std::string> pos;
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::size_t eq = words[i].find('=');
    if (eq != std::string::npos && eq > 0 && words[0] != "reply" && words[0] != "pin")
      opt[words[i].substr(0, eq)] = words[i].substr(eq + 1);
    else if (eq != std::string::npos && words[0] == "reply" && i > 2)
      opt[words[i].substr(0, eq)] = words[i].substr(eq + 1);
    else
      pos.push_back(words[i]);
  }
  auto num = [&](const std::string& k, long long def, long long* v) {
    auto it = opt.find(k);
    if (it == opt.end()) {
      *v = def;
      return true;
    }
    if (ParseInt(it->second, v)) return true;
    *error = "bad number in " + k + "=" + it->second;
    return false;
  };
  auto bytes = [&](const std::string& k, std::string* v) {
    auto it = opt.find(k);
    if (it == opt.end()) return true;
    if (Unescape(it->second, v)) return true;
    *error = "bad escape in " + k + "=" + it->second;
    return false;
  };
  const std::string& cmd = words[0];
  long long a = 0, b = 0;
  if (cmd == "pin" && pos.size() == 1) {
    h.SetPin(pos[0]);
    return true;
  }
  if (cmd == "reply" && pos.size() == 2) {
    int c, g, o;
    std::string payload;
    long long times;
    if (!ParseReq(pos[0], &c, &g, &o)) return (*error = "bad request " + pos[0]), false;
    if (!Unescape(pos[1], &payload)) return (*error = "bad escape in " + pos[1]), false;
    if (!num("times", 0, &times)) return false;
    h.OverrideReply(c, g, o, payload, static_cast<int>(times));
    return true;
  }
  if (cmd == "items" && pos.size() == 1 && ParseInt(pos[0], &a)) {
    h.OverrideItems(static_cast<unsigned>(a), {});
    return true;
  }
  if (cmd == "truncate" && pos.size() == 2 && ParseInt(pos[0], &a) && ParseInt(pos[1], &b)) {
    std::vector<Frame> items = h.Items(static_cast<unsigned>(a));
    if (static_cast<std::size_t>(b) < items.size()) items.resize(static_cast<std::size_t>(b));
    h.OverrideItems(static_cast<unsigned>(a), items);
    return true;
  }
  if (cmd == "item" && pos.size() == 2 && ParseInt(pos[0], &a) && ParseInt(pos[1], &b) && b >= 0) {
    std::vector<Frame> items = h.Items(static_cast<unsigned>(a));
    std::size_t n = static_cast<std::size_t>(b);
    Frame f = n < items.size() ? items[n]
                               : Frame{3, static_cast<unsigned>(a), a == kGroupFiles ? 7u : 2u, ""};
    long long c, g, o, len;
    if (!num("code", f.code, &c) || !num("group", f.group, &g) || !num("op", f.operation, &o) ||
        !num("length", f.announcedLength, &len) || !bytes("payload", &f.payload))
      return false;
    f.code = static_cast<unsigned>(c);
    f.group = static_cast<unsigned>(g);
    f.operation = static_cast<unsigned>(o);
    f.announcedLength = len;
    if (n >= items.size())
      items.resize(n + 1, Frame{3, static_cast<unsigned>(a), a == kGroupFiles ? 7u : 2u, ""});
    items[n] = f;
    h.OverrideItems(static_cast<unsigned>(a), items);
    return true;
  }
  if (cmd == "refuse" && pos.size() == 2 && ParseInt(pos[0], &a) && ParseInt(pos[1], &b)) {
    std::string reply = "1";
    if (!bytes("reply", &reply)) return false;
    h.RefuseUpload(static_cast<unsigned>(a), static_cast<int>(b), reply);
    return true;
  }
  if (cmd == "fault" && pos.size() == 1) {
    static const std::map<std::string, Fault::Action> actions = {
        {"noise", Fault::kNoise}, {"extra", Fault::kExtra},     {"pieces", Fault::kPieces},
        {"delay", Fault::kDelay}, {"silence", Fault::kSilence}, {"vanish", Fault::kVanish}};
    auto act = actions.find(pos[0]);
    if (act == actions.end()) return (*error = "unknown fault " + pos[0]), false;
    Fault f;
    f.action = act->second;
    if (opt.count("req") && !ParseReq(opt["req"], &f.code, &f.group, &f.operation))
      return (*error = "bad request " + opt["req"]), false;
    long long nth, item, at, piece, ms, times;
    if (!num("nth", 0, &nth) || !num("item", -1, &item) || !num("at", 0, &at) ||
        !num("piece", 1, &piece) || !num("ms", 0, &ms) || !num("times", 0, &times) ||
        !bytes("bytes", &f.bytes))
      return false;
    f.nth = static_cast<int>(nth);
    f.item = static_cast<int>(item);
    f.at = static_cast<std::size_t>(at);
    f.maxPiece = static_cast<int>(piece);
    f.ms = static_cast<int>(ms);
    f.times = static_cast<int>(times);
    h.AddFault(f);
    return true;
  }
  *error = "cannot read control line: " + line;
  return false;
}

bool ApplyControlScript(Handset& h, const std::string& text, std::string* error) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    ++n;
    if (!ApplyControlLine(h, line, error)) {
      *error = "line " + std::to_string(n) + ": " + *error;
      return false;
    }
  }
  return true;
}

bool ApplyFaultPreset(Handset& h, const std::string& name, std::string* error) {
  static const std::map<std::string, std::vector<std::string>> presets = {
      {"noise", {"fault noise bytes=\\x00\\xE1\\x00\\xE1\\x01\\xE1"}},
      {"extra", {"fault extra bytes=\\x00\\x55\\xE1"}},
      {"bytewise", {"fault pieces piece=1"}},
      {"pieces", {"fault pieces piece=7 ms=1"}},
      {"slow", {"fault delay ms=300"}},
      {"refuse-hello", {"reply 0/1/1 OK\\r\\n"}},
      {"refuse-pin", {"reply 1/2/1 NG"}},
      {"refuse-upload", {"refuse 6 0", "refuse 8 0", "refuse 3 0", "refuse 4 0", "refuse 5 0"}},
      {"silent", {"fault silence at=0"}},
      {"silence-listing", {"fault silence req=3/6/7 item=1 at=5"}},
      {"vanish-listing", {"fault vanish req=3/6/7 item=1 at=6"}},
      {"vanish-download", {"fault vanish req=3/6/2 at=20"}},
  };
  auto it = presets.find(name);
  if (it == presets.end()) {
    *error = "unknown fault preset " + name;
    return false;
  }
  for (const std::string& line : it->second)
    if (!ApplyControlLine(h, line, error)) return false;
  return true;
}

}  // namespace handset
