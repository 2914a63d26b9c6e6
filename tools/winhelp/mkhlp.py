#!/usr/bin/env python3
"""Writes an uncompressed WinHelp 4 file (.HLP) from plain-text topic files.

Usage: mkhlp.py TOPICS.LST OUTPUT.HLP

TOPICS.LST names the topic files (relative to itself), one a line, the
contents topic first. See README.md next to this script for the text format.
"""
import os
import struct
import sys

BLOCK_SIZE = 4096          # topic block size that minor version 33 with flags 0 implies
BLOCK_DATA = BLOCK_SIZE - 12
TITLE = "The Vivarent Screen Saver"
COPYRIGHT = "The Vivarent Screen Saver, version 3.6"

# Font descriptors: (attribute flags, half points, family, face index, RGB).
# Families: 1 modern, 2 roman, 3 swiss. Attribute 1 = bold.
FACES = ["Arial", "Courier New"]
FONTS = [
    (0, 20, 3, 0, (0, 0, 0)),          # 0 body text
    (1, 28, 3, 0, (0, 0, 128)),        # 1 topic heading
    (1, 22, 3, 0, (0, 0, 128)),        # 2 section heading
    (1, 20, 3, 0, (0, 0, 0)),          # 3 bold body text
    (0, 20, 1, 1, (0, 0, 0)),          # 4 fixed-pitch text
]
FONT_BODY, FONT_TITLE, FONT_HEADING, FONT_BOLD, FONT_FIXED = range(5)

# Paragraph attribute bits and the order their values follow in.
PARA_SPACE_ABOVE, PARA_SPACE_BELOW, PARA_LEFT_INDENT, PARA_FIRST_INDENT = 0x02, 0x04, 0x10, 0x40
PARA_ORDER = [0x02, 0x04, 0x08, 0x10, 0x20, 0x40]


def fail(message):
    sys.stderr.write("mkhlp: %s\n" % message)
    sys.exit(1)


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def encode(text):
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as error:
        fail("text outside Windows-1252: %r" % text[error.start:error.end])


