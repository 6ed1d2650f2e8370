#!/usr/bin/env python3
"""Builds the Windows Help file DETECT.HLP from the plain-text help source.

The output is a WinHelp 3.1 file (|SYSTEM minor version 21) without
compression: a file header, the internal directory as a B+ tree, and the
internal files |SYSTEM, |FONT, |TOPIC, |CONTEXT and the keyword index
|KWBTREE with |KWDATA.  Topic jumps are stored
as hashes of the target's context name, resolved through |CONTEXT.

Source format (UTF-8, encoded to Windows-1252 in the output):
    # comment                  ignored
    title: TEXT                help file title (window caption)
    copyright: TEXT            copyright line
    = context | Topic title    starts a topic; the first one is the contents
    keywords: one; two         index entries of the topic (after its '=' line)
    == Heading                 bold heading paragraph
    - item                     indented list item
    other lines                body text; a blank line ends a paragraph
Inline: [[context|text]] jump, **bold**, `fixed-width`.

Usage: hlpgen.py SOURCE OUTPUT
"""

import re
import struct
import sys

FILE_MAGIC = 0x00035F3F
BTREE_MAGIC = 0x293B
SYSTEM_MAGIC = 0x036C
SYSTEM_MINOR = 21           # HC31 layout: hashed contexts, TOPICPOS with 14-bit offsets
TOPIC_BLOCK = 4096          # uncompressed topic block with its 12-byte header
TOPIC_DATA = TOPIC_BLOCK - 12
LINK_HEADER = 21            # TOPICLINK: sizes, prev, next, DataLen1, record type
TOPIC_HEADER = 28           # TOPICHEADER of a type-2 record

REC_TOPIC_HEADER = 0x02
REC_DISPLAY = 0x20

SYS_TITLE = 1
SYS_COPYRIGHT = 2
SYS_CONTENTS = 3
SYS_WINDOW = 6

# Fonts: (attributes, half points, family, face index)
FACES = ["Arial", "Courier New"]
FACE_SIZE = 20
FAMILY_MODERN, FAMILY_SWISS = 1, 3
FONT_BODY, FONT_TITLE, FONT_BOLD, FONT_FIXED = 0, 1, 2, 3
FONTS = [
    (0x00, 20, FAMILY_SWISS, 0),
    (0x01, 28, FAMILY_SWISS, 0),
    (0x01, 20, FAMILY_SWISS, 0),
    (0x00, 20, FAMILY_MODERN, 1),
]

# Paragraph kinds: (font, spacing above, spacing below, left indent)
PARA_TITLE, PARA_HEADING, PARA_BODY, PARA_ITEM = "title", "heading", "body", "item"
PARA_FORMAT = {
    PARA_TITLE: (FONT_TITLE, 0, 12, 0),
    PARA_HEADING: (FONT_BOLD, 12, 0, 0),
    PARA_BODY: (FONT_BODY, 6, 0, 0),
    PARA_ITEM: (FONT_BODY, 4, 0, 24),
}

# Main window placement written into |SYSTEM, in WinHelp's 0..1000 screen units.
MAIN_WINDOW = (40, 30, 700, 640)

CONTEXT_RE = re.compile(r"^[A-Za-z0-9_.]+$")
INLINE_RE = re.compile(r"\[\[([^|\]]+)\|([^\]]+)\]\]|\*\*(.+?)\*\*|`([^`]+)`")


class HelpSourceError(Exception):
    pass


def context_hash(name):
    """WinHelp's hash of a context name (signed 32 bits)."""
    value = 0
    for ch in name.upper():
        if "A" <= ch <= "Z":
            x = ord(ch) - ord("A") + 17
        elif "1" <= ch <= "9":
            x = ord(ch) - ord("0")
        elif ch == "0":
            x = 10
        elif ch == ".":
            x = 12
        elif ch == "_":
            x = 13
        else:
            continue
        value = (value * 43 + x) & 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


# ---------------------------------------------------------------- source

