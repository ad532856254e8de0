#!/usr/bin/env python3
"""Rewrites a linked 32-bit Windows image's .eh_frame section, in place: merges its identical CIEs
and leaves out the FDEs of code the linker discarded.

GCC gives every inline or template function of a translation unit an .eh_frame section of its own,
with a copy of the unit's common information entry (CIE), so that the function's unwind entry
(FDE) goes wherever the linker puts or drops the function. The PE linker keeps every copy: in the
stub they are more than a thousand identical records. This script keeps the first of each kind,
points every FDE at it, closes the gaps, and cuts the freed bytes out of the file (the section's
size in memory stays, so no section moves in the address space). The FDEs of functions that the
link left out on purpose (cmake/link_live_code.py) stay in the table with a code pointer that was
never relocated; they go too, with the CIEs that only they used.

Before it writes anything it decodes the old and the new table and requires both to describe the
same frames, record for record, but for the discarded code: the same code ranges, the same CIE
contents (with the personality routine's address resolved), the same language-specific data
addresses and the same instructions. Every frame it keeps must describe code in the image, with
its personality routine in the code and its language-specific data outside the table. It refuses
images it does not fully understand (pointer encodings other than absolute or PC-relative 4-byte
values, base relocations inside the table, a certificate or debug directory) and then leaves the
file as it was.

  merge_unwind_cies.py <image>            rewrite, printing what was saved
  merge_unwind_cies.py --check <image>    fail unless the table holds no two identical CIEs and no
                                          FDE of discarded code
"""
import os
import struct
import sys


class Refused(Exception):
    pass


def uleb(data, pos):
    value = shift = 0
    while True:
        if pos >= len(data):
            raise Refused("a number runs past the end of the table")
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def sleb(data, pos):
    value, end = uleb(data, pos)
    bits = 7 * (end - pos)
    if value & (1 << (bits - 1)):
        value -= 1 << bits
    return value, end


DW_EH_PE_omit = 0xFF


def pointer_size(encoding):
    """Bytes of an encoded pointer; only the 4-byte forms (absolute or PC-relative) are taken."""
    if encoding == DW_EH_PE_omit:
        return 0
    if encoding & 0x0F not in (0x00, 0x03, 0x0B) or encoding & 0x70 not in (0x00, 0x10):
        raise Refused(f"pointer encoding 0x{encoding:02x} is not handled")
    return 4


def read_pointer(data, pos, encoding, base_rva):
    """(target, raw) of the pointer at pos; PC-relative targets are resolved to RVAs."""
    fmt = "<i" if encoding & 0x0F == 0x0B else "<I"
    raw = struct.unpack_from(fmt, data, pos)[0]
    if encoding & 0x70 == 0x10:
        return ("rva", (base_rva + pos + raw) & 0xFFFFFFFF), raw
    return ("abs", raw), raw


class Record:
    """One record of the table: a CIE, an FDE or a zero terminator."""

    def __init__(self, kind, pos, data):
        self.kind, self.pos, self.data = kind, pos, data
        self.fields = []  # (offset in record, encoding) of the PC-relative pointers it holds
        self.cie = None  # for an FDE: the position of its CIE in the table
        self.key = None  # for a CIE: its contents with the personality address resolved


def parse_cie(record, base_rva):
    data, start = record.data, 8
    version = data[start]
    end_aug = data.index(b"\0", start + 1)
    augmentation = data[start + 1:end_aug].decode("ascii", "replace")
    pos = end_aug + 1
    if "eh" in augmentation:
        raise Refused("old-style 'eh' augmentation")
    _, pos = uleb(data, pos)  # code alignment
    _, pos = sleb(data, pos)  # data alignment
    if version == 1:
        pos += 1
    else:
        _, pos = uleb(data, pos)
    info = {"lsda": DW_EH_PE_omit, "fde": 0x00, "z": augmentation.startswith("z")}
    key = bytearray(data)
    if info["z"]:
        _, pos = uleb(data, pos)
        for letter in augmentation[1:]:
            if letter == "P":
                encoding = data[pos]
                size = pointer_size(encoding)
                target, _ = read_pointer(data, pos + 1, encoding, base_rva + record.pos)
                if encoding & 0x70 == 0x10:
                    record.fields.append((pos + 1, encoding))
                key[pos + 1:pos + 1 + size] = b"\0" * size  # compared by target, below
                info["personality"] = target
                info["personality_encoding"] = encoding
                pos += 1 + size
            elif letter == "L":
                info["lsda"] = data[pos]
                pointer_size(info["lsda"])
                pos += 1
            elif letter == "R":
                info["fde"] = data[pos]
                pointer_size(info["fde"])
                pos += 1
            elif letter == "S":
                pass
            else:
                raise Refused(f"augmentation '{augmentation}' is not handled")
    elif augmentation:
        raise Refused(f"augmentation '{augmentation}' is not handled")
    record.key = (bytes(key), info.get("personality"))
    return info


