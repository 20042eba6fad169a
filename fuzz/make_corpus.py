#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_setup_reader: one small setup file for every layout the
program has written (0.9 up to 2.9 and a later version), plus the string forms. Run it from
any folder; it replaces fuzz/corpus/setup_reader/."""

import pathlib
import struct

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "setup_reader"


def counted(text: bytes) -> bytes:
    if len(text) < 255:
        return bytes([len(text)]) + text
    return b"\xff" + struct.pack("<H", len(text)) + text


def wide(text: str) -> bytes:
    units = text.encode("utf-16-le")
    return b"\xff\xfe\xff" + bytes([len(units) // 2]) + units


def setup_file(version: float, port_name: bytes = counted(b"MIDI Mapper"), chord=(0, 4, 7),
               velocity=None, volume=90) -> bytes:
    v = struct.unpack("<f", struct.pack("<f", version))[0]
    out = struct.pack("<fhdihhii", version, 0, 126.0, -1, 1, 2, 0, 0x336699)
    if v < 2.0:
        out += struct.pack("<ii", 0x112233, 0x445566)
    for m in range(8):
        if v < 2.0:
            out += struct.pack("<i", 0)
        if v < 1.003:
            out += struct.pack("<h", 0)
        else:
            out += struct.pack("<hh", (m + 1) % 8, 1 + m % 3)
        for s in range(16):
            note = (s * 5 + m) % 24 - 12
            if v < 2.5:
                out += struct.pack("<h", note)
            else:
                notes = [note + c for c in chord[: 1 + s % max(len(chord), 1)]] if s % 7 else []
                out += struct.pack("<i", len(notes)) + b"".join(struct.pack("<i", n) for n in notes)
            out += struct.pack("<hhh", s % 3 - 1, 100 - s if velocity is None else velocity, 64)
            if v < 2.0:
                out += struct.pack("<ii", s % 4 != 0, s % 2)
            else:
                out += struct.pack("<hh", (s * 9) % 130, s % 5 != 0)
    if v < 2.0:
        out += struct.pack("<iiii", 100, 200, 700, 366)
        if v >= 1.5:
            out += struct.pack("<i", 1)
    else:
        out += struct.pack("<iiii", 100, 200, 12, 1)
        if v > 2.0:
            out += struct.pack("<hh", volume, -3)
        if v >= 2.9:
            out += port_name
    return out


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    for old in OUT.iterdir():
        old.unlink()
    for version in (0.9, 1.0, 1.003, 1.05, 1.1, 1.5, 1.9, 2.0, 2.1, 2.4, 2.5, 2.8, 2.9, 3.0):
        (OUT / f"v{version}.qov").write_bytes(setup_file(version))
    (OUT / "v2.9-no-notes.qov").write_bytes(setup_file(2.9, chord=()))
    (OUT / "v2.9-long-name.qov").write_bytes(setup_file(2.9, counted(b"p" * 300)))
    (OUT / "v2.9-wide-name.qov").write_bytes(setup_file(2.9, wide("Synth \u20ac")))
    (OUT / "v2.9-cp1252-name.qov").write_bytes(setup_file(2.9, counted(b"Caf\xe9 \x80")))
    (OUT / "nan.qov").write_bytes(b"\x00\x00\xc0\x7f" + setup_file(1.0)[4:])
    # Found by the fuzzer: the largest volume and velocity drive a chord's velocity chain past
    # the int range by its third note.
    (OUT / "v2.9-loudest-chords.qov").write_bytes(
        setup_file(2.9, chord=(0, 4, 7, 11), velocity=32767, volume=32767))


if __name__ == "__main__":
    main()