def parse_source(text):
    """Returns {'title', 'copyright', 'topics': [{'context','title','paras'}]}."""
    doc = {"title": "", "copyright": "", "topics": []}
    topic = None
    para = None

    def close_para():
        nonlocal para
        if para is not None:
            topic["paras"].append((para[0], " ".join(para[1])))
            para = None

    for lineno, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if line.startswith("#"):
            continue
        if not line:
            close_para()
            continue
        if topic is None and ":" in line and not line.startswith("="):
            key, _, value = line.partition(":")
            key = key.strip().lower()
            if key in ("title", "copyright"):
                doc[key] = value.strip()
                continue
            raise HelpSourceError(f"line {lineno}: unknown setting '{key}'")
        if topic is not None and line.lower().startswith("keywords:"):
            close_para()
            words = [w.strip() for w in line.partition(":")[2].split(";")]
            if not all(words):
                raise HelpSourceError(f"line {lineno}: empty keyword")
            topic["keywords"] += words
            continue
        if line.startswith("=="):
            if topic is None:
                raise HelpSourceError(f"line {lineno}: heading outside a topic")
            close_para()
            topic["paras"].append((PARA_HEADING, line[2:].strip()))
            continue
        if line.startswith("="):
            close_para()
            context, sep, title = line[1:].partition("|")
            context, title = context.strip(), title.strip()
            if not sep or not title or not CONTEXT_RE.match(context):
                raise HelpSourceError(f"line {lineno}: topic line must be '= context | Title'")
            topic = {"context": context, "title": title, "paras": [(PARA_TITLE, title)],
                     "keywords": []}
            doc["topics"].append(topic)
            continue
        if topic is None:
            raise HelpSourceError(f"line {lineno}: text before the first topic")
        if line.startswith("- "):
            close_para()
            para = [PARA_ITEM, ["\u2022 " + line[2:].strip()]]
            continue
        if para is None:
            para = [PARA_BODY, []]
        para[1].append(line)
    close_para()

    if not doc["title"]:
        raise HelpSourceError("no 'title:' setting")
    if not doc["topics"]:
        raise HelpSourceError("no topics")
    seen = {}
    for t in doc["topics"]:
        if len(t["paras"]) < 2:
            raise HelpSourceError(f"topic '{t['context']}' has no text")
        h = context_hash(t["context"])
        if h == 0 or h in seen:
            raise HelpSourceError(f"context '{t['context']}' collides with '{seen.get(h, '')}'")
        seen[h] = t["context"]
    contexts = {t["context"].lower() for t in doc["topics"]}
    for t in doc["topics"]:
        for _, text in t["paras"]:
            for m in INLINE_RE.finditer(text):
                if m.group(1) and m.group(1).strip().lower() not in contexts:
                    raise HelpSourceError(f"jump to unknown topic '{m.group(1)}' in '{t['context']}'")
    return doc


def encode_text(text):
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as err:
        raise HelpSourceError(f"character not in Windows-1252: {text!r}") from err


# ---------------------------------------------------------------- encodings

def compressed_ushort(v):
    if not 0 <= v < 0x8000:
        raise HelpSourceError("paragraph too long")
    return struct.pack("<B", v * 2) if v < 0x80 else struct.pack("<H", v * 2 + 1)


def compressed_short(v):
    if -0x40 <= v < 0x40:
        return struct.pack("<B", (v + 0x40) * 2)
    return struct.pack("<H", (v + 0x4000) * 2 + 1)


def compressed_long(v):
    if 0 <= v < 0x8000:
        return struct.pack("<H", v * 2)
    return struct.pack("<I", v * 2 + 1)


def cstr(b):
    return b + b"\0"


# ---------------------------------------------------------------- B+ tree

