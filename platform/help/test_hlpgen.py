"""Checks of hlpgen: the files it writes are read back with a reader of the
WinHelp format written separately from the generator, following the public
description of the format (and the way Wine's viewer walks it)."""

import os
import random
import re
import struct
import unittest

import hlpgen

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- reader

def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


class Reader:
    def __init__(self, data):
        self.data = data
        if u32(data, 0) != 0x00035F3F:
            raise ValueError("magic")
        if u32(data, 12) != len(data):
            raise ValueError("file size field")
        self.files = dict(self.tree_entries(self.file_body(u32(data, 4)), self.dir_entry))

    def file_body(self, offset):
        reserved, used = u32(self.data, offset), u32(self.data, offset + 4)
        if reserved != used + 9:
            raise ValueError(f"reserved {reserved} for used {used} at {offset}")
        if offset + reserved > len(self.data):
            raise ValueError("internal file beyond the end")
        return self.data[offset + 9:offset + 9 + used]

    def body(self, name):
        return self.file_body(self.files[name])

    @staticmethod
    def dir_entry(page, p, leaf):
        end = page.index(b"\0", p)
        key = page[p:end].decode("ascii")
        if leaf:
            return key, u32(page, end + 1), end + 5
        return key, u16(page, end + 1), end + 3

    @staticmethod
    def kw_entry(page, p, leaf):
        end = page.index(b"\0", p)
        key = page[p:end].decode("cp1252")
        if leaf:
            count, at = struct.unpack_from("<HI", page, end + 1)
            return key, (count, at), end + 7
        return key, u16(page, end + 1), end + 3

    def keywords(self):
        """{keyword: [topic offsets]} from |KWBTREE and |KWDATA."""
        data = self.body("|KWDATA")
        out = {}
        for key, (count, at) in self.tree_entries(self.body("|KWBTREE"), self.kw_entry):
            if at + 4 * count > len(data):
                raise ValueError("keyword data beyond |KWDATA")
            out[key] = list(struct.unpack_from(f"<{count}I", data, at))
        return out

    @staticmethod
    def ctx_entry(page, p, leaf):
        key = struct.unpack_from("<i", page, p)[0]
        if leaf:
            return key, u32(page, p + 4), p + 8
        return key, u16(page, p + 4), p + 6

    @staticmethod
    def tree_header(tree):
        magic, _flags, page_size = struct.unpack_from("<HHH", tree, 0)
        if magic != 0x293B:
            raise ValueError("B+ tree magic")
        root, neg, total, levels, count = struct.unpack_from("<hhhhi", tree, 26)
        if neg != -1 or len(tree) != 38 + total * page_size:
            raise ValueError("B+ tree header")
        return page_size, root, levels, count

    def page(self, tree, n):
        page_size = self.tree_header(tree)[0]
        return tree[38 + n * page_size:38 + (n + 1) * page_size]

    def tree_entries(self, tree, entry):
        """All leaf entries through the leaf chain, starting at the leftmost leaf."""
        _, n, levels, count = self.tree_header(tree)
        for _ in range(levels - 1):
            n = u16(self.page(tree, n), 4)
        out = []
        prev = 0xFFFF
        while n != 0xFFFF:
            page = self.page(tree, n)
            if u16(page, 4) != prev:
                raise ValueError("leaf chain back link")
            p = 8
            for _ in range(struct.unpack_from("<h", page, 2)[0]):
                key, value, p = entry(page, p, True)
                out.append((key, value))
            prev, n = n, u16(page, 6)
        if len(out) != count:
            raise ValueError("entry count")
        return out

    def tree_search(self, tree, key, entry):
        """Descends from the root as a viewer does."""
        _, n, levels, _ = self.tree_header(tree)
        for _ in range(levels - 1):
            page = self.page(tree, n)
            child, p = u16(page, 4), 6
            for _ in range(struct.unpack_from("<h", page, 2)[0]):
                k, v, p2 = entry(page, p, False)
                if k > key:
                    break
                child, p = v, p2
            n = child
        page = self.page(tree, n)
        p = 8
        for _ in range(struct.unpack_from("<h", page, 2)[0]):
            k, v, p = entry(page, p, True)
            if k == key:
                return v
        return None

    def system(self):
        b = self.body("|SYSTEM")
        magic, minor, major, _date, flags = struct.unpack_from("<HHHIH", b, 0)
        records = {}
        p = 12
        while p + 4 <= len(b):
            kind, size = struct.unpack_from("<HH", b, p)
            records.setdefault(kind, []).append(b[p + 4:p + 4 + size])
            p += 4 + size
        if p != len(b):
            raise ValueError("|SYSTEM records overrun")
        return (magic, minor, major, flags), records

    def topics(self):
        """Walks |TOPIC from the first link; returns a list of topics with
        their title, offset (block and character count), paragraphs and jumps."""
        b = self.body("|TOPIC")
        if len(b) % 4096:
            raise ValueError("|TOPIC is not whole blocks")
        stream = b"".join(b[i + 12:i + 4096] for i in range(0, len(b), 4096))
        topics = []
        pos, prev, block_seen, count = 12, 0xFFFFFFFF, -1, 0
        while pos != 0xFFFFFFFF:
            block, off = (pos - 12) >> 14, (pos - 12) & 0x3FFF
            at = block * 4084 + off
            size, len2, back, nxt, len1 = struct.unpack_from("<IIIII", stream, at)
            kind = stream[at + 20]
            if back != prev:
                raise ValueError(f"back link at {pos:#x}")
            link1 = stream[at + 21:at + len1]
            link2 = stream[at + len1:at + size]
            if len(link2) != len2:
                raise ValueError("LinkData2 size")
            if block != block_seen:
                block_seen, count = block, 0
            if kind == 2:
                topics.append({"title": link2.rstrip(b"\0").decode("cp1252"),
                               "offset": (block << 15) + count,
                               "paras": [], "jumps": [], "number": u32(link1, 12)})
            elif kind == 0x20:
                text, chars, jumps = self.paragraph(link1, link2)
                topics[-1]["paras"].append(text)
                topics[-1]["jumps"] += jumps
                count += chars
            else:
                raise ValueError(f"record type {kind}")
            prev, pos = pos, nxt
        return topics

    @staticmethod
    def paragraph(link1, link2):
        p = 0

        def clong():
            nonlocal p
            v = u16(link1, p)
            if v & 1:
                v = u32(link1, p)
                p += 4
            else:
                p += 2
            return v >> 1

        def cushort():
            nonlocal p
            v = link1[p]
            if v & 1:
                v = u16(link1, p)
                p += 2
            else:
                p += 1
            return v >> 1

        def cshort():
            nonlocal p
            if link1[p] & 1:
                v = (u16(link1, p) >> 1) - 0x4000
                p += 2
            else:
                v = (link1[p] >> 1) - 0x40
                p += 1
            return v

        if clong() != len(link2):
            raise ValueError("TopicSize")
        chars = cushort()
        p += 4
        bits = u16(link1, p)
        p += 2
        for bit in (0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040):
            if bits & bit:
                cshort()
        strings = link2.split(b"\0")[:-1]
        text, jumps, counted = "", [], 0
        for s in strings:
            text += s.decode("cp1252")
            counted += len(s)
            cmd = link1[p]
            if cmd == 0xFF:
                p += 1
                break
            if cmd == 0x80:
                p += 3
            elif cmd == 0x82:
                text += "\n"
                counted += 1
                p += 1
            elif cmd == 0x89:
                p += 1
            elif cmd == 0xE3:
                jumps.append(struct.unpack_from("<i", link1, p + 1)[0])
                p += 5
            else:
                raise ValueError(f"formatting command {cmd:#x}")
        else:
            raise ValueError("no end of formatting")
        if p != len(link1) or counted != chars:
            raise ValueError("paragraph length")
        return text, chars, jumps


