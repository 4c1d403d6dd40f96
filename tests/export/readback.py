#!/usr/bin/python3
"""End to end: `palvo get --all` from palvo-handset, `palvo export`, and the
export read back by readers that share nothing with it: Python's vobject for
contacts.vcf, html.parser for bookmarks.html.

    readback.py BUILD_DIR SOURCE_DIR
"""
import html.parser
import os
import quopri
import shutil
import subprocess
import sys
import tempfile
import unittest

import vobject

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
EXPECTED_CARDS = [(("鈴木", "一郎"), "鈴木 一郎", ["090-1111-2222"]),
                  (("佐藤", "次郎"), "佐藤 次郎", ["080-3333-4444"])] + \
    [card[1:] for card in EXTRA_CARDS]
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
        with open(os.path.join(content, "bookmarks.txt"), "ab") as f:
            f.write(b"%s\t10\t%s\t%s\r\n" % (EXTRA_BOOKMARK[0].encode(), sjis(EXTRA_BOOKMARK[1]),
                                              EXTRA_BOOKMARK[2].encode()))
        env = dict(os.environ, PALVO_REGISTRY=os.path.join(cls.root, "registry"))
        env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
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
        self.assertIn("exported 6 contacts, 4 bookmarks, 3 mails; 6 other files copied",
                      self.summary)
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

    def test_mail_is_utf8_with_lf(self):
        for name, first in [("mail000.txt", "X-PORIKA-LIGHT: 07012345678,2006/03/01 10:15,1,0"),
                            ("mail001.txt", "X-PORIKA-MAIL: ichiro@example.jp,2006/03/02 21:40,1,"
                                            "件名:会議"),
                            ("mail002.txt", "X-PORIKA-MAIL: jiro@example.jp,2006/03/03 08:00,0,"
                                            "件名:写真")]:
            with self.subTest(name=name):
                text = self.read("mail", name)
                self.assertNotIn(b"\r", text)
                self.assertEqual(text.decode("utf-8").split("\n")[0], first)
                self.assertEqual(text, self.before[name].decode("cp932").replace("\r\n", "\n")
                                 .encode("utf-8"))

    def test_other_files_byte_for_byte_and_the_backup_unchanged(self):
        for name in ["sky.png", "check.bmp", "chime.mid", "index.html", "me.vcf", "memo.txt"]:
            with self.subTest(name=name):
                self.assertEqual(self.read(name), self.before[name])
        self.assertEqual(snapshot(self.backup), self.before)

    def test_an_empty_backup_folder(self):
        empty, out = os.path.join(self.root, "empty"), os.path.join(self.root, "empty-out")
        os.mkdir(empty)
        r = run([os.path.join(BUILD, "palvo"), "export", empty, "--to", out], self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("exported 0 contacts, 0 bookmarks, 0 mails; 0 other files copied",
                      r.stdout.decode())
        self.assertEqual(os.listdir(out), [])

    def test_usage_and_refusals(self):
        palvo = os.path.join(BUILD, "palvo")
        for args, status, words in [(["export", self.backup], 2, "try 'palvo export --help'"),
                                    (["export", "--to", self.out], 2, "try 'palvo export --help'"),
                                    (["export", self.backup, "--to", self.backup], 1,
                                     "outside the backup folder"),
                                    (["export", os.path.join(self.root, "nope"), "--to", self.out],
                                     1, "nope: No such file or directory"),
                                    (["export", os.path.join(self.backup, "bookmark.txt"), "--to",
                                      self.out], 1, "not a folder")]:
            with self.subTest(args=args):
                r = run([palvo] + args, self.env)
                self.assertEqual(r.returncode, status)
                self.assertIn(words, r.stderr.decode())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
