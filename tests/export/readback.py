#!/usr/bin/python3
"""End to end: `palvo get --all` from palvo-handset, `palvo export`, and the
export read back by readers that share nothing with it: Python's mailbox and
email for the mail, vobject for contacts.vcf, html.parser for bookmarks.html
and the archive (every link checked), headless Chromium for screenshots of
the archive (kept in BUILD_DIR/export-screenshots/).

    readback.py BUILD_DIR SOURCE_DIR
"""
import email
import email.policy
import html.parser
import mailbox
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

try:
    import vobject
except ImportError:
    # A missing reader is a skip (77) on a developer's machine, a failure in CI.
    if os.environ.get("CI") == "true":
        sys.exit("readback.py: python3-vobject is missing (needed under CI=true)")
    print("skipped: python3-vobject is missing")
    sys.exit(77)

BUILD, SOURCE = sys.argv[1], sys.argv[2]
PIN = "1234"
FFFD = "\ufffd"


def sjis(text):
    return text.encode("cp932")


def qp(data):
    """Quoted-printable of every byte, with a soft line break in the middle,
    inside a two-byte character."""
    encoded = "".join("=%02X" % b for b in data)
    cut = (len(encoded) // 6) * 3 + 3  # after the first byte of a pair
    return (encoded[:cut] + "=\r\n" + encoded[cut:]).encode()


LONG_NOTE = "携帯電話の中身を今どきのソフトへ。" * 6
# Cards added to the handset's sample: (vCard 2.1 bytes, N, FN, TELs).
EXTRA_CARDS = [
    (b"BEGIN:VCARD\r\nVERSION:2.1\r\n"
     b"N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:" + qp(sjis("佐藤;花子")) + b"\r\n"
     b"NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=SHIFT_JIS:" + qp(sjis("住所は東京\r\n二行目")) + b"\r\n"
     b"TEL;HOME;VOICE:03-1234-5678\r\nEMAIL;INTERNET:hanako@example.jp\r\nEND:VCARD\r\n",
     ("佐藤", "花子"), "佐藤 花子", ["03-1234-5678"]),
    ("BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8:山田;太郎\r\nTEL;CELL:080-5555-6666\r\n"
     "URL:http://yamada.example.jp/\r\nEND:VCARD\r\n".encode("utf-8"),
     ("山田", "太郎"), "山田 太郎", ["080-5555-6666"]),
    (b"BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" + sjis("長;名前") + b"\r\n"
     b"FN;CHARSET=SHIFT_JIS:" + sjis("長い 名前") + b"\r\n"
     b"NOTE;CHARSET=SHIFT_JIS:" + sjis(LONG_NOTE) + b"\r\nEND:VCARD\r\n",
     ("長", "名前"), "長い 名前", []),
    (b"BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" + sjis("不正;データ") + b"\r\n"
     b"NOTE:abc\x85\x90def\r\nTEL:1\r\nEND:VCARD\r\n",
     ("不正", "データ"), "不正 データ", ["1"]),
]
# A second card of the first contact, with a reading in half-width kana and a
# group: merged into the first.
DUPLICATE_CARD = (b"BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" + sjis("鈴木;一郎") +
                  b"\r\nSOUND;X-IRMC-N;CHARSET=SHIFT_JIS:" + sjis("ｽｽﾞｷ;ｲﾁﾛｳ") + b"\r\n"
                  b"CATEGORIES;CHARSET=SHIFT_JIS:" + sjis("友人") + b"\r\n"
                  b"TEL;HOME:03-0000-0000\r\nEND:VCARD\r\n")
EXPECTED_CARDS = [(("鈴木", "一郎"), "鈴木 一郎", ["090-1111-2222", "03-0000-0000"]),
                  (("佐藤", "次郎"), "佐藤 次郎", ["080-3333-4444"])] + \
    [card[1:] for card in EXTRA_CARDS] + [(("山田", "花子"), "山田 花子", ["070-1234-5678"])]
# Mails added to the handset's sample: a body line that starts with "From ",
# pictograms (the user-defined area), empty values.
EXTRA_MAILS = [
    b"X-PORIKA-MAIL: 090-1234-5678,2006/03/04 12:00,1,\r\nFrom the station\r\n>From here\r\n"
    b"\xf0\x40\xf0\x41 " + sjis("晴れ") + b"\r\n",
    b"X-PORIKA-MAIL: ,,,\r\n\r\n" + sjis("値のないメール") + b"\r\n",
]
# (file, Date, From, Subject, body) of every mail, in number order.
EXPECTED_MAILS = [
    ("000", "Wed, 01 Mar 2006 10:15:00 +0900", "07012345678 <07012345678@phone.invalid>", None,
     None),
    ("001", "Thu, 02 Mar 2006 21:40:00 +0900", "ichiro@example.jp", "会議",
     "明日の会議は10時からです。\nよろしくお願いします。\n"),
    ("002", "Fri, 03 Mar 2006 08:00:00 +0900", "jiro@example.jp", "写真", "写真を送ります。\n"),
    ("003", "Sat, 04 Mar 2006 12:00:00 +0900", "090-1234-5678 <09012345678@phone.invalid>",
     "From the station", "From the station\n>From here\n\ue000\ue001 晴れ\n"),
    ("004", None, "unknown <unknown@phone.invalid>", "値のないメール", "\n値のないメール\n"),
]
# The handset's sample bookmarks and one more: (folder, title, URL).
EXTRA_BOOKMARK = ("05", "<特選>&\"おすすめ\"", "http://example.jp/?a=1&b=2")
EXPECTED_BOOKMARKS = [("フォルダ00", "天気予報", "http://example.jp/weather/"),
                      ("フォルダ00", "乗換案内", "http://example.jp/train/"),
                      ("フォルダ03", "ニュース", "http://news.example.jp/"),
                      ("フォルダ05", EXTRA_BOOKMARK[1], EXTRA_BOOKMARK[2])]


def run(args, env, stdin=""):
    return subprocess.run(args, input=stdin.encode(), env=env, capture_output=True, timeout=120)


class Bookmarks(html.parser.HTMLParser):
    """(folder, title, URL) of every link, in the file's order."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.entries, self.folder, self.tag, self.href, self.text = [], None, None, None, ""

    def handle_starttag(self, tag, attrs):
        self.tag, self.text = tag, ""
        if tag == "a":
            self.href = dict(attrs).get("href")

    def handle_data(self, data):
        self.text += data

    def handle_endtag(self, tag):
        if tag == "h3":
            self.folder = self.text
        elif tag == "a":
            self.entries.append((self.folder, self.text, self.href))


class Links(html.parser.HTMLParser):
    """Every href and src of a page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("href", "src") and value:
                self.links.append(value)


def snapshot(folder):
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


class ExportReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="palvo-readback-")
        content = os.path.join(cls.root, "content")
        shutil.copytree(os.path.join(SOURCE, "handset", "sample"), content)
        with open(os.path.join(content, "address.vcf"), "ab") as f:
            for card in EXTRA_CARDS:
                f.write(card[0])
            f.write(DUPLICATE_CARD)
        for i, mail in enumerate(EXTRA_MAILS):
            with open(os.path.join(content, "mail", "%03d.txt" % (i + 2)), "wb") as f:
                f.write(mail)
        with open(os.path.join(content, "bookmarks.txt"), "ab") as f:
            f.write(b"%s\t10\t%s\t%s\r\n" % (EXTRA_BOOKMARK[0].encode(), sjis(EXTRA_BOOKMARK[1]),
                                              EXTRA_BOOKMARK[2].encode()))
        env = dict(os.environ, PALVO_REGISTRY=os.path.join(cls.root, "registry"))
        env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
        env["LC_ALL"] = "C.UTF-8"  # the summary's English is checked below
        handset = subprocess.Popen(
            [os.path.join(BUILD, "palvo-handset"), "--pin", PIN, "--registry", env["PALVO_REGISTRY"],
             "--content", content, "--log", os.path.join(cls.root, "handset.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        try:
            assert handset.stdout.readline(), "palvo-handset did not start"
            palvo = os.path.join(BUILD, "palvo")
            cls.backup = os.path.join(cls.root, "bk")
            got = run([palvo, "get", "--all", "--to", cls.backup], env, PIN + "\n")
            assert got.returncode == 0, got.stderr.decode()
        finally:
            handset.terminate()
            handset.wait(30)
            handset.stdout.close()
        cls.before = snapshot(cls.backup)
        cls.out = os.path.join(cls.root, "out")
        cls.export = run([palvo, "export", cls.backup, "--to", cls.out], env)
        cls.summary = cls.export.stdout.decode("utf-8")
        cls.env = env

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def read(self, *parts):
        with open(os.path.join(self.out, *parts), "rb") as f:
            return f.read()

    def test_summary_counts_and_the_one_problem(self):
        # The invalid bytes are the one problem: exit status 1.
        self.assertEqual(self.export.returncode, 1, self.export.stderr)
        self.assertIn("exported 7 contacts, 4 bookmarks, 5 mails; 6 other files copied",
                      self.summary)
        self.assertIn("2 pictograms as private-use characters", self.summary)
        self.assertIn("1 duplicate merged", self.summary)
        self.assertIn("2 bytes that were not valid text became U+FFFD", self.summary)
        self.assertRegex(self.summary, r"address\.txt:\d+: card 6: 2 bytes not valid Shift-JIS")
        self.assertIn("1 problem:", self.summary)

    def test_contacts_read_back_with_names_and_numbers(self):
        text = self.read("contacts.vcf").decode("utf-8")
        cards = list(vobject.readComponents(text))
        self.assertEqual(len(cards), len(EXPECTED_CARDS))
        for card, (name, fn, tels) in zip(cards, EXPECTED_CARDS):
            with self.subTest(fn=fn):
                self.assertEqual(card.version.value, "3.0")
                self.assertEqual((card.n.value.family, card.n.value.given), name)
                self.assertEqual(card.fn.value, fn)
                self.assertEqual([t.value for t in card.contents.get("tel", [])], tels)
        self.assertEqual(cards[0].tel.params.get("TYPE"), ["CELL"])
        # Quoted-printable with a soft break inside a character; a line break.
        self.assertEqual(cards[2].note.value, "住所は東京\n二行目")
        self.assertEqual(cards[2].email.value, "hanako@example.jp")
        self.assertEqual(cards[2].tel.params.get("TYPE"), ["HOME", "VOICE"])
        self.assertEqual(cards[3].url.value, "http://yamada.example.jp/")
        self.assertEqual(cards[4].note.value, LONG_NOTE)
        self.assertEqual(cards[5].note.value, "abc" + FFFD + FFFD + "def")
        self.assertEqual(cards[0].contents["x-phonetic-last-name"][0].value, "スズキ")
        self.assertEqual(cards[0].contents["x-phonetic-first-name"][0].value, "イチロウ")
        self.assertEqual(cards[0].contents["sort-string"][0].value, "スズキイチロウ")
        self.assertEqual(cards[0].categories.value, ["友人"])
        for card in cards:
            self.assertNotIn("charset", {k.lower() for p in card.getChildren() for k in p.params})

    def test_contacts_file_is_folded_utf8_with_crlf(self):
        raw = self.read("contacts.vcf")
        self.assertTrue(raw.endswith(b"\r\n"))
        lines = raw[:-2].split(b"\r\n")
        self.assertNotIn(b"\n", b"".join(lines))
        for line in lines:
            self.assertLessEqual(len(line), 75, line)
            line.decode("utf-8")  # each physical line whole characters
        self.assertTrue(any(line.startswith(b" ") for line in lines))

    def test_bookmarks_read_back_in_folders(self):
        parser = Bookmarks()
        text = self.read("bookmarks.html").decode("utf-8")
        self.assertTrue(text.startswith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"))
        parser.feed(text)
        self.assertEqual(parser.entries, EXPECTED_BOOKMARKS)

    def messages(self):
        box = mailbox.mbox(os.path.join(self.out, "mail.mbox"), create=False)
        try:
            # mailbox splits the messages; the mboxrd unescaping is the reader's part.
            return [email.message_from_bytes(re.sub(rb"(?m)^>(>*From )", rb"\1",
                                                    box.get_bytes(key)),
                                             policy=email.policy.default)
                    for key in box.keys()]
        finally:
            box.close()

    def check_message(self, msg, expected):
        number, date, sender, subject, body = expected
        self.assertEqual(msg.defects, [])
        for name, value in msg.items():
            self.assertEqual(value.defects, (), name)
        self.assertEqual(msg["Date"], date)
        self.assertEqual(msg["From"], sender)
        if subject is not None:
            self.assertEqual(msg["Subject"], subject)
        self.assertEqual(msg.get_content_type(), "text/plain")
        text = msg.get_content().replace("\r\n", "\n")  # an .eml's lines end in CR LF
        self.assertNotIn(FFFD, text)
        self.assertNotIn("?", text)
        if body is not None:
            self.assertEqual(text, body)
        self.assertIn(msg["X-Palvo-Kind"], ("mail", "light mail"))

    def test_mbox_and_eml_read_back_as_messages(self):
        messages = self.messages()
        self.assertEqual(len(messages), len(EXPECTED_MAILS))
        for msg, expected in zip(messages, EXPECTED_MAILS):
            with self.subTest(mail=expected[0]):
                self.check_message(msg, expected)
                eml = email.message_from_bytes(self.read("mail", expected[0] + ".eml"),
                                               policy=email.policy.default)
                self.check_message(eml, expected)
                self.assertEqual(eml["Message-ID"], msg["Message-ID"])
                self.assertTrue(all(len(line) <= 998 for line in
                                    self.read("mail", expected[0] + ".eml").split(b"\r\n")))
        light = messages[0]
        self.assertEqual(light["X-Palvo-Kind"], "light mail")
        lines = self.before["mail000.txt"].decode("cp932").split("\r\n")
        self.assertEqual(light.get_all("X-Palvo-Lines"), lines[2:4])
        self.assertEqual(light.get_content(), "\n".join(lines[4:]) + "\n")
        self.assertEqual(messages[1]["X-Palvo-Values"],
                         "ichiro@example.jp,2006/03/02 21:40,1,件名:会議")
        self.assertEqual(len({m["Message-ID"] for m in messages}), len(messages))

    def test_a_second_export_gives_the_same_message_ids(self):
        again = os.path.join(self.root, "again")
        run([os.path.join(BUILD, "palvo"), "export", self.backup, "--to", again], self.env)
        with open(os.path.join(again, "mail.mbox"), "rb") as f:
            self.assertEqual(f.read(), self.read("mail.mbox"))
        shutil.rmtree(again)

    def test_other_files_byte_for_byte_with_utf8_copies_and_the_backup_unchanged(self):
        for name in ["sky.png", "check.bmp", "chime.mid", "index.html", "me.vcf", "memo.txt"]:
            with self.subTest(name=name):
                self.assertEqual(self.read("files", name), self.before[name])
        self.assertEqual(self.read("files", "memo.utf-8.txt").decode("utf-8"),
                         self.before["memo.txt"].decode("cp932"))
        page = self.read("files", "index.utf-8.html").decode("utf-8")
        self.assertIn("charset=UTF-8", page)
        self.assertIn("ポケットの中のページです。", page)
        self.assertIn("CHARSET=UTF-8", self.read("files", "me.utf-8.vcf").decode("utf-8"))
        self.assertEqual(snapshot(self.backup), self.before)

    def test_archive_pages_parse_and_every_link_resolves_inside(self):
        pages = 0
        for base, _, names in os.walk(self.out):
            for name in names:
                if not name.endswith(".html") or base.endswith("files"):
                    continue
                pages += 1
                path = os.path.join(base, name)
                links = Links()
                links.feed(open(path, encoding="utf-8").read())
                links.close()
                self.assertTrue(links.links or name == "bookmarks.html", path)
                for link in links.links:
                    if name == "bookmarks.html":
                        continue  # the bookmarks lead out, as they should
                    with self.subTest(page=os.path.relpath(path, self.out), link=link):
                        parts = urllib.parse.urlsplit(link)
                        self.assertEqual((parts.scheme, parts.netloc), ("", ""))
                        target = os.path.realpath(os.path.join(
                            base, urllib.parse.unquote(parts.path)))
                        self.assertTrue(target.startswith(os.path.realpath(self.out) + os.sep))
                        self.assertTrue(os.path.isfile(target))
        self.assertGreaterEqual(pages, 6 + len(EXPECTED_MAILS))
        listing = self.read("archive", "mail.html").decode("utf-8")
        order = [listing.index("mail/%s.html" % m[0]) for m in EXPECTED_MAILS]
        # Newest first; the mail without a date last.
        self.assertEqual(sorted(order), [order[3], order[2], order[1], order[0], order[4]])
        self.assertIn("sky.png", self.read("archive", "photos.html").decode("utf-8"))

    def test_archive_in_a_browser(self):
        browser = shutil.which("chromium") or shutil.which("chromium-browser")
        if not browser:
            if os.environ.get("CI") == "true":
                self.fail("chromium is missing (scripts/setup.sh native installs it)")
            self.skipTest("no chromium")
        shots = os.path.join(BUILD, "export-screenshots")
        os.makedirs(shots, exist_ok=True)
        profile = os.path.join(self.root, "chromium-profile")
        for page, shot in [("index.html", "index.png"),
                           (os.path.join("archive", "mail", "001.html"), "mail-001.png")]:
            with self.subTest(page=page):
                png = os.path.join(shots, shot)
                if os.path.exists(png):
                    os.remove(png)
                r = subprocess.run(
                    [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=1000,700",
                     "--screenshot=" + png, "file://" + os.path.join(self.out, page)],
                    capture_output=True, timeout=120)
                self.assertTrue(os.path.isfile(png), r.stderr.decode(errors="replace"))
                with open(png, "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        shutil.rmtree(profile, ignore_errors=True)

    def test_a_signal_leaves_no_cut_file_and_no_temporary_folder(self):
        big, out = os.path.join(self.root, "big"), os.path.join(self.root, "big-out")
        os.mkdir(big)
        with open(os.path.join(big, "movie.3gp"), "wb") as f:
            f.truncate(200 << 20)  # sparse: cheap here, 200 MB to copy for the export
        export = subprocess.Popen([os.path.join(BUILD, "palvo"), "export", big, "--to", out],
                                  env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            # The signal once the export has begun writing: its temporary folder is there.
            while export.poll() is None and not any(
                    n.startswith(".big-out.palvo-export") for n in os.listdir(self.root)):
                pass
            export.send_signal(signal.SIGTERM)
            _, err = export.communicate(timeout=120)
        finally:
            if export.poll() is None:
                export.kill()
                export.wait()
        self.assertEqual(export.returncode, 128 + signal.SIGTERM, err.decode())
        self.assertIn("left as it was", err.decode())
        self.assertFalse(os.path.exists(out))
        self.assertEqual([n for n in os.listdir(self.root) if ".palvo-" in n], [])
        shutil.rmtree(big)

    def test_an_empty_backup_folder(self):
        empty, out = os.path.join(self.root, "empty"), os.path.join(self.root, "empty-out")
        os.mkdir(empty)
        r = run([os.path.join(BUILD, "palvo"), "export", empty, "--to", out], self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("exported 0 contacts, 0 bookmarks, 0 mails; 0 other files copied",
                      r.stdout.decode())
        self.assertEqual(sorted(os.listdir(out)), [".palvo-export", "archive", "index.html"])

    def test_usage_and_refusals(self):
        palvo = os.path.join(BUILD, "palvo")
        os.makedirs(os.path.join(self.root, "mine"), exist_ok=True)
        with open(os.path.join(self.root, "mine", "notes.txt"), "w") as f:
            f.write("mine")
        for args, status, words in [(["export", self.backup], 2, "try 'palvo export --help'"),
                                    (["export", "--to", self.out], 2, "try 'palvo export --help'"),
                                    (["export", self.backup, "--to", self.backup], 1,
                                     "outside the backup folder"),
                                    (["export", os.path.join(self.root, "nope"), "--to", self.out],
                                     1, "nope: No such file or directory"),
                                    (["export", os.path.join(self.backup, "bookmark.txt"), "--to",
                                      self.out], 1, "not a folder"),
                                    (["export", self.backup, "--to", os.path.join(self.root, "mine")],
                                     1, "give --force")]:
            with self.subTest(args=args):
                r = run([palvo] + args, self.env)
                self.assertEqual(r.returncode, status)
                self.assertIn(words, r.stderr.decode())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