def plain(text):
    """A source paragraph as the reader shows it: markup removed."""
    return re.sub(r"\[\[[^|\]]+\|([^\]]+)\]\]|\*\*(.+?)\*\*|`([^`]+)`",
                  lambda m: m.group(1) or m.group(2) or m.group(3), text) + "\n"


def synthetic_source(topics, words):
    rnd = random.Random(7)
    lines = ["title: Test file", ""]
    for i in range(topics):
        lines.append(f"= topic_{i} | Topic number {i}")
        lines.append(f"keywords: word {i:03d}; shared; group {i % 3}")
        for j in range(6):
            body = " ".join(rnd.choice(["scan", "button", "lamp", "port"]) for _ in range(words))
            lines.append(f"Paragraph {j}: {body} [[topic_{(i + 1) % topics}|next]] **bold** `code`.")
            lines.append("")
    return "\n".join(lines)


# ---------------------------------------------------------------- tests

class GeneratedFile(unittest.TestCase):
    def check_document(self, doc):
        data = hlpgen.build_hlp(doc)
        r = Reader(data)
        expected = ["|CONTEXT", "|FONT", "|SYSTEM", "|TOPIC"]
        if any(t["keywords"] for t in doc["topics"]):
            expected += ["|KWBTREE", "|KWDATA"]
        self.assertEqual(sorted(r.files), sorted(expected))

        header, records = r.system()
        self.assertEqual(header, (0x036C, 21, 1, 0))
        self.assertEqual(records[1], [doc["title"].encode("cp1252") + b"\0"])
        self.assertEqual(len(records[6]), 1)
        self.assertEqual(len(records[6][0]), 90)
        self.assertEqual(records[6][0][21:21 + 51].rstrip(b"\0"), doc["title"].encode("cp1252")[:50])

        topics = r.topics()
        self.assertEqual([t["title"] for t in topics], [t["title"] for t in doc["topics"]])
        self.assertEqual([t["number"] for t in topics], list(range(len(topics))))
        for got, want in zip(topics, doc["topics"]):
            self.assertEqual(got["paras"], [plain(text) for _, text in want["paras"]])
        offsets = [t["offset"] for t in topics]
        self.assertEqual(len(set(offsets)), len(offsets), "two topics share an offset")

        # The contents record names the first topic.
        self.assertEqual(records[3], [struct.pack("<I", topics[0]["offset"])])
        # Every context and every jump finds its topic through |CONTEXT.
        ctx = r.body("|CONTEXT")
        by_offset = {t["offset"]: t for t in topics}
        for want, got in zip(doc["topics"], topics):
            self.assertEqual(r.tree_search(ctx, hlpgen.context_hash(want["context"]), Reader.ctx_entry),
                             got["offset"], want["context"])
        for t in topics:
            for h in t["jumps"]:
                self.assertIn(r.tree_search(ctx, h, Reader.ctx_entry), by_offset)

        # The index: each keyword, once, in alphabetical order, naming the
        # topics that list it.
        want = {}
        for src, got in zip(doc["topics"], topics):
            for word in src["keywords"]:
                want.setdefault(word.lower(), [])
                if got["offset"] not in want[word.lower()]:
                    want[word.lower()].append(got["offset"])
        if want:
            index = r.keywords()
            self.assertEqual(list(index), sorted(index, key=str.lower))
            self.assertEqual({k.lower(): v for k, v in index.items()}, want)
        return r, topics

    def test_detect_help_reads_back(self):
        with open(os.path.join(HERE, "detect_help.txt"), encoding="utf-8") as f:
            doc = hlpgen.parse_source(f.read())
        r, topics = self.check_document(doc)
        self.assertEqual(topics[0]["title"], "Scan Button Utility Help")
        self.assertGreater(len(r.body("|TOPIC")), 4096, "the text no longer crosses a topic block")

    def test_many_topics_cross_many_blocks(self):
        doc = hlpgen.parse_source(synthetic_source(topics=40, words=30))
        r, topics = self.check_document(doc)
        self.assertGreaterEqual(len(r.body("|TOPIC")) // 4096, 5)
        self.assertGreater(len({t["offset"] >> 15 for t in topics}), 4)

    def test_keyword_shared_by_topics_and_spelt_twice(self):
        doc = hlpgen.parse_source("title: T\n= a | A\nkeywords: Lamp; port\nx\n"
                                  "= b | B\nkeywords: lamp; Zoom; apple\ny\n")
        r, topics = self.check_document(doc)
        self.assertEqual(r.keywords(), {"apple": [topics[1]["offset"]],
                                        "Lamp": [topics[0]["offset"], topics[1]["offset"]],
                                        "port": [topics[0]["offset"]],
                                        "Zoom": [topics[1]["offset"]]})

    def test_one_short_topic(self):
        self.check_document(hlpgen.parse_source("title: T\n= only | Only\nText.\n"))


class BTree(unittest.TestCase):
    def test_large_trees_split_into_index_levels(self):
        rnd = random.Random(3)
        for count in (1, 255, 256, 257, 3000, 86955, 86956):
            with self.subTest(count=count):
                pairs = {}
                while len(pairs) < count:
                    pairs[rnd.randint(-2**31, 2**31 - 1)] = rnd.randint(0, 2**31)
                tree = hlpgen.context_tree(list(pairs.items()))
                r = Reader.__new__(Reader)
                _, _, levels, total = Reader.tree_header(tree)
                self.assertEqual(total, count)
                self.assertEqual(levels, 1 if count <= 255 else (2 if count <= 255 * 341 else 3))
                self.assertEqual(r.tree_entries(tree, Reader.ctx_entry), sorted(pairs.items()))
                for key in rnd.sample(sorted(pairs), min(count, 500)):
                    self.assertEqual(r.tree_search(tree, key, Reader.ctx_entry), pairs[key])
                self.assertIsNone(r.tree_search(tree, max(pairs) + 1 if max(pairs) < 2**31 - 1
                                                else min(pairs) - 1, Reader.ctx_entry))

    def test_directory_with_many_names(self):
        names = {f"|bm{i}": 1000 + i for i in range(300)}
        tree = hlpgen.directory_tree(names)
        r = Reader.__new__(Reader)
        self.assertGreater(Reader.tree_header(tree)[2], 1)
        self.assertEqual(dict(r.tree_entries(tree, Reader.dir_entry)), names)
        for name, offset in names.items():
            self.assertEqual(r.tree_search(tree, name, Reader.dir_entry), offset)


class Source(unittest.TestCase):
    def test_faulty_sources_are_refused(self):
        cases = {
            "no title": "= a | A\ntext\n",
            "text before a topic": "title: T\nstray text\n= a | A\ntext\n",
            "jump to a missing topic": "title: T\n= a | A\nsee [[b|B]]\n",
            "bad context name": "title: T\n= a b | A\ntext\n",
            "empty topic": "title: T\n= a | A\n= b | B\ntext\n",
            "same context twice": "title: T\n= a | A\nx\n= A | B\ny\n",
            "character outside Windows-1252": "title: T\n= a | A\n\u4e2d\n",
            "unknown setting": "colour: red\n= a | A\ntext\n",
            "empty keyword": "title: T\n= a | A\nkeywords: one;;two\ntext\n",
        }
        for name, text in cases.items():
            with self.subTest(name):
                with self.assertRaises(hlpgen.HelpSourceError):
                    hlpgen.build_hlp(hlpgen.parse_source(text))

    def test_command_line_leaves_no_file_on_error(self):
        import tempfile
        with tempfile.TemporaryDirectory() as d:
            src, out = os.path.join(d, "bad.txt"), os.path.join(d, "OUT.HLP")
            with open(src, "w", encoding="utf-8") as f:
                f.write("title: T\n= a | A\nsee [[nowhere|x]]\n")
            self.assertEqual(hlpgen.main(["hlpgen.py", src, out]), 1)
            self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