def btree(entries, page_size, flags, structure, index_key):
    """entries: sorted list of (leaf_bytes, key) with key = bytes for the index
    pages. Returns the internal file body (header and pages)."""
    leaves = []          # lists of entry bytes
    current, used = [], 0
    for data, key in entries:
        if len(data) > page_size - 8:
            raise HelpSourceError("B+ tree entry larger than a page")
        if current and used + len(data) > page_size - 8:
            leaves.append(current)
            current, used = [], 0
        current.append((data, key))
        used += len(data)
    leaves.append(current)

    pages = []
    for i, leaf in enumerate(leaves):
        body = b"".join(d for d, _ in leaf)
        prev = i - 1 if i > 0 else 0xFFFF
        nxt = i + 1 if i + 1 < len(leaves) else 0xFFFF
        page = struct.pack("<HhHH", page_size - 8 - len(body), len(leaf), prev, nxt) + body
        pages.append(page.ljust(page_size, b"\0"))

    # Each level names its pages by (first key, page number).
    level = [(leaf[0][1] if leaf else b"", n) for n, leaf in enumerate(leaves)]
    levels = 1
    while len(level) > 1:
        upper, group, used = [], [], 0
        groups = []
        for key, page_no in level:
            entry = index_key(key) + struct.pack("<H", page_no)
            if group and used + len(entry) > page_size - 6:
                groups.append(group)
                group, used = [], 0
            # The first child of a page costs no bytes: PreviousPage holds it.
            if group:
                used += len(entry)
            group.append((key, page_no, entry))
        groups.append(group)
        for group in groups:
            # The first child is reached through PreviousPage; the others by key.
            body = b"".join(e for _, _, e in group[1:])
            page = struct.pack("<HhH", page_size - 6 - len(body), len(group) - 1, group[0][1]) + body
            upper.append((group[0][0], len(pages)))
            pages.append(page.ljust(page_size, b"\0"))
        level = upper
        levels += 1

    header = struct.pack("<HHH16shhhhhhi", BTREE_MAGIC, flags, page_size,
                         structure.encode("ascii"), 0, 0, level[0][1], -1,
                         len(pages), levels, len(entries))
    return header + b"".join(pages)


def directory_tree(files):
    entries = [(cstr(name.encode("ascii")) + struct.pack("<I", offset), cstr(name.encode("ascii")))
               for name, offset in sorted(files.items(), key=lambda kv: kv[0].encode("ascii"))]
    return btree(entries, 1024, 0x0402, "z4", lambda key: key)


def context_tree(pairs):
    entries = [(struct.pack("<iI", h, offset), struct.pack("<i", h))
               for h, offset in sorted(pairs)]
    return btree(entries, 2048, 0x0002, "L4", lambda key: key)


# ---------------------------------------------------------------- |TOPIC

def display_record(kind, text, hashes):
    """LinkData1 (after the TOPICLINK header), LinkData2, and the character
    count of one paragraph."""
    font, above, below, indent = PARA_FORMAT[kind]
    strings, commands = [b""], [bytes([0x80]) + struct.pack("<H", font)]
    chars = 0
    pos = 0
    pending = b""

    def emit(cmd):
        nonlocal pending
        strings.append(pending)
        commands.append(cmd)
        pending = b""

    # The first string is empty: the font is set before any text.
    for m in INLINE_RE.finditer(text):
        pending += encode_text(text[pos:m.start()])
        if m.group(1):
            emit(bytes([0xE3]) + struct.pack("<i", hashes[m.group(1).strip().lower()]))
            pending = encode_text(m.group(2))
            emit(bytes([0x89]))
        elif m.group(3):
            emit(bytes([0x80]) + struct.pack("<H", FONT_BOLD))
            pending = encode_text(m.group(3))
            emit(bytes([0x80]) + struct.pack("<H", font))
        else:
            emit(bytes([0x80]) + struct.pack("<H", FONT_FIXED))
            pending = encode_text(m.group(4))
            emit(bytes([0x80]) + struct.pack("<H", font))
        pos = m.end()
    pending += encode_text(text[pos:])
    emit(bytes([0x82]))          # end of paragraph
    emit(bytes([0xFF]))          # end of formatting
    # strings[0] pairs with commands[0]; emit() appended each later pair.
    pairs = list(zip(strings, commands))
    link2 = b"".join(cstr(s) for s, _ in pairs)
    chars = sum(len(s) for s, _ in pairs) + 1      # the paragraph end counts as one

    bits = 0
    fmt = b""
    if above:
        bits |= 0x0002
        fmt += compressed_short(above)
    if below:
        bits |= 0x0004
        fmt += compressed_short(below)
    if indent:
        bits |= 0x0010
        fmt += compressed_short(indent)
    para_info = bytes([0x00, 0x80]) + struct.pack("<H", 0) + struct.pack("<H", bits) + fmt
    link1 = (compressed_long(len(link2)) + compressed_ushort(chars) + para_info +
             b"".join(c for _, c in pairs))
    return link1, link2, chars


