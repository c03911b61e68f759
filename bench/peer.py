#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the record file that Kelvaro writes for numeric counters counting up by 1.

    peer.py OUTPUT FIELD1 FIELD2 FIELD3 FIELD4 START END WIDTH [START END WIDTH ...]

One START END WIDTH triple per counter; WIDTH 0 writes plain numbers, above 0
numbers padded with zeros. The benchmark compares its file with Kelvaro's.
"""
import itertools
import sys


def counter_texts(start, end, width):
    # A plain number keeps a place for its sign; a padded one is its digits,
    # "-" included, filled on the left.
    if width > 0:
        return [str(value).rjust(width, "0") for value in range(start, end + 1)]
    return [str(value) if value < 0 else " " + str(value) for value in range(start, end + 1)]


def main():
    output, *fields = sys.argv[1:6]
    numbers = [int(argument) for argument in sys.argv[6:]]
    counters = [numbers[i : i + 3] for i in range(0, len(numbers), 3)]
    # Each counter's text joined to the field after it, so a line is the first
    # field and one piece of every counter, the last counter varying fastest.
    pieces = [
        [text + field for text in counter_texts(*counter)]
        for counter, field in zip(counters, fields[1:])
    ]
    head = '"' + fields[0]
    with open(output, "w", encoding="cp1252", newline="") as file:
        file.writelines(head + "".join(line) + '"\r\n' for line in itertools.product(*pieces))


if __name__ == "__main__":
    main()
