#!/usr/bin/env python3
"""Checks that the saved user dictionary (or the backup FILE, a path under
HOME) holds WORDS words.
Usage: check_word_count.py WORDS [FILE] DRIVE-LOG HOME"""
import struct
import sys

SAVED = ".config/VetraPY/qzim_usr_v3new.bin"


def word_count(path):
    """The word count of the user dictionary image at path."""
    with open(path, "rb") as f:
        image = f.read()
    # The 76-byte header closes the file; its word 4 counts the words.
    return struct.unpack_from("<I", image, len(image) - 76 + 16)[0]


def saved_word_count(home):
    """The word count of the user dictionary saved in HOME."""
    return word_count(home + "/" + SAVED)


def main():
    expected, home = int(sys.argv[1]), sys.argv[-1]
    rel = sys.argv[2] if len(sys.argv) == 5 else SAVED
    words = word_count(home + "/" + rel)
    print("%s holds %d words, expected %d" % (rel, words, expected))
    return 0 if words == expected else 1


if __name__ == "__main__":
    sys.exit(main())
