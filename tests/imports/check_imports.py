#!/usr/bin/env python3
"""Holds an exe's PE header versions and imports to a reviewed list.

    check_imports.py EXE LIST     fails, saying what differs, unless EXE matches LIST
    check_imports.py EXE          prints EXE's header and imports in LIST's form

LIST names the machine, the subsystem and OS versions, then every DLL the exe
imports, each marked "delay-loaded" or not, and every function it takes from
it, one per line, indented. '#' starts a comment. DLL names compare without
regard to case, as the loader does; function names exactly.

A delay-loaded DLL is not in the import directory. GNU ld leaves the PE
delay-import directory empty, so when it is, the descriptors that dlltool's
delay libraries put into the image are found by their shape, and every
non-zero slot of the import address table must then belong to an ordinary or
a delay-loaded import: a slot that neither explains fails the check rather
than go unseen.
"""
import struct
import sys

MACHINES = {0x14C: "x86", 0x8664: "x64"}


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            data = self.data = f.read()
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header")
        self.wide = magic == 0x20B
        self.slot_size = 8 if self.wide else 4
        self.base = struct.unpack_from("<Q" if self.wide else "<I", data, opt + (24 if self.wide else 28))[0]
        self.size = struct.unpack_from("<I", data, opt + 56)[0]
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        directories = opt + (112 if self.wide else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        # (virtual size, RVA, raw size, raw offset) of each section
        self.sections = [struct.unpack_from("<8xIIII", data, opt + optional_size + 40 * i) for i in range(sections)]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, start, raw_size, raw_offset in self.sections:
            if start <= rva < start + raw_size:
                return raw_offset + rva - start
        return None

    def number(self, rva, size=4):
        at = self.offset(rva)
        if at is None or at + size > len(self.data):
            return None
        return int.from_bytes(self.data[at:at + size], "little")

    def slot(self, rva):
        return self.number(rva, self.slot_size)

    def text(self, rva):
        at = self.offset(rva)
        end = -1 if at is None else self.data.find(b"\0", at, at + 512)
        try:
            return self.data[at:end].decode("ascii") if end >= 0 else None
        except UnicodeDecodeError:
            return None

    def names(self, lookup_rva):
        """The functions of one import lookup table, in its order."""
        ordinal_flag = 1 << (self.slot_size * 8 - 1)
        names = []
        while True:
            entry = self.slot(lookup_rva)
            if entry is None:
                raise ValueError("an import lookup table runs out of the image")
            if entry == 0:
                return names
            name = "#%d" % (entry & 0xFFFF) if entry & ordinal_flag else self.text(entry + 2)
            if not name:
                raise ValueError("an import names no readable function")
            names.append(name)
            lookup_rva += self.slot_size


def ordinary_imports(image):
    """[(dll, functions, RVA of its first address slot)] from the import directory."""
    imports = []
    rva, _ = image.directory(1)
    while rva:
        at = image.offset(rva)
        if at is None or at + 20 > len(image.data):
            raise ValueError("the import directory runs out of the image")
        lookup, _, _, name, first = struct.unpack_from("<IIIII", image.data, at)
        if not (lookup or name or first):
            break
        dll = image.text(name)
        if not dll:
            raise ValueError("an import descriptor names no readable DLL")
        imports.append((dll, image.names(lookup or first), first))
        rva += 20
    return imports


def looks_like_delay_descriptor(image, rva):
    fields = [image.number(rva + 4 * i) for i in range(8)]
    if None in fields:
        return None
    attributes, name, module, iat, lookup, bound, unload, stamp = fields
    if attributes != 1 or bound or unload or stamp:
        return None
    if not 0 < module < image.size or image.offset(iat) is None or image.offset(lookup) is None:
        return None
    dll = image.text(name)
    if not dll or not dll.lower().endswith(".dll"):
        return None
    try:
        functions = image.names(lookup)
    except ValueError:
        return None
    return dll, functions, iat


def delay_imports(image, ordinary):
    """[(dll, functions, RVA of its first address slot)] of the delay-loaded DLLs."""
    found = []
    rva, _ = image.directory(13)
    if rva:
        while described := looks_like_delay_descriptor(image, rva):
            found.append(described)
            rva += 32
        return found
    # Not in the directory: dlltool places each descriptor in the code section,
    # 4-aligned; its table of addresses lies within the import address table.
    iat_start, iat_size = image.directory(12)
    for vsize, start, raw_size, _ in image.sections:
        for candidate in range(start, start + min(vsize, raw_size) - 31, 4):
            described = image.number(candidate) == 1 and looks_like_delay_descriptor(image, candidate)
            if described and iat_start <= described[2] < iat_start + iat_size:
                found.append(described)
    # Every filled slot of the import address table must belong to something seen.
    slot = image.slot_size
    explained = set()
    for _, functions, first in ordinary + found:
        explained.update(range(first, first + slot * len(functions), slot))
    for at in range(iat_start, iat_start + iat_size, slot):
        if at not in explained and image.slot(at):
            raise ValueError("the import address table holds a slot (RVA 0x%x) that no import explains" % at)
    return found


def check_delay_slots(image, delayed):
    """A delay-loaded function's slot must start out pointing at its loader
    code in the image; one that is 0 sends the first call to address 0."""
    slot = image.slot_size
    for dll, functions, first in delayed:
        for index, function in enumerate(functions):
            target = image.slot(first + slot * index)
            if not target or not image.base <= target < image.base + image.size:
                raise ValueError("%s!%s is delay-loaded, but its address slot holds 0x%x, not its loader code "
                                 "in the image: the first call would crash" % (dll, function, target or 0))


def describe(path):
    image = Image(path)
    ordinary = ordinary_imports(image)
    delayed = delay_imports(image, ordinary)
    check_delay_slots(image, delayed)
    state = {
        "machine": image.machine,
        "subsystem": "%d.%d" % image.subsystem_version,
        "os": "%d.%d" % image.os_version,
        "dlls": {},
    }
    # One DLL may be named by more than one descriptor (two import libraries
    # for it): its functions are taken together.
    for delayed_here, runs in ((False, ordinary), (True, delayed)):
        for dll, functions, _ in runs:
            known = state["dlls"].get(dll.lower())
            if known and known[1] != delayed_here:
                raise ValueError("%s is both imported at start-up and delay-loaded" % dll)
            listed = set(known[2]) if known else set()
            state["dlls"][dll.lower()] = (dll, delayed_here, sorted(listed | set(functions)))
    return state


def read_list(path):
    state = {"machine": None, "subsystem": None, "os": None, "dlls": {}}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].rstrip()
            if not line.strip():
                continue
            words = line.split()
            if raw[0] in " \t":
                if current is None:
                    raise ValueError("%s:%d: a function before any DLL" % (path, number))
                current[2].append(words[0])
            elif words[0] in ("machine", "subsystem", "os") and len(words) == 2:
                state[words[0]] = words[1]
            elif len(words) == 1 or words[1:] == ["delay-loaded"]:
                current = (words[0], len(words) == 2, [])
                state["dlls"][words[0].lower()] = current
            else:
                raise ValueError("%s:%d: cannot read %r" % (path, number, line))
    return state


