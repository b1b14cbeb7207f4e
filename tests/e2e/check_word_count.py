#!/usr/bin/env python3
"""Checks that the saved user dictionary holds WORDS words.
Usage: check_word_count.py WORDS DRIVE-LOG HOME"""
import struct
import sys


def saved_word_count(home):
    """The word count of the user dictionary saved in HOME."""
    with open(home + "/.config/VetraPY/qzim_usr_v3new.bin", "rb") as f:
        image = f.read()
    # The 76-byte header closes the file; its word 4 counts the words.
    return struct.unpack_from("<I", image, len(image) - 76 + 16)[0]


def main():
    expected, home = int(sys.argv[1]), sys.argv[3]
    words = saved_word_count(home)
    print("the saved dictionary holds %d words, expected %d" % (words, expected))
    return 0 if words == expected else 1


if __name__ == "__main__":
    sys.exit(main())
