#!/usr/bin/env python3
"""Prints a Windows version resource (VS_VERSIONINFO, as `wrestool -x --raw
--type=16` extracts it) as lines the tests can read:

    FILEVERSION 2.1.0.0
    PRODUCTVERSION 2.1.0.0
    <string name>=<value>          one line per StringFileInfo entry

    versioninfo.py FILE
"""
import struct
import sys


def align(offset):
    return (offset + 3) & ~3


def node(data, offset):
    """One VS_VERSIONINFO-style block: (key, value, children), its length."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    position = offset + 6
    key = ""
    while True:
        (char,) = struct.unpack_from("<H", data, position)
        position += 2
        if char == 0:
            break
        key += chr(char)
    position = align(position)
    value = None
    if value_length:
        if kind == 1:  # text, counted in characters
            value = data[position:position + 2 * value_length].decode("utf-16-le").rstrip("\0")
            position += 2 * value_length
        else:
            value = data[position:position + value_length]
            position += value_length
    position = align(position)
    children = []
    while position < end:
        child, child_length = node(data, position)
        children.append(child)
        position = align(position + child_length)
    return (key, value, children), length


def main():
    data = open(sys.argv[1], "rb").read()
    (key, fixed, children), _ = node(data, 0)
    if key != "VS_VERSION_INFO" or not fixed or len(fixed) < 52:
        sys.exit("not a version resource")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        sys.exit("no fixed file information")
    for name, high, low in (("FILEVERSION", file_ms, file_ls),
                            ("PRODUCTVERSION", product_ms, product_ls)):
        print(f"{name} {high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")
    for block, _, tables in children:
        if block == "StringFileInfo":
            for _, _, strings in tables:
                for name, value, _ in strings:
                    print(f"{name}={value or ''}")


if __name__ == "__main__":
    main()
