#!/usr/bin/env python3
"""Writes the C++ table of the catalogues: catalogue_table.py OUTPUT TEMPLATE CATALOGUE...

Each catalogue is a translator's PO file named after its language (locale/es.po, locale/pt_BR.po). The
table keeps every translated text, sorted by its English text for the program's binary search, and the
template's texts in their order. A catalogue whose header has "X-Text-Direction: RTL" is written from
right to left."""

import os
import sys

import polib


def literal(text):
    """A C++ u"" literal of the text: ASCII as it is, everything else as universal character names."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '\\"':
            out.append("\\" + ch)
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        elif code < 0xA0:
            out.append("\\%03o" % code)
        elif code <= 0xFFFF:
            out.append("\\u%04X" % code)
        else:
            out.append("\\U%08X" % code)
    return 'u"' + "".join(out) + '"'


def identifier(language):
    return "catalogue_" + language.replace("-", "_").replace("@", "_")


def main():
    output, template, *catalogues = sys.argv[1:]
    lines = [
        "// Generated from the catalogues in locale/ by cmake/catalogue_table.py; edit those instead.",
        '#include "texts/catalogue_table.h"',
        "",
        "#include <array>",
        "",
        "namespace texts {",
        "namespace {",
    ]
    entries = []
    for path in sorted(catalogues, key=lambda p: os.path.basename(p)):
        language = os.path.splitext(os.path.basename(path))[0]
        po = polib.pofile(path)
        # In UTF-16 order, as the program compares its texts.
        translated = sorted(
            ((e.msgid, e.msgstr) for e in po if e.msgstr and not e.obsolete and "fuzzy" not in e.flags),
            key=lambda pair: pair[0].encode("utf-16-be"),
        )
        rtl = po.metadata.get("X-Text-Direction", "").strip().upper() == "RTL"
        name = identifier(language)
        lines.append("constexpr std::array<Translation, %d> %s{{" % (len(translated), name))
        lines += ["    {%s, %s}," % (literal(english), literal(text)) for english, text in translated]
        lines.append("}};")
        entries.append("    {%s, %s, %s}," % (literal(language), "true" if rtl else "false", name))
    texts = [e.msgid for e in polib.pofile(template) if not e.obsolete and e.msgid]
    lines.append("constexpr std::array<std::u16string_view, %d> TEMPLATE_TEXTS{{" % len(texts))
    lines += ["    %s," % literal(text) for text in texts]
    lines.append("}};")
    lines.append("const std::array<Catalogue, %d> CATALOGUES{{" % len(entries))
    lines += entries
    lines += [
        "}};",
        "}  // namespace",
        "",
        "std::span<const Catalogue> catalogues() { return CATALOGUES; }",
        "std::span<const std::u16string_view> template_texts() { return TEMPLATE_TEXTS; }",
        "",
        "}  // namespace texts",
        "",
    ]
    content = "\n".join(lines)
    # Written only when it changes, so that a rebuild compiles nothing new.
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == content:
                return
    except FileNotFoundError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(content)


if __name__ == "__main__":
    main()
