#!/usr/bin/env python3
"""Reads a WinHelp file back the way a help viewer does and checks it against
the topic sources: every context and every keyword must lead to the topic that
declares it, and every topic must show its title and text.

Usage: checkhlp.py TOPICS.LST FILE.HLP
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mkhlp  # noqa: E402

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def s16(data, at):
    return struct.unpack_from("<h", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def cstring(data, at):
    end = data.index(b"\0", at)
    return data[at:end], end + 1


def leaf_entries(tree, parse):
    """All leaf entries of a B+ tree (tree starts at its header)."""
    if not check(u16(tree, 0) == 0x293B, "B+ tree magic"):
        return []
    page_size, root, levels = u16(tree, 4), u16(tree, 26), u16(tree, 32)
    pages = tree[38:]
    page = root
    for _ in range(levels - 1):
        page = u16(pages, page * page_size + 4)
    entries = []
    while page != 0xFFFF:
        base = page * page_size
        count, at = s16(pages, base + 2), base + 8
        for _ in range(count):
            entry, at = parse(pages, at)
            entries.append(entry)
        page = u16(pages, base + 6)
    check(len(entries) == u32(tree, 34), "B+ tree entry count")
    return entries


def read(path):
    data = open(path, "rb").read()
    check(u32(data, 0) == 0x00035F3F, "file magic")
    check(u32(data, 12) == len(data), "file size in the header")
    directory = u32(data, 4)

    def dir_entry(pages, at):
        name, at = cstring(pages, at)
        return (name.decode(), u32(pages, at)), at + 4

    files = {}
    for name, offset in leaf_entries(data[directory + 9:], dir_entry):
        used = u32(data, offset + 4)
        check(u32(data, offset) >= used + 9, "%s reserved space" % name)
        files[name] = data[offset + 9:offset + 9 + used]
    return files


def fetch_culong(data, at):
    if data[at] & 1:
        return u32(data, at) // 2, at + 4
    return u16(data, at) // 2, at + 2


def fetch_cushort(data, at):
    if data[at] & 1:
        return u16(data, at) // 2, at + 2
    return data[at] // 2, at + 1


def paragraph_text(link1, link2):
    """Text of a 0x20 record, with a space for every paragraph end."""
    at = 0
    _, at = fetch_culong(link1, at)
    _, at = fetch_cushort(link1, at)
    at += 4
    bits = u16(link1, at)
    at += 2
    for bit in (0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40):
        if bits & bit:
            if bit == 0x01:
                _, at = fetch_culong(link1, at)
            else:
                _, at = fetch_cushort(link1, at)
    out = b""
    strings = link2.split(b"\0")
    index = 0
    while at < len(link1):
        out += strings[index] if index < len(strings) else b""
        index += 1
        command = link1[at]
        if command == 0xFF:
            break
        if command == 0x80:
            at += 3
        elif command == 0x82:
            out += b" "
            at += 1
        elif command == 0x89:
            at += 1
        elif command == 0xE3:
            at += 5
        else:
            check(False, "unknown formatting command %02x" % command)
            break
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: checkhlp.py TOPICS.LST FILE.HLP")
    list_path, hlp_path = sys.argv[1], sys.argv[2]
    folder = os.path.dirname(os.path.abspath(list_path))
    names = [l.strip() for l in open(list_path, encoding="utf-8") if l.strip() and not l.startswith("#")]
    topics = [mkhlp.read_topic(os.path.join(folder, n)) for n in names]

    files = read(hlp_path)
    for name in ("|SYSTEM", "|TOPIC", "|FONT", "|CONTEXT", "|KWBTREE", "|KWDATA", "|TTLBTREE"):
        check(name in files, "internal file %s" % name)
    system = files["|SYSTEM"]
    check(u16(system, 0) == 0x036C and u16(system, 2) == 33 and u16(system, 6 + 4) == 0,
          "|SYSTEM header: uncompressed WinHelp 4")
    contents = None
    at = 12
    while at + 4 <= len(system):
        kind, size = u16(system, at), u16(system, at + 2)
        if kind == 3:
            contents = u32(system, at + 4)
        at += 4 + size

    # Walk the topic links as the viewer does: 4 KB blocks, 12-byte headers.
    topic = files["|TOPIC"]
    blocks = [topic[i + 12:i + 4096] for i in range(0, len(topic), 4096)]
    stream = b"".join(blocks)
    pages = []          # (topic offset, title, text)
    pos, chars, last_block = 12, 0, -1
    while pos != 0xFFFFFFFF:
        block, within = (pos - 12) >> 14, (pos - 12) & 0x3FFF
        check(within < 4084 + 1, "TOPICPOS inside its block")
        if block != last_block:
            chars, last_block = 0, block
        at = block * 4084 + within
        size, len2, _, following, len1, kind = struct.unpack_from("<IIIIIB", stream, at)
        link1 = stream[at + 21:at + len1]
        link2 = stream[at + len1:at + size]
        check(len(link2) == len2, "uncompressed text length")
        if kind == 2:
            pages.append([block * 0x8000 + chars, link2.decode("cp1252"), b""])
        elif check(kind == 0x20, "record type %x" % kind):
            length, _ = fetch_cushort(link1, fetch_culong(link1, 0)[1])
            chars += length
            pages[-1][2] += paragraph_text(link1, link2)
        pos = following
    pages = [p for p in pages if p[1]]

    def page_at(offset):
        found = None
        for page in pages:
            if page[0] <= offset and (found is None or found[0] < page[0]):
                found = page
        return found

    check(contents is not None and page_at(contents)[1] == topics[0].title, "contents topic")
    context = {}
    for h, offset in leaf_entries(files["|CONTEXT"], lambda p, a: ((u32(p, a), u32(p, a + 4)), a + 8)):
        context[h] = offset
    kwdata = files["|KWDATA"]
    keywords = {}

    def kw_entry(p, a):
        name, a = cstring(p, a)
        return (name.decode("cp1252"), s16(p, a), u32(p, a + 2)), a + 6

    for name, count, offset in leaf_entries(files["|KWBTREE"], kw_entry):
        check(count == 1, "keyword %r names one topic" % name)
        keywords[name] = u32(kwdata, offset)
    for t in topics:
        page = page_at(context.get(mkhlp.context_hash(t.context), 0xFFFFFFFF))
        if check(page is not None and page[1] == t.title, "context %s opens %r" % (t.context, t.title)):
            text = page[2].decode("cp1252")
            check(text.startswith(t.title), "topic %r starts with its heading" % t.title)
            check(len(text) > 200, "topic %r holds text" % t.title)
        for k in t.keywords:
            page = page_at(keywords.get(k, 0xFFFFFFFF))
            check(page is not None and page[1] == t.title, "keyword %r opens %r" % (k, t.title))
    check(len(keywords) == sum(len(t.keywords) for t in topics), "no stray keywords")

    for message in failures:
        print("FAIL: " + message)
    print("%d topics, %d keywords, %d bytes: %s" % (len(pages), len(keywords), os.path.getsize(hlp_path),
                                                     "bad" if failures else "good"))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
