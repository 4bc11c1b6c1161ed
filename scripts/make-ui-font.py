#!/usr/bin/python3
"""Makes the program's own interface font: the glyphs of a CJK face that the program's
own texts use, under a family name of its own.

    make-ui-font.py SOURCE_FONT SOURCE_FAMILY FAMILY OUTPUT TEXT_FILE...

Every character of the text files (and every printable ASCII character) is kept; the
rest of the face is dropped. A full CJK face holds some 30,000 glyphs in a file of many
megabytes, and the font system maps the whole file: every glyph drawn brings the 64 KB
around it into the program's memory, so the few dozen characters of the panels kept
some 3 MB resident. The small face keeps the same outlines and metrics, so the texts
look as they did. The program puts it ahead of the full face wherever the font system
would take that (SOURCE_FAMILY, checked here); what it lacks (names the user types) the
font system still finds in the full face.
"""
import logging
import sys

from fontTools import subset


def characters(paths):
    chars = {chr(c) for c in range(0x20, 0x7F)}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            chars.update(c for c in f.read() if c.isprintable())
    return "".join(sorted(chars))


def rename(font, family):
    # Family, full name, unique id and typographic family take the new name; the
    # PostScript name may not hold spaces.
    names = {1: family, 3: family, 4: family, 16: family, 6: family.replace(" ", "")}
    for record in font["name"].names:
        if record.nameID in names:
            record.string = names[record.nameID]


def main(argv):
    if len(argv) < 6:
        sys.stderr.write(__doc__)
        return 2
    source, source_family, family, output, texts = argv[1], argv[2], argv[3], argv[4], argv[5:]
    # Tables the subsetter does not know (the face's FontForge and BDF notes) are dropped
    # without a word.
    logging.getLogger("fontTools").setLevel(logging.ERROR)
    options = subset.Options()
    options.font_number = 0  # the first face of a collection
    options.glyph_names = False
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.layout_features = ["*"]
    options.notdef_outline = True
    font = subset.load_font(source, options)
    if font["name"].getDebugName(1) != source_family:
        sys.stderr.write(f"{source}: its first face is {font['name'].getDebugName(1)!r}, "
                         f"not {source_family!r}\n")
        return 1
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=characters(texts))
    subsetter.subset(font)
    rename(font, family)
    subset.save_font(font, output, options)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
