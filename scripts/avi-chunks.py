#!/usr/bin/env python3
"""Compares an AVI cut short by a kill with its repaired file.

   avi-chunks.py <killed-copy> <repaired>

Every complete picture and sound chunk of the killed copy must be in the
repaired file, in the same order and with the same bytes; the repaired
file's headers must count its pictures (the main header's frames of the
first part, the OpenDML total, the video stream's length) and it must end
with its index. Prints one line of figures; exits 1 on any difference."""
import hashlib
import struct
import sys


TOP = (b"idx1", b"JUNK", b"LIST", b"RIFF")


def chunks(path):
    """Data chunks of every movie list, in order, as (tag, size, digest),
    and the parts' tags (an index in "idx1")."""
    with open(path, "rb") as f:
        data = f.read()
    found, tags = [], []
    at = 0
    while at + 12 <= len(data) and data[at:at + 4] == b"RIFF":
        tags.append(data[at + 8:at + 12])
        size = struct.unpack_from("<I", data, at + 4)[0]
        if at + 8 + size < len(data) and data[at + 8 + size:at + 12 + size] != b"RIFF":
            size = len(data) - at - 8  # a part never finished: its size was never written
        end = min(len(data), at + 8 + size)
        inner = at + 12
        while inner + 8 <= end:
            tag, length = data[inner:inner + 4], struct.unpack_from("<I", data, inner + 4)[0]
            tags.append(tag)
            if tag == b"LIST" and data[inner + 8:inner + 12] == b"movi":
                if inner + 8 + length < end and data[inner + 8 + length:inner + 12 + length] not in TOP:
                    length = end - inner - 8  # never finished either
                walk_movie(data, inner + 12, min(end, inner + 8 + length), found)
            inner += 8 + length + (length & 1)
        at = at + 8 + size + (size & 1)
    return data, found, tags


def walk_movie(data, at, end, found):
    while at + 8 <= end:
        tag, length = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if tag in (b"LIST", b"RIFF"):  # "rec " lists; an unfinished file's next part
            at += 12
            continue
        if at + 8 + length > len(data):
            return  # torn by the kill
        if tag[2:4] in (b"dc", b"db", b"wb"):
            found.append((tag, length, hashlib.sha1(data[at + 8:at + 8 + length]).hexdigest()))
        at += 8 + length + (length & 1)


def main(killed_path, repaired_path):
    _, before, _ = chunks(killed_path)
    data, after, tags = chunks(repaired_path)
    problems = []
    if after != before:
        common = next((i for i, (a, b) in enumerate(zip(after, before)) if a != b), min(len(after), len(before)))
        problems.append("the chunks differ from chunk %d on (%d repaired, %d before the kill)" %
                        (common, len(after), len(before)))
    pictures = sum(1 for tag, _, _ in after if tag[2:3] == b"d")
    sounds = sum(1 for tag, _, _ in after if tag[2:4] == b"wb")
    if b"idx1" not in tags:
        problems.append("no index")
    header = data.find(b"strh")
    length = struct.unpack_from("<I", data, header + 8 + 32)[0] if header > 0 else -1
    dmlh = data.find(b"dmlh")
    total = struct.unpack_from("<I", data, dmlh + 8)[0] if dmlh > 0 else pictures
    if length != pictures or total != pictures:
        problems.append("headers say %d / %d pictures, the file holds %d" % (length, total, pictures))
    parts = tags.count(b"AVIX") + 1
    print("pictures %d (killed copy %d), sound chunks %d, parts %d" %
          (pictures, sum(1 for t, _, _ in before if t[2:3] == b"d"), sounds, parts))
    for problem in problems:
        print(problem)
    return 1 if problems or pictures == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