def parse(table, base_rva):
    """The records of the table, with their CIEs decoded and their FDEs linked to them."""
    records, cies, pos = [], {}, 0
    while pos < len(table):
        if pos + 4 > len(table):
            raise Refused("a record runs past the end of the table")
        length = struct.unpack_from("<I", table, pos)[0]
        if length == 0:
            records.append(Record("end", pos, table[pos:pos + 4]))
            pos += 4
            continue
        if length == 0xFFFFFFFF or pos + 4 + length > len(table):
            raise Refused("a record has a length this script does not handle")
        data = table[pos:pos + 4 + length]
        cie_delta = struct.unpack_from("<I", data, 4)[0]
        if cie_delta == 0:
            record = Record("cie", pos, data)
            cies[pos] = parse_cie(record, base_rva)
        else:
            record = Record("fde", pos, data)
            record.cie = (pos + 4 - cie_delta) & 0xFFFFFFFF
            if record.cie not in cies:
                raise Refused(f"the FDE at {pos} names no CIE before it")
            info = cies[record.cie]
            size = pointer_size(info["fde"])
            if info["fde"] & 0x70 == 0x10:
                record.fields.append((8, info["fde"]))
            if info["z"]:
                _, aug = uleb(data, 8 + 2 * size)
                if info["lsda"] != DW_EH_PE_omit and info["lsda"] & 0x70 == 0x10:
                    lsda_raw = struct.unpack_from("<I", data, aug)[0]
                    if lsda_raw != 0:  # a null LSDA stays null wherever the FDE goes
                        record.fields.append((aug, info["lsda"]))
        records.append(record)
        pos += 4 + length
    return records, cies


def describe(records, cies, base_rva):
    """What the table means, independent of where its records sit."""
    meaning, by_pos = [], {r.pos: r for r in records if r.kind == "cie"}
    for record in records:
        if record.kind == "end":
            meaning.append(("end",))
        elif record.kind == "fde":
            info = cies[record.cie]
            data = record.data
            size = pointer_size(info["fde"])
            begin, _ = read_pointer(data, 8, info["fde"], base_rva + record.pos)
            rest = bytearray(data[8 + size:])
            lsda = None
            if info["z"]:
                aug_len, aug = uleb(data, 8 + 2 * size)
                if info["lsda"] != DW_EH_PE_omit and aug_len:
                    raw = struct.unpack_from("<I", data, aug)[0]
                    lsda = read_pointer(data, aug, info["lsda"], base_rva + record.pos)[0] if raw else None
                    rest[aug - 8 - size:aug - 8 - size + 4] = b"\0\0\0\0"
            meaning.append(("fde", begin, lsda, bytes(rest), by_pos[record.cie].key))
    return meaning


def rebuild(records, dead=frozenset()):
    """The table with one CIE of each kind, without the FDEs at the table offsets in dead and
    without the CIEs no other FDE uses; and the numbers of CIEs and of FDEs left out."""
    keep, first = {}, {}
    for record in records:
        if record.kind == "cie":
            keep[record.pos] = first.setdefault(record.key, record.pos)
    used = {keep[r.cie] for r in records if r.kind == "fde" and r.pos not in dead}
    out, new_pos, cies_out, fdes_out = bytearray(), {}, 0, 0
    for record in records:
        if record.kind == "cie" and (keep[record.pos] != record.pos or record.pos not in used):
            cies_out += 1
            continue
        if record.kind == "fde" and record.pos in dead:
            fdes_out += 1
            continue
        new_pos[record.pos] = len(out)
        data = bytearray(record.data)
        moved = record.pos - len(out)
        for offset, encoding in record.fields:
            fmt = "<i" if encoding & 0x0F == 0x0B else "<I"
            raw = struct.unpack_from(fmt, data, offset)[0]
            value = (raw + moved) & 0xFFFFFFFF
            struct.pack_into("<I", data, offset, value)
        if record.kind == "fde":
            cie_at = new_pos[keep[record.cie]]
            struct.pack_into("<I", data, 4, len(out) + 4 - cie_at)
        out += data
    return bytes(out), cies_out, fdes_out


