#!/usr/bin/env python3
"""Links a 32-bit Windows program without the functions nothing calls, although the DWARF unwind
table names them all.

The PE linker keeps every input .eh_frame section, and each of them refers to the code of every
function it describes, so --gc-sections finds every function with an unwind entry in use and
drops almost nothing. This launcher (the link rule's RULE_LAUNCH_LINK) links twice:

  1. Into a scratch file, with the default linker script changed so that .eh_frame is not kept:
     the linker's garbage collection then reaches only what the program uses. The C++ personality
     routine, which only the unwind table names, is made a root of its own; the language-specific
     data (.gcc_except_table) stay kept as in the default script, so everything they name, type
     information and its methods included, is live in this link as in the real one.
     --print-gc-sections tells which sections were left out.
  2. The real link, with the default script and those code sections discarded.

A section discarded here can only be reached through the unwind entries of discarded functions:
those entries stay behind with a code pointer never relocated, and cmake/merge_unwind_cies.py
takes them out after the link, refusing the image if a kept entry points anywhere but the code.

  link_live_code.py <compiler> <link arguments...>
"""
import os
import re
import subprocess
import sys

PERSONALITY_ROUTINES = ["___gxx_personality_v0"]
KEEP_UNWIND = "KEEP(*(.eh_frame*))"


class Failed(Exception):
    pass


def default_script(compiler):
    ld = subprocess.run([compiler, "-print-prog-name=ld"], capture_output=True, text=True, check=True).stdout.strip()
    verbose = subprocess.run([ld, "--verbose"], capture_output=True, text=True, check=True).stdout
    parts = verbose.split("==================================================")
    if len(parts) != 3 or parts[1].count(KEEP_UNWIND) != 1 or parts[1].count("SECTIONS\n{") != 1:
        raise Failed("the linker's default script does not have the form this launcher knows")
    return parts[1].strip("\n") + "\n"


def output_of(args):
    for i, arg in enumerate(args):
        if arg == "-o" and i + 1 < len(args):
            return i + 1
    raise Failed("the link command names no output (-o)")


def scratch_command(args, out_at, scratch, script):
    """The link command writing scratch instead, without its map or import library."""
    command = []
    for i, arg in enumerate(args):
        if i == out_at:
            command.append(scratch)
        elif arg.startswith("-Wl,") and any(p.startswith(("-Map", "--out-implib")) for p in arg[4:].split(",")):
            continue
        else:
            command.append(arg)
    command += [f"-Wl,-T,{script}", "-Wl,--print-gc-sections", f"-Wl,-Map={scratch}.map"]
    command += [f"-Wl,--undefined={name}" for name in PERSONALITY_ROUTINES]
    return command


REMOVED = re.compile(r"removing unused section '([^']+)' in file '([^']+)'")
GLOB = re.compile(r"[][*?\\]")
# Only code is discarded: the data that only discarded code used goes with the garbage
# collection of the real link, and the run-time library keeps data that its own start-up code
# finds without a relocation the collection could follow.
DISCARDED_KINDS = (".text",)
COMDAT_KEY = re.compile(r"\[[^][]*\]$")


MAPPED = re.compile(r"^ (\S+)(?:\s*\n\s+|\s+)0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S[^\n]*)$", re.M)


def kept_sections(link_map):
    """(section, file) of every input section the scratch link's map places in the image."""
    at = link_map.find("Linker script and memory map")
    return {(COMDAT_KEY.sub("", m.group(1)), m.group(2).strip()) for m in MAPPED.finditer(link_map[max(at, 0):])}


def discard_patterns(linker_output, kept):
    """Input section descriptions, for /DISCARD/, of the code sections the scratch link left out.
    A pattern names a file and a section name; where the file has a kept section of the same name
    as well, the pattern would take both, and that section stays."""
    patterns = []
    for line in linker_output.splitlines():
        found = REMOVED.search(line)
        if not found:
            continue
        section, origin = found.groups()
        section = COMDAT_KEY.sub("", section)  # "name[symbol]": the symbol a COMDAT section is kept for
        if (section, origin) in kept:
            continue
        if not any(section == kind or section.startswith((kind + "$", kind + ".")) for kind in DISCARDED_KINDS):
            continue
        member = re.match(r"(.*)\((.*)\)$", origin)
        file_pattern = f"*{os.path.basename(member.group(1))}:{member.group(2)}" if member else origin
        if GLOB.search(section) or GLOB.search(file_pattern.lstrip("*")) or any(c in file_pattern for c in " ()"):
            continue  # a name that would read as a pattern: keep the section rather than risk more
        patterns.append(f"    {file_pattern}({section})")
    return patterns


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    args = argv[1:]
    try:
        out_at = output_of(args)
        out = args[out_at]
        script = default_script(args[0])
        scratch_script = f"{out}.scratch.ld"
        scratch = f"{out}.scratch.exe"
        with open(scratch_script, "w") as f:
            f.write(script.replace(KEEP_UNWIND, "*(.eh_frame*)"))
        first = subprocess.run(scratch_command(args, out_at, scratch, scratch_script), capture_output=True, text=True)
        kept = set()
        if first.returncode == 0:
            with open(f"{scratch}.map") as f:
                kept = kept_sections(f.read())
        for name in (scratch, scratch_script, f"{scratch}.map"):
            if os.path.exists(name):
                os.remove(name)
        if first.returncode != 0:
            sys.stderr.write(first.stderr)
            raise Failed("the link without the unwind table as a root failed")
        if not kept:
            raise Failed("the scratch link's map lists no section")
        patterns = discard_patterns(first.stderr, kept)
        live_script = f"{out}.live.ld"
        at = script.index("SECTIONS\n{") + len("SECTIONS\n{")
        with open(live_script, "w") as f:
            f.write(script[:at] + "\n  /DISCARD/ :\n  {\n" + "\n".join(patterns) + "\n  }\n" + script[at:])
    except (Failed, OSError, subprocess.CalledProcessError) as e:
        print(f"link_live_code.py: {e}", file=sys.stderr)
        return 1
    final = subprocess.run(args + [f"-Wl,-T,{live_script}"])
    if final.returncode == 0:
        print(f"link_live_code.py: {len(patterns)} code sections that nothing uses left out of {out}")
    return final.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