# Compressed integers of the paragraph records.
def cushort(v):
    return u8(v * 2) if v < 0x80 else u8(v % 128 * 2 + 1) + u8(v // 128)


def csshort(v):
    return cushort(v + 64) if -0x40 <= v < 0x40 else cushort(v + 16384)


def culong(v):
    return u16(v * 2) if v < 0x8000 else u16(v % 32768 * 2 + 1) + u16(v // 32768)


def cslong(v):
    return culong(v + 16384) if -0x4000 <= v < 0x4000 else culong(v + 67108864)


def context_hash(name):
    """The hash WinHelp files topics under (letters, digits, '.' and '_')."""
    value = 0
    for ch in name.upper():
        if "A" <= ch <= "Z":
            code = ord(ch) - ord("A") + 17
        elif "1" <= ch <= "9":
            code = ord(ch) - ord("0")
        elif ch == "0":
            code = 10
        elif ch == ".":
            code = 12
        elif ch == "_":
            code = 13
        else:
            fail("context name %r may hold only letters, digits, '.' and '_'" % name)
        value = (value * 43 + code) & 0xFFFFFFFF
    return value


def signed32(v):
    return v - 0x100000000 if v & 0x80000000 else v


class Link:
    """One TOPICLINK record: a topic header (type 2) or a text paragraph (0x20)."""

    def __init__(self, kind, data1=b"", data2=b""):
        self.kind = kind
        self.data1 = data1
        self.data2 = data2
        self.topic = None
        self.pos = 0           # TOPICPOS
        self.offset = 0        # TOPICOFFSET

    def size(self):
        return 21 + len(self.data1) + len(self.data2)


class Paragraph:
    """Builds the two data parts of a text record."""

    def __init__(self, flags=0, values=None):
        self.flags = flags
        self.values = values or {}
        self.commands = b""
        self.text = b""
        self.targets = []

    def command(self, data):
        # Every formatting command is preceded by the (possibly empty) text before it.
        self.text += b"\0"
        self.commands += data

    def font(self, number):
        self.command(b"\x80" + u16(number))

    def write(self, text):
        self.text += encode(text)

    def link(self, label, target):
        self.targets.append(target)
        self.command(b"\xE3" + u32(context_hash(target)))
        self.write(label)
        self.command(b"\x89")

    def record(self):
        self.command(b"\x82")
        self.command(b"\xFF")
        info = b"\x00\x80" + u16(0) + u16(self.flags)
        for bit in PARA_ORDER:
            if self.flags & bit:
                info += csshort(self.values[bit])
        body = info + self.commands
        return Link(0x20, cslong(len(body)) + cushort(len(self.text)) + body, self.text)


class Topic:
    def __init__(self, path):
        self.path = path
        self.context = None
        self.title = None
        self.keywords = []
        self.links = []
        self.targets = []


def add_inline(paragraph, text, font):
    """Writes text with {label|context} jumps and *bold* spans."""
    paragraph.font(font)
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "{":
            end = text.find("}", i)
            if end < 0 or "|" not in text[i:end]:
                fail("unclosed jump in %r" % text)
            label, target = text[i + 1:end].split("|", 1)
            paragraph.link(label, target.strip())
            i = end + 1
        elif ch == "*" and (i == 0 or text[i - 1] in " (\"") and i + 1 < len(text) and text[i + 1].isalnum():
            end = text.find("*", i + 1)
            if end < 0:
                fail("unclosed bold span in %r" % text)
            paragraph.font(FONT_BOLD)
            paragraph.write(text[i + 1:end])
            paragraph.font(font)
            i = end + 1
        else:
            end = i + 1
            while end < len(text) and text[end] not in "{*":
                end += 1
            paragraph.write(text[i:end])
            i = end


def read_topic(path):
    topic = Topic(path)
    blocks = []        # (kind, text)
    current = None
    with open(path, encoding="utf-8") as source:
        for raw in source:
            line = raw.rstrip("\n").rstrip()
            if line.startswith("@"):
                name, _, value = line[1:].partition(" ")
                value = value.strip()
                if name == "context":
                    topic.context = value
                elif name == "title":
                    topic.title = value
                elif name == "keyword":
                    topic.keywords.append(value)
                else:
                    fail("%s: unknown directive @%s" % (path, name))
                continue
            if not line:
                current = None
                continue
            if line.startswith("== "):
                blocks.append(["heading", line[3:]])
                current = None
            elif line.startswith("- "):
                current = ["bullet", line[2:]]
                blocks.append(current)
            elif line.startswith("    "):
                blocks.append(["fixed", line[4:]])
                current = None
            elif current is not None:
                current[1] += " " + line.strip()
            else:
                current = ["text", line.strip()]
                blocks.append(current)
    if not topic.context or not topic.title:
        fail("%s: needs @context and @title" % path)
    context_hash(topic.context)

    title = Paragraph(PARA_SPACE_BELOW, {PARA_SPACE_BELOW: 12})
    add_inline(title, topic.title, FONT_TITLE)
    topic.links.append(title.record())
    for kind, text in blocks:
        if kind == "heading":
            p = Paragraph(PARA_SPACE_ABOVE, {PARA_SPACE_ABOVE: 12})
            add_inline(p, text, FONT_HEADING)
        elif kind == "bullet":
            p = Paragraph(PARA_SPACE_ABOVE | PARA_LEFT_INDENT | PARA_FIRST_INDENT,
                          {PARA_SPACE_ABOVE: 4, PARA_LEFT_INDENT: 24, PARA_FIRST_INDENT: -12})
            add_inline(p, "\u2022 " + text, FONT_BODY)
        elif kind == "fixed":
            p = Paragraph(PARA_LEFT_INDENT, {PARA_LEFT_INDENT: 24})
            p.font(FONT_FIXED)
            p.write(text)
        else:
            p = Paragraph(PARA_SPACE_ABOVE, {PARA_SPACE_ABOVE: 12})
            add_inline(p, text, FONT_BODY)
        topic.targets += p.targets
        topic.links.append(p.record())
    return topic


def lay_out(links):
    """Gives every link its TOPICPOS and TOPICOFFSET in 4 KB topic blocks."""
    block, pos, chars = 0, 12, 0
    for link in links:
        if pos >= BLOCK_SIZE:
            block, pos, chars = block + 1, 12, 0
        link.pos = block * 0x4000 + pos
        link.offset = block * 0x8000 + chars
        if link.kind != 2:
            chars += len(link.data2)
        pos += link.size()
        while pos > BLOCK_SIZE:
            block, pos, chars = block + 1, pos - BLOCK_DATA, 0


def topic_section(links):
    """The |TOPIC file: blocks of a 12-byte header and 4084 bytes of links."""
    stream = bytearray()
    starts = []        # (offset in stream, link)
    for i, link in enumerate(links):
        header = (u32(link.size()) + u32(len(link.data2)) +
                  u32(links[i - 1].pos if i else -1) +
                  u32(links[i + 1].pos if i + 1 < len(links) else -1) +
                  u32(21 + len(link.data1)) + u8(link.kind))
        block, within = divmod(link.pos - 12, 0x4000)
        start = block * BLOCK_DATA + within
        stream.extend(b"\0" * (start - len(stream)))
        starts.append((start, link))
        stream.extend(header + link.data1 + link.data2)
    blocks = (len(stream) + BLOCK_DATA - 1) // BLOCK_DATA
    stream.extend(b"\0" * (blocks * BLOCK_DATA - len(stream)))
    out = bytearray()
    last_link, last_header = -1, 0
    index = 0
    for block in range(blocks):
        begin, end = block * BLOCK_DATA, (block + 1) * BLOCK_DATA
        first = -1
        scan = index
        while scan < len(starts) and starts[scan][0] < end:
            if first == -1:
                first = starts[scan][1].pos
            scan += 1
        out += u32(last_link) + u32(first) + u32(last_header)
        out += stream[begin:end]
        while index < scan:
            link = starts[index][1]
            last_link = link.pos
            if link.kind == 2:
                last_header = link.pos
            index += 1
    return bytes(out)


def btree(entries, flags, page_size, structure, map_file=False):
    """A B+ tree of one leaf page (entries: sorted byte strings)."""
    used = sum(len(e) for e in entries)
    if used > page_size - 8:
        fail("%s tree outgrows one page" % structure)
    header = (u16(0x293B) + u16(flags) + u16(page_size) + structure.encode().ljust(16, b"\0") +
              u16(0) + u16(0) + u16(0) + u16(-1) + u16(1) + u16(1) + u32(len(entries)))
    page = u16(page_size - 8 - used) + u16(len(entries)) + u16(-1) + u16(-1) + b"".join(entries)
    page += b"\0" * (page_size - len(page))
    tree = header + page
    if map_file:
        return tree, u16(1) + u32(0) + u16(0)
    return tree


def system_section(contents_offset, date):
    def record(kind, data):
        return u16(kind) + u16(len(data)) + data
    return (u16(0x036C) + u16(33) + u16(1) + u32(date) + u16(0) +
            record(1, encode(TITLE) + b"\0") +
            record(2, encode(COPYRIGHT) + b"\0") +
            record(3, u32(contents_offset)) +
            record(9, b"\0" * 8 + u16(0x0409)) +
            record(11, b"\0" * 5))


def font_section():
    face_size = 32
    out = u16(len(FACES)) + u16(len(FONTS)) + u16(8) + u16(8 + face_size * len(FACES))
    for face in FACES:
        out += face.encode().ljust(face_size, b"\0")
    for flags, half_points, family, face, rgb in FONTS:
        out += u8(flags) + u8(half_points) + u8(family) + u16(face) + bytes(rgb) + b"\0\0\0"
    return out


def build(list_path):
    folder = os.path.dirname(os.path.abspath(list_path))
    with open(list_path, encoding="utf-8") as listing:
        names = [line.strip() for line in listing if line.strip() and not line.startswith("#")]
    topics = [read_topic(os.path.join(folder, name)) for name in names]
    if not topics:
        fail("no topics")

    hashes = {}
    for topic in topics:
        h = context_hash(topic.context)
        if h in hashes:
            fail("contexts %s and %s share a hash" % (hashes[h], topic.context))
        hashes[h] = topic.context

    links = []
    for number, topic in enumerate(topics):
        head = Link(2, b"", encode(topic.title))
        head.topic = topic
        topic.head = head
        topic.number = number
        links.append(head)
        links.extend(topic.links)
    closing = Link(2, b"", b"")
    links.append(closing)
    # Header records are 28 bytes whatever they hold; lay out first, fill in after.
    for link in links:
        if link.kind == 2:
            link.data1 = b"\0" * 28
    lay_out(links)
    heads = [i for i, link in enumerate(links) if link.kind == 2]
    for n, i in enumerate(heads):
        link = links[i]
        following = links[heads[n + 1]] if n + 1 < len(heads) else None
        body = links[i + 1:heads[n + 1]] if following else []
        size = sum(l.size() for l in body)
        link.data1 = (u32(size) + u32(-1) + u32(-1) + u32(n) + u32(-1) +
                      u32(body[0].pos if body else -1) + u32(following.pos if following else -1))

    for topic in topics:
        for target in topic.targets:
            if context_hash(target) not in hashes:
                fail("%s: jump to unknown topic %s" % (topic.path, target))

    keywords = {}
    for topic in topics:
        for keyword in topic.keywords:
            if keyword in keywords:
                fail("keyword %r names two topics" % keyword)
            keywords[keyword] = topic
    ordered = sorted(keywords, key=lambda k: encode(k))
    if ordered != sorted(keywords, key=lambda k: (k.upper(), encode(k))):
        fail("keywords sort differently with and without case; change their capitals")
    kwdata = b""
    kw_entries = []
    for keyword in ordered:
        kw_entries.append(encode(keyword) + b"\0" + u16(1) + u32(len(kwdata)))
        kwdata += u32(keywords[keyword].head.offset)
    kwbtree, kwmap = btree(kw_entries, 0x0002, 0x800, "F24", map_file=True)

    context_entries = [u32(h) + u32(t.head.offset) for h, t in
                       sorted(((context_hash(t.context), t) for t in topics),
                              key=lambda item: signed32(item[0]))]
    title_entries = [u32(t.head.offset) + encode(t.title) + b"\0" for t in topics]

    sources = [os.path.join(folder, name) for name in names] + [list_path]
    date = int(max(os.path.getmtime(p) for p in sources))
    files = {
        "|CONTEXT": btree(context_entries, 0x0002, 0x800, "L4"),
        "|CTXOMAP": u16(0),
        "|FONT": font_section(),
        "|KWBTREE": kwbtree,
        "|KWDATA": kwdata,
        "|KWMAP": kwmap,
        "|SYSTEM": system_section(topics[0].head.offset, date),
        "|TOPIC": topic_section(links),
        "|TTLBTREE": btree(title_entries, 0x0002, 0x800, "Lz"),
    }
    body = b""
    directory = []
    for name in sorted(files, key=lambda n: n.encode()):
        directory.append(name.encode() + b"\0" + u32(16 + len(body)))
        data = files[name]
        body += u32(9 + len(data)) + u32(len(data)) + u8(0) + data
    tree = btree(directory, 0x0402, 0x400, "z4")
    directory_start = 16 + len(body)
    body += u32(9 + len(tree)) + u32(len(tree)) + u8(0) + tree
    total = 16 + len(body)
    return u32(0x00035F3F) + u32(directory_start) + u32(-1) + u32(total) + body


def main():
    if len(sys.argv) != 3:
        fail("usage: mkhlp.py TOPICS.LST OUTPUT.HLP")
    data = build(sys.argv[1])
    with open(sys.argv[2], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
