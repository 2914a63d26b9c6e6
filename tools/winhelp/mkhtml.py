#!/usr/bin/env python3
"""Writes the help topics as HTML pages, for Windows that has no WinHelp.

Usage: mkhtml.py TOPICS.LST OUTPUT_FOLDER

Reads the same topic files as mkhlp.py (see README.md). Every topic becomes
OUTPUT_FOLDER/<context in lower case>.htm, except the contents topic (the
first one listed), which becomes index.htm. keywords.txt beside the pages
maps every @keyword to its page, one "keyword<TAB>page" a line: the saver
looks a page up there as WinHelp's HELP_KEY looks in the keyword index.
"""
import html
import os
import re
import sys

CONTENTS_PAGE = "index.htm"
STYLE = ("body{font-family:Arial,sans-serif;font-size:10pt;max-width:44em;margin:1.5em}"
         "h1{color:#000080;font-size:14pt}h2{color:#000080;font-size:11pt;margin-top:1.5em}"
         "pre{margin-left:2em}")


def fail(message):
    sys.stderr.write("mkhtml: %s\n" % message)
    sys.exit(1)


def read_topic(path):
    topic = {"path": path, "context": None, "title": None, "keywords": [], "blocks": []}
    current = None
    with open(path, encoding="utf-8") as source:
        for raw in source:
            line = raw.rstrip("\n").rstrip()
            if line.startswith("@"):
                name, _, value = line[1:].partition(" ")
                if name in ("context", "title"):
                    topic[name] = value.strip()
                elif name == "keyword":
                    topic["keywords"].append(value.strip())
                else:
                    fail("%s: unknown directive @%s" % (path, name))
                continue
            if not line:
                current = None
            elif line.startswith("== "):
                topic["blocks"].append(["heading", line[3:]])
                current = None
            elif line.startswith("- "):
                current = ["bullet", line[2:]]
                topic["blocks"].append(current)
            elif line.startswith("    "):
                topic["blocks"].append(["fixed", line[4:]])
                current = None
            elif current is not None:
                current[1] += " " + line.strip()
            else:
                current = ["text", line.strip()]
                topic["blocks"].append(current)
    if not topic["context"] or not topic["title"]:
        fail("%s: needs @context and @title" % path)
    return topic


def inline(text, pages, path):
    """{label|CONTEXT} becomes a link to that topic's page, *word* bold."""
    out = []
    for part in re.split(r"(\{[^}]*\}|(?:(?<=^)|(?<=[ (\"]))\*\w[^*]*\*)", text):
        if part.startswith("{") and part.endswith("}") and "|" in part:
            label, target = part[1:-1].split("|", 1)
            page = pages.get(target.strip())
            if not page:
                fail("%s: jump to unknown topic %s" % (path, target.strip()))
            out.append('<a href="%s">%s</a>' % (page, html.escape(label)))
        elif len(part) > 2 and part.startswith("*") and part.endswith("*"):
            out.append("<b>%s</b>" % html.escape(part[1:-1]))
        else:
            out.append(html.escape(part))
    return "".join(out)


def render(topic, pages, contents_title):
    body = ["<h1>%s</h1>" % html.escape(topic["title"])]
    in_list = False
    fixed = []
    for kind, text in topic["blocks"] + [["end", ""]]:
        if kind != "fixed" and fixed:
            body.append("<pre>%s</pre>" % html.escape("\n".join(fixed)))
            fixed = []
        if kind != "bullet" and in_list:
            body.append("</ul>")
            in_list = False
        if kind == "heading":
            body.append("<h2>%s</h2>" % inline(text, pages, topic["path"]))
        elif kind == "bullet":
            if not in_list:
                body.append("<ul>")
                in_list = True
            body.append("<li>%s</li>" % inline(text, pages, topic["path"]))
        elif kind == "fixed":
            fixed.append(text)
        elif kind == "text":
            body.append("<p>%s</p>" % inline(text, pages, topic["path"]))
    if pages[topic["context"]] != CONTENTS_PAGE:
        body.append('<p><a href="%s">%s</a></p>' % (CONTENTS_PAGE, html.escape(contents_title)))
    return ('<!DOCTYPE html>\n<html><head><meta charset="windows-1252">\n<title>%s</title>\n'
            "<style>%s</style></head>\n<body>\n%s\n</body></html>\n"
            % (html.escape(topic["title"]), STYLE, "\n".join(body)))


def main():
    if len(sys.argv) != 3:
        fail("usage: mkhtml.py TOPICS.LST OUTPUT_FOLDER")
    list_path, out = sys.argv[1], sys.argv[2]
    folder = os.path.dirname(os.path.abspath(list_path))
    with open(list_path, encoding="utf-8") as listing:
        names = [line.strip() for line in listing if line.strip() and not line.startswith("#")]
    topics = [read_topic(os.path.join(folder, name)) for name in names]
    if not topics:
        fail("no topics")
    pages = {}
    for number, topic in enumerate(topics):
        if not re.fullmatch(r"[A-Za-z0-9._]+", topic["context"]):
            fail("%s: context %r may hold only letters, digits, '.' and '_'" % (topic["path"], topic["context"]))
        page = CONTENTS_PAGE if number == 0 else topic["context"].lower() + ".htm"
        if topic["context"] in pages or page in pages.values():
            fail("%s: context %s used twice" % (topic["path"], topic["context"]))
        pages[topic["context"]] = page
    keywords = {}
    for topic in topics:
        for keyword in topic["keywords"]:
            if keyword in keywords or "\t" in keyword:
                fail("%s: keyword %r names two topics or holds a tab" % (topic["path"], keyword))
            keywords[keyword] = pages[topic["context"]]
    os.makedirs(out, exist_ok=True)
    for topic in topics:
        text = render(topic, pages, topics[0]["title"])
        with open(os.path.join(out, pages[topic["context"]]), "wb") as page:
            page.write(text.replace("\n", "\r\n").encode("cp1252"))
    with open(os.path.join(out, "keywords.txt"), "wb") as index:
        for keyword in sorted(keywords):
            index.write(("%s\t%s\r\n" % (keyword, keywords[keyword])).encode("cp1252"))


if __name__ == "__main__":
    main()
