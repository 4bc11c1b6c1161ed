#!/usr/bin/env python3
"""Writes app/StartUpOrder.ld: the program's code run at start-up, put together by the link.

The kernel maps a program's code in stretches of 64 KB around every page the program touches.
Berkeley DB comes from its static archive, where the objects lie in the order the linker
pulls them in, so the few functions it runs at start-up are spread over the whole of its
code, and nearly all of it becomes resident. The linker script written here names the code
that ran, so that it lies in one stretch at the start of the program's code.

Usage (a maintainer's step, after the start-up has changed; the build only reads the result):
  1. Build the program without the present order (profilers do not see functions outside
     the code section) and with a link map:
       cmake -S . -B build-order -G Ninja -DFERROCASK_START_UP_ORDER=OFF \
             -DFERROCASK_LINK_MAP=$PWD/build-order/ferrocask.map && \
       cmake --build build-order --target ferrocask
  2. Run it from a folder with a vault to its first panel under callgrind, without
     demangling, dump the profile once the panel is shown and end the program:
       valgrind --tool=callgrind --demangle=no --callgrind-out-file=start.%p ./ferrocask
       callgrind_control -d    (from another shell)
  3. scripts/start-up-order.py start.<pid>.1 build-order/ferrocask.map > app/StartUpOrder.ld

Functions compiled in sections of their own are named one by one; an object from an archive
built without them is named whole (its code section), once. Every object's static set-up
follows them.
"""
import re
import sys


def functions_run(callgrind_path, program_suffix):
    """The program's own functions with any cost in the profile, in the order they appear."""
    objects, names = {}, {}
    current_object = None
    order, seen = [], set()
    definition = re.compile(r"^(c?)(ob|fn)=\((\d+)\)(?: (.*))?$")
    with open(callgrind_path, errors="replace") as profile:
        for line in profile:
            match = definition.match(line.rstrip("\n"))
            if not match:
                continue
            called, kind, number, name = match.groups()
            table = objects if kind == "ob" else names
            if name is not None:
                table[number] = name
            if called:
                continue
            if kind == "ob":
                current_object = objects.get(number)
            elif current_object and current_object.endswith(program_suffix):
                function = names.get(number)
                if function and function not in seen:
                    seen.add(function)
                    order.append(function)
    return order


def map_sections(map_path):
    """For each global symbol in the map: the input section holding it and that section's file."""
    holder = {}
    sections = set()
    with open(map_path) as link_map:
        lines = link_map.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    section = None
    section_file = None
    pending = None
    entry = re.compile(r"^ (\.text\S*)(?:\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S.*))?$")
    placed = re.compile(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S.*)$")
    symbol = re.compile(r"^\s+0x[0-9a-f]+\s+([^\s=]+)$")
    for line in lines[start:]:
        match = entry.match(line)
        if match:
            section, section_file = match.group(1), match.group(2)
            pending = section if section_file is None else None
            sections.add(section)
            continue
        if pending:
            match = placed.match(line)
            if match:
                section_file, pending = match.group(1), None
                continue
        if line.startswith(" .") or line.startswith("."):
            section, section_file, pending = None, None, None
            continue
        match = symbol.match(line)
        if match and section and section_file:
            holder.setdefault(match.group(1), (section, section_file))
    return holder, sections


def file_pattern(path):
    """An archive member as a linker script names it: *libname.a:member.o."""
    match = re.match(r"^.*/([^/]+\.a)\((.+)\)$", path)
    if match:
        return "*%s:%s" % match.groups()
    return "*" + path.rsplit("/", 1)[-1]


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: start-up-order.py PROFILE.cg PROGRAM.map > app/StartUpOrder.ld")
    run = functions_run(sys.argv[1], "/ferrocask")
    holder, sections = map_sections(sys.argv[2])
    lines, named = [], set()
    for function in run:
        # A complete constructor or destructor (C1, D1) is an alias of the base one (C2,
        # D2), whose section it shares.
        own = next((".text." + name for name in (function, function.replace("C1E", "C2E", 1),
                                                 function.replace("D1E", "D2E", 1))
                    if ".text." + name in sections), None)
        if own:
            rule = "*(%s)" % own
        elif function in holder:
            section, path = holder[function]
            # An object built without sections of its own per function comes by its whole
            # code section, also when the function found was its static set-up: its local
            # functions are not in the map, and one of them may be what runs (libgcc's
            # processor check, for one). Static set-up comes with everybody's below.
            if section == ".text.startup":
                section = ".text"
            rule = "%s(%s)" % (file_pattern(path), section)
        else:
            continue
        if rule not in named:
            named.add(rule)
            lines.append("        " + rule)
    print("/* The code the program runs from its start to its first panel, ahead of the rest of")
    print("   its code: written by scripts/start-up-order.py. */")
    print("SECTIONS")
    print("{")
    print("    .text.start_up :")
    print("    {")
    print("\n".join(lines))
    # Every object's static set-up runs once at every start, before the profile can see it
    # apart from the rest.
    print("        *(.text.startup .text.startup.*)")
    print("    }")
    print("}")
    print("INSERT BEFORE .text;")


if __name__ == "__main__":
    main()