def print_state(state):
    print("machine %(machine)s\nsubsystem %(subsystem)s\nos %(os)s" % state)
    for key in sorted(state["dlls"]):
        dll, delayed, functions = state["dlls"][key]
        print("\n" + dll + (" delay-loaded" if delayed else ""))
        for function in functions:
            print("    " + function)


def compare(exe, seen, list_path, reviewed):
    faults = []
    for field in ("machine", "subsystem", "os"):
        if seen[field] != reviewed[field]:
            faults.append("%s is %s, but the list says %s" % (field, seen[field], reviewed[field]))
    for key in sorted(set(seen["dlls"]) | set(reviewed["dlls"])):
        if key not in reviewed["dlls"]:
            dll, delayed, functions = seen["dlls"][key]
            faults.append("new import: %s%s (%s); review it and add it to the list"
                          % (dll, " delay-loaded" if delayed else "", ", ".join(functions)))
            continue
        if key not in seen["dlls"]:
            faults.append("%s is no longer imported: take it off the list" % reviewed["dlls"][key][0])
            continue
        dll, delayed, functions = seen["dlls"][key]
        _, listed_delayed, listed = reviewed["dlls"][key]
        if delayed != listed_delayed:
            kinds = ("loaded at start-up", "delay-loaded")
            faults.append("%s is %s, but the list says it is %s" % (dll, kinds[delayed], kinds[listed_delayed]))
        for function in sorted(set(functions) - set(listed)):
            faults.append("new import: %s!%s; check that the oldest Windows supported has it, then add it to the list"
                          % (dll, function))
        for function in sorted(set(listed) - set(functions)):
            faults.append("%s!%s is no longer imported: take it off the list" % (dll, function))
    for fault in faults:
        print("%s: %s" % (exe, fault))
    if faults:
        print("%s: %d difference(s) from the reviewed list %s" % (exe, len(faults), list_path))
        print("(check_imports.py %s prints what the exe holds now)" % exe)
        return 1
    print("%s: machine, versions and all %d imports of %d DLLs match %s"
          % (exe, sum(len(d[2]) for d in seen["dlls"].values()), len(seen["dlls"]), list_path))
    return 0


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        seen = describe(argv[1])
        if len(argv) == 2:
            print_state(seen)
            return 0
        reviewed = read_list(argv[2])
    except (OSError, ValueError, struct.error) as error:
        print("check_imports: %s: %s" % (argv[1], error), file=sys.stderr)
        return 1
    return compare(argv[1], seen, argv[2], reviewed)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
