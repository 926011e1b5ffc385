#!/usr/bin/env python3
"""add-heif-property.py IN OUT KIND VALUES...: a HEIF file with one more property on its primary item.

  irot ANGLE         rotation by 90 * ANGLE degrees anticlockwise (3: a quarter turn clockwise),
                     marked essential as a transformation must be
  nclx P T M FULL    a colour box of type nclx: primaries, transfer, matrix, full range (0 or 1)

heif-enc writes neither. The file is left as it is, the old meta box becomes a free box of the same
size (so every item location pointing into mdat stays right) and a new meta box goes at the end,
with the property appended to ipco and its index appended to the primary item's ipma entry.
"""
import struct
import sys


def boxes(data, start, end):
    """(type, start, header size, end) of each box between start and end."""
    found = []
    while start < end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[start + 8:start + 16])[0]
            header = 16
        elif size == 0:
            size = end - start
        if size < header or start + size > end:
            sys.exit("a box runs past its parent")
        found.append((kind, start, header, start + size))
        start += size
    return found


def box(kind, body):
    return struct.pack(">I4s", 8 + len(body), kind) + body


def full_box(kind, version, flags, body):
    return box(kind, struct.pack(">I", version << 24 | flags) + body)


def read_ipma(body):
    version, flags = body[0], struct.unpack(">I", body[:4])[0] & 0xFFFFFF
    count = struct.unpack(">I", body[4:8])[0]
    at, entries = 8, []
    for _ in range(count):
        if version < 1:
            item = struct.unpack(">H", body[at:at + 2])[0]
            at += 2
        else:
            item = struct.unpack(">I", body[at:at + 4])[0]
            at += 4
        associations = []
        for _ in range(body[at]):
            if flags & 1:
                value = struct.unpack(">H", body[at + 1:at + 3])[0]
                associations.append((value >> 15, value & 0x7FFF))
                at += 2
            else:
                associations.append((body[at + 1] >> 7, body[at + 1] & 0x7F))
                at += 1
        at += 1
        entries.append((item, associations))
    return version, entries


def write_ipma(version, entries):
    # Indices past 127 need the 15-bit form.
    wide = any(index > 0x7F for _, associations in entries for _, index in associations)
    body = struct.pack(">I", len(entries))
    for item, associations in entries:
        body += struct.pack(">H" if version < 1 else ">I", item) + bytes([len(associations)])
        for essential, index in associations:
            body += (struct.pack(">H", essential << 15 | index) if wide else
                     bytes([essential << 7 | index]))
    return full_box(b"ipma", version, 1 if wide else 0, body)


def new_property(kind, values):
    if kind == "irot":
        return box(b"irot", bytes([int(values[0]) & 3])), 1
    if kind == "nclx":
        primaries, transfer, matrix, full = (int(v) for v in values)
        return box(b"colr", b"nclx" + struct.pack(">HHHB", primaries, transfer, matrix,
                                                  full << 7)), 0
    sys.exit("unknown property " + kind)


def main():
    source, target, kind = sys.argv[1:4]
    data = bytearray(open(source, "rb").read())
    top = boxes(data, 0, len(data))
    metas = [b for b in top if b[0] == b"meta"]
    if len(metas) != 1 or top[-1][3] != len(data):
        sys.exit("expected one meta box")
    _, meta_start, meta_header, meta_end = metas[0]
    children = boxes(data, meta_start + meta_header + 4, meta_end)
    pitm = next(b for b in children if b[0] == b"pitm")
    pitm_body = data[pitm[1] + pitm[2]:pitm[3]]
    primary = struct.unpack(">H" if pitm_body[0] == 0 else ">I", pitm_body[4:])[0]
    prop, essential = new_property(kind, sys.argv[4:])

    meta_body = bytes(data[meta_start + meta_header:meta_start + meta_header + 4])
    for child, start, header, end in children:
        if child != b"iprp":
            meta_body += data[start:end]
            continue
        iprp_body = b""
        added = False
        for grandchild, s, h, e in boxes(data, start + header, end):
            if grandchild == b"ipco":
                properties = boxes(data, s + h, e)
                index = len(properties) + 1
                iprp_body += box(b"ipco", bytes(data[s + h:e]) + prop)
            elif grandchild == b"ipma":
                version, entries = read_ipma(bytes(data[s + h:e]))
                for item, associations in entries:
                    if item == primary and not added:
                        associations.append((essential, index))
                        added = True
                iprp_body += write_ipma(version, entries)
            else:
                iprp_body += data[s:e]
        if not added:
            sys.exit("the primary item has no ipma entry")
        meta_body += box(b"iprp", iprp_body)
    data[meta_start + 4:meta_start + 8] = b"free"
    data += box(b"meta", meta_body)
    open(target, "wb").write(data)


main()