def topic_pos(stream_pos):
    block, offset = divmod(stream_pos, TOPIC_DATA)
    return 12 + (block << 14) + offset


def build_topic(doc, hashes):
    """Returns (|TOPIC body, {context: topic offset})."""
    records = []     # dicts: type, link1 (after header), link2, chars, topic
    for number, topic in enumerate(doc["topics"]):
        title = encode_text(topic["title"])
        records.append({"type": REC_TOPIC_HEADER, "link1": None, "link2": cstr(title),
                        "chars": 0, "topic": number})
        for kind, text in topic["paras"]:
            link1, link2, chars = display_record(kind, text, hashes)
            records.append({"type": REC_DISPLAY, "link1": link1, "link2": link2,
                            "chars": chars, "topic": number})

    # Sizes do not depend on positions, so lay the stream out first.
    pos = 0
    for r in records:
        size1 = LINK_HEADER + (TOPIC_HEADER if r["type"] == REC_TOPIC_HEADER else len(r["link1"]))
        r["size1"] = size1
        r["size"] = size1 + len(r["link2"])
        r["pos"] = pos
        pos += r["size"]
    total = pos

    # Topic offsets: block of the topic header, plus the characters of the
    # display records that start earlier in that block.
    offsets = {}
    block_seen, count = -1, 0
    for r in records:
        block = r["pos"] // TOPIC_DATA
        if block != block_seen:
            block_seen, count = block, 0
        if r["type"] == REC_TOPIC_HEADER:
            offsets[r["topic"]] = (block << 15) + count
        else:
            count += r["chars"]

    headers = [i for i, r in enumerate(records) if r["type"] == REC_TOPIC_HEADER]
    stream = bytearray()
    for i, r in enumerate(records):
        prev = topic_pos(records[i - 1]["pos"]) if i > 0 else 0xFFFFFFFF
        nxt = topic_pos(records[i + 1]["pos"]) if i + 1 < len(records) else 0xFFFFFFFF
        head = struct.pack("<IIIII", r["size"], len(r["link2"]), prev, nxt, r["size1"]) + bytes([r["type"]])
        if r["type"] == REC_TOPIC_HEADER:
            k = headers.index(i)
            end = records[headers[k + 1]]["pos"] if k + 1 < len(headers) else total
            next_topic = topic_pos(records[headers[k + 1]]["pos"]) if k + 1 < len(headers) else 0xFFFFFFFF
            body = struct.pack("<IIIIIII", end - r["pos"], 0xFFFFFFFF, 0xFFFFFFFF, r["topic"],
                               0xFFFFFFFF, topic_pos(records[i + 1]["pos"]), next_topic)
        else:
            body = r["link1"]
        stream += head + body + r["link2"]
    assert len(stream) == total

    blocks = max(1, -(-total // TOPIC_DATA))
    out = bytearray()
    for b in range(blocks):
        start = b * TOPIC_DATA
        before = [r for r in records if r["pos"] < start]
        inside = [r for r in records if start <= r["pos"] < start + TOPIC_DATA]
        last_link = topic_pos(before[-1]["pos"]) if before else 0xFFFFFFFF
        first_link = topic_pos(inside[0]["pos"]) if inside else 0xFFFFFFFF
        last_headers = [r for r in before if r["type"] == REC_TOPIC_HEADER]
        last_header = topic_pos(last_headers[-1]["pos"]) if last_headers else 0xFFFFFFFF
        out += struct.pack("<III", last_link, first_link, last_header)
        out += bytes(stream[start:start + TOPIC_DATA]).ljust(TOPIC_DATA, b"\0")
    return bytes(out), {doc["topics"][n]["context"]: off for n, off in offsets.items()}


# ---------------------------------------------------------------- other files

def keyword_files(doc, offsets):
    """|KWBTREE (keyword, count of topics, offset into |KWDATA) and |KWDATA
    (the topic offsets). Keywords are case-blind: the first spelling wins."""
    spelling, topics = {}, {}
    for t in doc["topics"]:
        for word in t["keywords"]:
            key = word.lower()
            spelling.setdefault(key, word)
            if offsets[t["context"]] not in topics.setdefault(key, []):
                topics[key].append(offsets[t["context"]])
    entries, data = [], b""
    for key in sorted(spelling):
        word = cstr(encode_text(spelling[key]))
        entries.append((word + struct.pack("<HI", len(topics[key]), len(data)), word))
        data += b"".join(struct.pack("<I", off) for off in topics[key])
    return btree(entries, 2048, 0x0002, "F24", lambda key: key), data


def build_system(doc, contents_offset):
    out = struct.pack("<HHHIH", SYSTEM_MAGIC, SYSTEM_MINOR, 1, 0, 0)

    def record(kind, data):
        return struct.pack("<HH", kind, len(data)) + data

    out += record(SYS_TITLE, cstr(encode_text(doc["title"])))
    if doc["copyright"]:
        out += record(SYS_COPYRIGHT, cstr(encode_text(doc["copyright"])))
    out += record(SYS_CONTENTS, struct.pack("<I", contents_offset))
    # The main window, with the file's title as its caption.
    caption = encode_text(doc["title"])[:50]
    window = (struct.pack("<H", 0x007F) + b"main".ljust(10, b"\0") + b"main".ljust(9, b"\0") +
              caption.ljust(51, b"\0") + struct.pack("<hhhhh", *MAIN_WINDOW, 0) +
              struct.pack("<II", 0xFFFFFF, 0xFFFFFF))
    assert len(window) == 90
    out += record(SYS_WINDOW, window)
    return out


def build_font():
    faces = b"".join(f.encode("ascii").ljust(FACE_SIZE, b"\0") for f in FACES)
    descriptors = b"".join(struct.pack("<BBBH3s3s", attr, half, family, face, b"\0\0\0", b"\xff\xff\xff")
                           for attr, half, family, face in FONTS)
    return struct.pack("<HHHH", len(FACES), len(FONTS), 8, 8 + len(faces)) + faces + descriptors


def internal_file(body):
    # Reserved space equals used space: readers take the reserved size as the end.
    return struct.pack("<IIB", len(body) + 9, len(body), 4) + body


def build_hlp(doc):
    hashes = {t["context"].lower(): context_hash(t["context"]) for t in doc["topics"]}
    topic, offsets = build_topic(doc, hashes)
    contents = doc["topics"][0]["context"]
    files = {
        "|SYSTEM": build_system(doc, offsets[contents]),
        "|FONT": build_font(),
        "|TOPIC": topic,
        "|CONTEXT": context_tree([(hashes[c.lower()], off) for c, off in offsets.items()]),
    }
    if any(t["keywords"] for t in doc["topics"]):
        files["|KWBTREE"], files["|KWDATA"] = keyword_files(doc, offsets)
    out = bytearray(16)
    where = {}
    for name in sorted(files):
        where[name] = len(out)
        out += internal_file(files[name])
    directory_start = len(out)
    out += internal_file(directory_tree(where))
    struct.pack_into("<IIiI", out, 0, FILE_MAGIC, directory_start, -1, len(out))
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: hlpgen.py SOURCE OUTPUT\n")
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            doc = parse_source(f.read())
        data = build_hlp(doc)
    except (OSError, HelpSourceError) as err:
        sys.stderr.write(f"hlpgen: {argv[1]}: {err}\n")
        return 1
    tmp = argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    import os
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
