#!/usr/bin/env python3
"""Builds Halvane's Windows Installer package for one architecture with wixl.

    make_msi.py --exe halvane.exe --icon halvane.ico --arch x64 --version 1.0.0 --out halvane-1.0.0-x64.msi

The same inputs give the same bytes. The product code and the package code
are name-based UUIDs of the version and the architecture (a new version is a
new product, which the fixed upgrade code lets replace the old one). wixl
stamps the package with a random package code and the current time, and its
cabinet takes the files' modification times: the files are staged with the
time of SOURCE_DATE_EPOCH (or --epoch), and the summary information is
rewritten in place afterwards with the derived package code and that time.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
# The upgrade code of every Halvane package; package/halvane.wxs holds it too.
UPGRADE_CODE = uuid.UUID("BA6F122D-F40A-4519-8075-6952C9A171EE")


def derived_code(version, arch, kind):
    return "{%s}" % str(uuid.uuid5(UPGRADE_CODE, "halvane %s %s %s" % (version, arch, kind))).upper()


# ---- the compound file (the MSI container) ------------------------------------------

class CompoundFile:
    """Just enough of the compound file format to find a small stream's bytes
    in the file and rewrite them in place, at the same size."""

    END_OF_CHAIN = 0xFFFFFFFE

    def __init__(self, data):
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
            raise ValueError("not a compound file")
        self.data = data
        self.sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_sector = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (fat_sectors, first_directory, _, self.mini_cutoff, first_mini_fat, mini_fat_sectors,
         first_difat, difat_sectors) = struct.unpack_from("<IIIIIIII", data, 0x2C)
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_sectors):
            entries = struct.unpack_from("<%dI" % (self.sector // 4), data, self.offset(sector))
            difat += entries[:-1]
            sector = entries[-1]
        self.fat = []
        for sector in difat[:fat_sectors]:
            self.fat += struct.unpack_from("<%dI" % (self.sector // 4), data, self.offset(sector))
        self.mini_fat = []
        for sector in self.chain(first_mini_fat)[:mini_fat_sectors]:
            self.mini_fat += struct.unpack_from("<%dI" % (self.sector // 4), data, self.offset(sector))
        self.entries = {}
        for sector in self.chain(first_directory):
            for at in range(self.offset(sector), self.offset(sector) + self.sector, 128):
                name_bytes = struct.unpack_from("<H", data, at + 64)[0]
                name = data[at:at + max(name_bytes - 2, 0)].decode("utf-16-le")
                start, size = struct.unpack_from("<IQ", data, at + 116)
                self.entries.setdefault(name, (start, size))
        root_start, _ = self.entries["Root Entry"]
        self.mini_stream = self.chain(root_start)

    def offset(self, sector):
        return (sector + 1) * self.sector

    def chain(self, sector):
        sectors = []
        while sector < self.END_OF_CHAIN and len(sectors) <= len(self.fat):
            sectors.append(sector)
            sector = self.fat[sector]
        return sectors

    def stream_offsets(self, name):
        """The file offset of every byte of a stream, in order."""
        start, size = self.entries[name]
        offsets = []
        if size < self.mini_cutoff:
            sector = start
            while sector < self.END_OF_CHAIN and len(offsets) < size:
                at = sector * self.mini_sector
                for i in range(at, at + self.mini_sector):
                    big, within = divmod(i, self.sector)
                    offsets.append(self.offset(self.mini_stream[big]) + within)
                sector = self.mini_fat[sector]
        else:
            for sector in self.chain(start):
                offsets += range(self.offset(sector), self.offset(sector) + self.sector)
        if len(offsets) < size:
            raise ValueError("stream %r is cut short" % name)
        return offsets[:size]


# ---- the summary information --------------------------------------------------------

PID_REVNUMBER, PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 11, 12, 13
VT_LPSTR, VT_FILETIME = 0x1E, 0x40


def filetime(epoch):
    return (epoch + 11644473600) * 10_000_000


def fix_summary(path, package_code, epoch):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    container = CompoundFile(bytes(data))
    offsets = container.stream_offsets("\x05SummaryInformation")
    stream = bytearray(data[i] for i in offsets)
    section = struct.unpack_from("<I", stream, 28 + 16)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at += section
        kind = struct.unpack_from("<H", stream, at)[0]
        if pid == PID_REVNUMBER and kind == VT_LPSTR:
            text = package_code.encode("ascii") + b"\0"
            if struct.unpack_from("<I", stream, at + 4)[0] != len(text):
                raise ValueError("the package code has an unexpected length")
            stream[at + 8:at + 8 + len(text)] = text
        elif pid in (PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            struct.pack_into("<Q", stream, at + 4, filetime(epoch))
    for i, byte in zip(offsets, stream):
        data[i] = byte
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--arch", required=True, choices=["x86", "x64"])
    parser.add_argument("--version", required=True, help="major.minor.patch")
    parser.add_argument("--out", required=True)
    parser.add_argument("--epoch", type=int, default=int(os.environ.get("SOURCE_DATE_EPOCH", "0") or 0),
                        help="the time stamped into the package (default: SOURCE_DATE_EPOCH)")
    args = parser.parse_args()
    if args.epoch < 315532800:  # the cabinet's dates start in 1980
        sys.exit("make_msi: give the time with --epoch or SOURCE_DATE_EPOCH")

    with tempfile.TemporaryDirectory(prefix="halvane-msi.") as stage:
        # wixl takes the files from the folder it runs in, by their plain names.
        for source, name in ((args.exe, "halvane.exe"), (args.icon, "halvane.ico"),
                             (os.path.join(HERE, "halvane.wxs"), "halvane.wxs")):
            shutil.copyfile(source, os.path.join(stage, name))
            os.utime(os.path.join(stage, name), (args.epoch, args.epoch))
        built = os.path.join(stage, "halvane.msi")
        command = ["wixl", "-a", args.arch, "-D", "Version=" + args.version,
                   "-D", "ProductCode=" + derived_code(args.version, args.arch, "product"),
                   "-o", built, "halvane.wxs"]
        result = subprocess.run(command, cwd=stage, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            sys.exit("make_msi: wixl failed:\n" + result.stderr)
        fix_summary(built, derived_code(args.version, args.arch, "package"), args.epoch)
        shutil.copyfile(built, args.out)


if __name__ == "__main__":
    main()