def discarded_fdes(records, cies):
    """Table offsets of the FDEs of code the linker discarded. Their code pointer was never
    relocated: PC-relative zero, the address of the pointer itself, inside the table."""
    dead = set()
    for record in records:
        if record.kind == "fde" and cies[record.cie]["fde"] & 0x70 == 0x10:
            if struct.unpack_from("<I", record.data, 8)[0] == 0:
                dead.add(record.pos)
    return dead


def check_targets(meaning, cies, records, dead, image, sections, eh):
    """Refuses a table whose kept records point anywhere but where they must: code ranges and
    personality routines into the code, language-specific data outside the table."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    base = struct.unpack_from("<I", image, pe + 24 + 28)[0]  # the optional header's ImageBase

    def section_of(rva):
        return next((s for s in sections if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["rsize"])), None)

    def in_code(rva):
        s = section_of(rva)
        return s is not None and s["flags"] & 0x20000020 != 0

    def rva_of(target):
        kind, value = target
        return value if kind == "rva" else (value - base) & 0xFFFFFFFF

    used = set()
    for record, entry in zip([r for r in records if r.kind != "cie"], meaning):
        if entry[0] != "fde" or record.pos in dead:
            continue
        used.add(record.cie)
        begin = rva_of(entry[1])
        if not in_code(begin):
            raise Refused(f"the FDE at {record.pos} describes code at RVA 0x{begin:x}, outside the code")
        if entry[2] is not None:
            lsda = rva_of(entry[2])
            if section_of(lsda) in (None, eh):
                raise Refused(f"the FDE at {record.pos} has its language-specific data at RVA 0x{lsda:x}")
    for at in used:
        info = cies[at]
        if "personality" not in info:
            continue
        routine = rva_of(info["personality"])
        if info["personality_encoding"] & 0x80:  # indirect: the address of a pointer to the routine
            s = section_of(routine)
            if s is None or routine - s["rva"] + 4 > s["rsize"]:
                raise Refused(f"the CIE at {at} names its personality routine through RVA 0x{routine:x}")
            routine = (struct.unpack_from("<I", image, s["raw"] + routine - s["rva"])[0] - base) & 0xFFFFFFFF
        if not in_code(routine):
            raise Refused(f"the CIE at {at} names a personality routine at RVA 0x{routine:x}, outside the code")


def read_image(path):
    image = bytearray(open(path, "rb").read())
    if image[:2] != b"MZ":
        raise Refused("not an executable image")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise Refused("not a PE image")
    machine, sections = struct.unpack_from("<HH", image, pe + 4)
    symbols, symbol_count, optional_size = struct.unpack_from("<IIH", image, pe + 12)
    opt = pe + 24
    if machine != 0x14C or struct.unpack_from("<H", image, opt)[0] != 0x10B:
        raise Refused("not a 32-bit x86 image")
    strings = symbols + 18 * symbol_count if symbols else 0
    table = opt + optional_size
    found = []
    for i in range(sections):
        at = table + 40 * i
        raw_name = bytes(image[at:at + 8]).rstrip(b"\0")
        name = raw_name
        if raw_name.startswith(b"/") and strings:
            off = strings + int(raw_name[1:])
            name = bytes(image[off:image.index(b"\0", off)])
        virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        found.append({"name": name, "at": at, "vsize": virtual_size, "rva": rva, "rsize": raw_size,
                      "raw": raw_at, "flags": flags})
    return image, pe, opt, found


def base_relocations(image, opt, sections):
    """RVAs that the loader patches."""
    rva, size = struct.unpack_from("<II", image, opt + 96 + 8 * 5)
    if not size:
        return []
    section = next((s for s in sections if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["rsize"])), None)
    if section is None:
        raise Refused("the base relocations lie in no section")
    pos, end, found = section["raw"] + rva - section["rva"], section["raw"] + rva - section["rva"] + size, []
    while pos + 8 <= end:
        page, block = struct.unpack_from("<II", image, pos)
        if block < 8:
            break
        for i in range((block - 8) // 2):
            entry = struct.unpack_from("<H", image, pos + 8 + 2 * i)[0]
            if entry >> 12:
                found.append(page + (entry & 0xFFF))
        pos += block
    return found


def pe_checksum(image, checksum_at):
    total = 0
    for i in range(0, len(image) - len(image) % 2, 2):
        if checksum_at <= i < checksum_at + 4:
            continue
        total += image[i] | image[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    if len(image) % 2:
        total += image[-1]
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def merge(path, check_only):
    image, pe, opt, sections = read_image(path)
    eh = next((s for s in sections if s["name"] == b".eh_frame"), None)
    if eh is None:
        raise Refused("the image has no .eh_frame section")
    used = min(eh["vsize"], eh["rsize"])
    table = bytes(image[eh["raw"]:eh["raw"] + used])
    records, cies = parse(table, eh["rva"])
    dead = discarded_fdes(records, cies)
    meaning = describe(records, cies, eh["rva"])
    check_targets(meaning, cies, records, dead, image, sections, eh)
    keys = [r.key for r in records if r.kind == "cie"]
    if check_only:
        if len(set(keys)) != len(keys):
            raise Refused(f"{len(keys) - len(set(keys))} of its {len(keys)} CIEs repeat another")
        if dead:
            raise Refused(f"{len(dead)} FDEs describe code the linker discarded")
        print(f"{path}: {len(keys)} CIEs, none repeated, every FDE for code in the image")
        return
    for directory in (4, 6):  # certificates and debug entries hold file offsets
        if struct.unpack_from("<I", image, opt + 96 + 8 * directory + 4)[0]:
            raise Refused("the image has a certificate or debug directory")
    inside = [r for r in base_relocations(image, opt, sections) if eh["rva"] <= r < eh["rva"] + used]
    if inside:
        raise Refused(f"{len(inside)} base relocations point into the table")

    new_table, cies_out, fdes_out = rebuild(records, dead)
    new_records, new_cies = parse(new_table, eh["rva"])
    frames = [r for r in records if r.kind != "cie"]  # what describe() gives an entry
    kept = [entry for record, entry in zip(frames, meaning) if record.pos not in dead]
    if describe(new_records, new_cies, eh["rva"]) != kept:
        raise Refused("the rewritten table would describe other frames")
    if cies_out == 0 and fdes_out == 0:
        print(f"{path}: no repeated CIEs and no FDEs of discarded code")
        return

    file_align = struct.unpack_from("<I", image, opt + 36)[0]
    new_raw = (len(new_table) + file_align - 1) // file_align * file_align
    cut = eh["rsize"] - new_raw
    section_data = new_table + bytes(new_raw - len(new_table))
    start = eh["raw"]
    image[start:start + eh["rsize"]] = section_data
    struct.pack_into("<I", image, eh["at"] + 16, new_raw)
    for s in sections:
        if s is not eh and s["raw"] > start:
            struct.pack_into("<I", image, s["at"] + 20, s["raw"] - cut)
    symbols = struct.unpack_from("<I", image, pe + 12)[0]
    if symbols > start:
        struct.pack_into("<I", image, pe + 12, symbols - cut)
    initialised = struct.unpack_from("<I", image, opt + 8)[0]
    struct.pack_into("<I", image, opt + 8, max(0, initialised - cut))
    if struct.unpack_from("<I", image, opt + 64)[0]:
        struct.pack_into("<I", image, opt + 64, pe_checksum(image, opt + 64))

    temporary = path + ".merging"
    with open(temporary, "wb") as out:
        out.write(image)
    os.replace(temporary, path)
    print(f"{path}: {cies_out} repeated or unused CIEs and {fdes_out} FDEs of discarded code left out, "
          f"{len(table) - len(new_table)} bytes of the unwind table and {cut} bytes of the file saved")


def main(argv):
    check_only = len(argv) == 3 and argv[1] == "--check"
    if len(argv) != (3 if check_only else 2):
        print("\n".join(line for line in __doc__.splitlines() if line.startswith("  merge_")), file=sys.stderr)
        return 2
    path = argv[-1]
    try:
        merge(path, check_only)
    except (Refused, OSError, ValueError, struct.error) as e:
        print(f"{path}: {'check failed' if check_only else 'unwind table left as it is'}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
