#!/usr/bin/env python3
"""Checks of merge_unwind_cies.py's table rewriting on small hand-made unwind tables."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import merge_unwind_cies as m  # noqa: E402

BASE = 0x1000  # RVA of the table


def record(body):
    return struct.pack("<I", len(body)) + body


def cie_zr():
    # version 1, "zR", code align 1, data align -4, return column 8, FDE pointers pcrel sdata4.
    return record(b"\0\0\0\0" + b"\x01zR\0" + b"\x01\x7c\x08" + b"\x01\x1b" + b"\x0c\x04\x04\x88\x01\0\0")


def cie_zplr(at, personality):
    # "zPLR": personality indirect|pcrel|sdata4, LSDA and FDE pointers pcrel sdata4.
    head = b"\0\0\0\0" + b"\x01zPLR\0" + b"\x01\x7c\x08" + b"\x07\x9b"
    field = at + 4 + len(head)  # table offset of the personality pointer
    body = head + struct.pack("<i", personality - (BASE + field)) + b"\x1b\x1b" + b"\x0c\x04\x04\x88\x01\0"
    return record(body)


def fde(at, cie_at, begin, size, lsda=None):
    """An FDE at table offset at for code at RVA begin; with an LSDA when the CIE takes one."""
    body = struct.pack("<I", (at + 4 - cie_at) & 0xFFFFFFFF)
    body += struct.pack("<i", begin - (BASE + at + 8)) + struct.pack("<I", size)
    if lsda is None:
        body += b"\x00"
    else:
        field = at + 4 + len(body) + 1
        body += b"\x04" + struct.pack("<i", lsda - (BASE + field))
    body += b"\x41\x0e\x08\x85\x02"
    return record(body)


def cie_zplr_at(at, personality, base=0x3000):
    return cie_zplr(at, personality - base + BASE)


def fde_at(at, cie_at, begin, size, lsda=None, base=0x3000):
    """An FDE for a table at RVA base."""
    shift = BASE - base
    return fde(at, cie_at, begin + shift, size, None if lsda is None else lsda + shift)


def build(parts):
    """parts: callables taking their table offset; returns the table."""
    table = b""
    for part in parts:
        table += part(len(table))
    return table


def named_parts():
    """(offsets, at): at(name, make) is a part of build() that records its table offset in
    offsets[name], for later parts to point at."""
    offsets = {}

    def at(name, make):
        def part(pos):
            offsets[name] = pos
            return make(pos)
        return part

    return offsets, at


class MergeTable(unittest.TestCase):
    def merged(self, table):
        records, cies = m.parse(table, BASE)
        dead = m.discarded_fdes(records, cies)
        new_table, dropped, fdes_out = m.rebuild(records, dead)
        self.assertEqual(fdes_out, len(dead))
        new_records, new_cies = m.parse(new_table, BASE)
        frames = [r for r in records if r.kind != "cie"]
        kept = [e for r, e in zip(frames, m.describe(records, cies, BASE)) if r.pos not in dead]
        self.assertEqual(m.describe(new_records, new_cies, BASE), kept)
        return new_table, new_records, dropped

    def test_repeated_cies_become_one_and_every_fde_keeps_its_code_and_data(self):
        offsets, at = named_parts()

        table = build([
            at("c1", lambda p: cie_zr()),
            at("f1", lambda p: fde(p, offsets["c1"], 0x5000, 0x40)),
            at("c2", lambda p: cie_zr()),
            at("f2", lambda p: fde(p, offsets["c2"], 0x6000, 0x20)),
            at("p1", lambda p: cie_zplr(p, 0x9000)),
            at("f3", lambda p: fde(p, offsets["p1"], 0x7000, 0x10, lsda=0xA000)),
            at("p2", lambda p: cie_zplr(p, 0x9000)),  # same routine, other bytes: pcrel
            at("f4", lambda p: fde(p, offsets["p2"], 0x7100, 0x10, lsda=0xA100)),
            at("p3", lambda p: cie_zplr(p, 0x9100)),  # another routine: stays apart
            at("f5", lambda p: fde(p, offsets["p3"], 0x7200, 0x10, lsda=0xA200)),
            lambda p: b"\0\0\0\0",
        ])
        new_table, new_records, dropped = self.merged(table)
        self.assertEqual(dropped, 2)
        self.assertEqual([r.kind for r in new_records].count("cie"), 3)
        self.assertEqual(len(table) - len(new_table), len(cie_zr()) + len(cie_zplr(0, 0)))
        self.assertEqual(new_records[-1].kind, "end")

    def test_a_table_without_repeats_comes_back_unchanged(self):
        table = build([lambda p: cie_zr(), lambda p: fde(p, 0, 0x5000, 8), lambda p: b"\0\0\0\0"])
        new_table, _, dropped = self.merged(table)
        self.assertEqual(dropped, 0)
        self.assertEqual(new_table, table)

    def test_records_after_the_terminator_move_with_the_rest(self):
        table = build([
            lambda p: cie_zr(), lambda p: cie_zr(), lambda p: fde(p, 24, 0x5000, 8), lambda p: b"\0\0\0\0",
            lambda p: cie_zr(), lambda p: fde(p, p - 24, 0x6000, 4),
        ])
        _, new_records, dropped = self.merged(table)
        self.assertEqual(dropped, 2)
        self.assertEqual([r.kind for r in new_records], ["cie", "fde", "end", "fde"])

    def test_fdes_of_discarded_code_go_with_the_cies_only_they_use(self):
        offsets, at = named_parts()

        # A discarded function's code pointer was never relocated: PC-relative zero.
        table = build([
            at("c1", lambda p: cie_zr()),
            at("f1", lambda p: fde(p, offsets["c1"], 0x5000, 0x40)),
            at("d1", lambda p: fde(p, offsets["c1"], BASE + p + 8, 0x30)),
            at("c2", lambda p: cie_zplr(p, 0x9100)),
            at("d2", lambda p: fde(p, offsets["c2"], BASE + p + 8, 0x10, lsda=0xA000)),
            at("c3", lambda p: cie_zr()),
            at("f3", lambda p: fde(p, offsets["c3"], 0x6000, 0x20)),
            lambda p: b"\0\0\0\0",
        ])
        records, cies = m.parse(table, BASE)
        self.assertEqual(m.discarded_fdes(records, cies), {offsets["d1"], offsets["d2"]})
        new_table, new_records, cies_out = self.merged(table)
        self.assertEqual(cies_out, 2, "the repeated CIE and the one only a discarded FDE used")
        self.assertEqual([r.kind for r in new_records], ["cie", "fde", "fde", "end"])
        begins = [e[1] for e in m.describe(*m.parse(new_table, BASE), BASE) if e[0] == "fde"]
        self.assertEqual(begins, [("rva", 0x5000), ("rva", 0x6000)])

    def test_kept_frames_must_point_into_the_code(self):
        # A tiny image: .text at 0x1000 (code), .rdata at 0x2000 holding the personality pointer,
        # the table itself at BASE = 0x1000 is stood in by a section of its own at 0x3000.
        def image_with(personality_pointer):
            image = bytearray(0x400)
            struct.pack_into("<I", image, 0x3C, 0x40)
            struct.pack_into("<I", image, 0x40 + 24 + 28, 0x400000)
            struct.pack_into("<I", image, 0x300, personality_pointer)
            return image

        sections = [
            {"name": b".text", "rva": 0x1000, "vsize": 0x1000, "rsize": 0x100, "raw": 0x200, "flags": 0x60000020},
            {"name": b".rdata", "rva": 0x2000, "vsize": 0x100, "rsize": 0x100, "raw": 0x300, "flags": 0x40000040},
            {"name": b".eh_frame", "rva": 0x3000, "vsize": 0x100, "rsize": 0x100, "raw": 0, "flags": 0x40000040},
        ]
        eh = sections[2]

        def check(parts, personality_pointer=0x401800):
            table = build(parts)
            records, cies = m.parse(table, 0x3000)
            dead = m.discarded_fdes(records, cies)
            m.check_targets(m.describe(records, cies, 0x3000), cies, records, dead,
                            image_with(personality_pointer), sections, eh)

        with_routine = [lambda p: cie_zplr_at(p, 0x2000), lambda p: fde_at(p, 0, 0x1100, 8, lsda=0x2010)]
        check(with_routine)
        check(with_routine + [lambda p: fde_at(p, 0, 0x3000 + p + 8, 8, lsda=0x2020)])  # discarded: fine
        for name, parts, pointer in [
            ("a personality routine outside the code", with_routine, 0x402000),
            ("a personality pointer that was never filled in", with_routine, 0),
            ("code outside the image", [lambda p: cie_zplr_at(p, 0x2000), lambda p: fde_at(p, 0, 0x9000, 8)],
             0x401800),
            ("language-specific data inside the table",
             [lambda p: cie_zplr_at(p, 0x2000), lambda p: fde_at(p, 0, 0x1100, 8, lsda=0x3000)], 0x401800),
        ]:
            with self.subTest(name), self.assertRaises(m.Refused):
                check(parts, pointer)

    def test_unknown_forms_are_refused(self):
        cases = {
            "64-bit pointers": cie_zr().replace(b"\x01\x1b", b"\x01\x0c"),
            "an unknown augmentation": cie_zr().replace(b"zR\0", b"zQ\0"),
        }
        for name, cie in cases.items():
            with self.subTest(name), self.assertRaises(m.Refused):
                m.parse(cie + b"\0\0\0\0", BASE)
        with self.subTest("an FDE whose CIE is missing"), self.assertRaises(m.Refused):
            m.parse(fde(0, 0x100, 0x5000, 8), BASE)
        with self.subTest("a record longer than the table"), self.assertRaises(m.Refused):
            m.parse(cie_zr()[:-3], BASE)


if __name__ == "__main__":
    unittest.main()
