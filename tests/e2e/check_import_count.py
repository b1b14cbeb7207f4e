#!/usr/bin/env python3
"""Checks that the count an import answered is the number of its words the
saved user dictionary holds: the file's word count less LEARNED words learned
before the import. Usage: check_import_count.py LEARNED DRIVE-LOG HOME"""
import re
import sys

from check_word_count import saved_word_count


def main():
    learned, log, home = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    answers = re.findall(r"^REPLY\ttrue\t(\d+)$", open(log, encoding="utf-8").read(), re.M)
    if not answers:
        print("no import answer in the log")
        return 1
    words = saved_word_count(home)
    answered = int(answers[-1])
    print("import answered %d, file holds %d words" % (answered, words))
    return 0 if answered + learned == words and answered < 300000 else 1


if __name__ == "__main__":
    sys.exit(main())
