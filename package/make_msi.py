#!/usr/bin/python3
"""Builds Halvane's Windows Installer package for one architecture with wixl.

    make_msi.py --exe halvane.exe --host halvane-host.exe --icon halvane.ico --arch x64 --version 1.0.1 \
                --out halvane-1.0.1-x64.msi [--readme-out README.txt]

The same inputs give the same bytes, and packages that differ in any byte
have different codes. The package is built twice: first with a placeholder
product code, whose bytes (every file, the cabinet's times, the tables, the
summary's times: everything but the two codes) name the product; then with
that product code. So a rebuild at another commit time, or with other tools,
is another product, which the upgrade rules let replace an installed one of
the same version; Windows Installer would refuse a package that kept the
installed product's code with another package code (error 1638). The package
code is a name-based UUID of the finished package's own bytes.

wixl stamps the package with a random package code and the current time, and
its cabinet takes the files' modification times: the files are staged with
the time of SOURCE_DATE_EPOCH (or --epoch), and the summary information is
rewritten in place afterwards (with olefile). What wixl cannot write, msibuild
(msitools) adds: the exes' own versions in the File table, as WiX would, and
the inclusive upper bound of the same-version Upgrade row.

README.txt is installed too, with the version, the architecture and both
codes filled in; --readme-out writes that text for the zip.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

import olefile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
# The upgrade code of every Halvane package; package/halvane.wxs holds it too.
UPGRADE_CODE = uuid.UUID("BA6F122D-F40A-4519-8075-6952C9A171EE")
# Text files the package installs beside the program (name in the package: file in the repository).
DOCUMENTS = {"LICENSE.txt": "LICENSE", "THIRD-PARTY-NOTICES.txt": "THIRD-PARTY-NOTICES.txt"}
README = os.path.join(HERE, "README.txt")
# The Upgrade row that finds this very version (package/halvane.wxs).
SAME_VERSION_PROPERTY = "HALVANE_SAME_VERSION"
VERSION_MIN_INCLUSIVE, VERSION_MAX_INCLUSIVE = 0x100, 0x200
# The browser host's names, as the host itself has them.
HOST_IDENTITY = os.path.join(REPO, "src", "host", "host_identity.h")
SUMMARY = "\x05SummaryInformation"
PLACEHOLDER_CODE = "{00000000-0000-0000-0000-000000000000}"


def code(kind, digest):
    return "{%s}" % str(uuid.uuid5(UPGRADE_CODE, "halvane %s %s" % (kind, digest))).upper()


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def readme(version, arch, product_code):
    with open(README, encoding="utf-8") as f:
        text = f.read()
    for name, value in (("VERSION", version), ("ARCH", arch), ("PRODUCTCODE", product_code),
                        ("UPGRADECODE", "{%s}" % str(UPGRADE_CODE).upper())):
        text = text.replace("@%s@" % name, value)
    return crlf(text.encode("utf-8"))


def host_identity():
    """The host's #define HALVANE_... "text" values, by name without the prefix."""
    with open(HOST_IDENTITY, encoding="utf-8") as f:
        found = re.findall(r'^#define HALVANE_(\w+) "((?:[^"\\]|\\.)*)"', f.read(), re.MULTILINE)
    return {name: text.replace("\\\\", "\\") for name, text in found}


def host_manifest(identity):
    """Firefox's manifest for the installed host. Its path is relative: on
    Windows, Firefox takes it from the manifest's own folder."""
    manifest = {"name": identity["HOST_NAME"], "description": identity["HOST_DESCRIPTION"],
                "path": identity["HOST_EXE"], "type": "stdio", "allowed_extensions": [identity["EXTENSION_ID"]]}
    return (json.dumps(manifest, indent=2) + "\n").encode("utf-8")


# ---- the exe's version record --------------------------------------------------------

def file_version(path):
    """(version, language) of a PE file's version record, as Windows Installer
    compares them, or None for a file without one."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    key = "Translation".encode("utf-16-le") + b"\0\0"
    var = data.find(key, at)
    if var < 0:
        return version, "0"
    value = (var + len(key) + 3) & ~3  # the value starts on a 32-bit boundary
    return version, str(struct.unpack_from("<H", data, value)[0])


def fix_tables(msi, stage, files, version):
    """Gives versioned files (file id: name) their version, dropping the hash
    Windows Installer keeps for unversioned files only, and makes both bounds
    of the same-version Upgrade row inclusive (wixl ignores IncludeMaximum;
    the row's attributes are part of its key, so it is written anew)."""
    queries = ["-q", "DELETE FROM `Upgrade` WHERE `ActionProperty` = '%s'" % SAME_VERSION_PROPERTY,
               "-q", "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty`)"
               " VALUES ('{%s}', '%s', '%s', %d, '%s')" % (str(UPGRADE_CODE).upper(), version, version,
                                                          VERSION_MIN_INCLUSIVE | VERSION_MAX_INCLUSIVE,
                                                          SAME_VERSION_PROPERTY)]
    for key, name in files.items():
        found = file_version(os.path.join(stage, name))
        if found:
            queries += ["-q", "UPDATE `File` SET `Version` = '%s', `Language` = '%s' WHERE `File` = '%s'"
                        % (found[0], found[1], key),
                        "-q", "DELETE FROM `MsiFileHash` WHERE `File_` = '%s'" % key]
    subprocess.run(["msibuild", msi] + queries, check=True)


# ---- the summary information --------------------------------------------------------

PID_REVNUMBER, PID_LASTPRINTED, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 11, 12, 13
VT_LPSTR, VT_FILETIME = 0x1E, 0x40


def filetime(epoch):
    return (epoch + 11644473600) * 10_000_000


def fix_summary(path, package_code, epoch):
    """Writes the package code and the times into the summary information,
    in place and at the same size."""
    ole = olefile.OleFileIO(path, write_mode=True)
    try:
        stream = bytearray(ole.openstream(SUMMARY).read())
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
        ole.write_stream(SUMMARY, bytes(stream))
    finally:
        ole.close()


def build(stage, args, identity, product_code):
    """The package with this product code and the placeholder package code, as bytes."""
    with open(os.path.join(stage, "README.txt"), "wb") as out:
        out.write(readme(args.version, args.arch, product_code))
    os.utime(os.path.join(stage, "README.txt"), (args.epoch, args.epoch))
    built = os.path.join(stage, "halvane.msi")
    command = ["wixl", "-a", args.arch, "-D", "Version=" + args.version,
               "-D", "ProductCode=" + product_code, "-D", "HostExe=" + identity["HOST_EXE"],
               "-D", "HostManifest=" + identity["HOST_MANIFEST"], "-D", "HostKey=" + identity["HOST_KEY"],
               "-o", built, "halvane.wxs"]
    result = subprocess.run(command, cwd=stage, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("make_msi: wixl failed:\n" + result.stderr)
    # The exes' file ids in halvane.wxs.
    fix_tables(built, stage, {"halvane.exe": "halvane.exe", "halvane_host.exe": identity["HOST_EXE"]}, args.version)
    fix_summary(built, PLACEHOLDER_CODE, args.epoch)
    with open(built, "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--host", required=True, help="halvane-host.exe")
    parser.add_argument("--icon", required=True)
    parser.add_argument("--arch", required=True, choices=["x86", "x64"])
    parser.add_argument("--version", required=True, help="major.minor.patch")
    parser.add_argument("--out", required=True)
    parser.add_argument("--readme-out", help="where to write the README.txt the package installs")
    parser.add_argument("--epoch", type=int, default=int(os.environ.get("SOURCE_DATE_EPOCH", "0") or 0),
                        help="the time stamped into the package (default: SOURCE_DATE_EPOCH)")
    args = parser.parse_args()
    if args.epoch < 315532800:  # the cabinet's dates start in 1980
        sys.exit("make_msi: give the time with --epoch or SOURCE_DATE_EPOCH")

    with tempfile.TemporaryDirectory(prefix="halvane-msi.") as stage:
        # wixl takes the files from the folder it runs in, by their plain names.
        identity = host_identity()
        files = {"halvane.exe": args.exe, identity["HOST_EXE"]: args.host, "halvane.ico": args.icon,
                 "halvane.wxs": os.path.join(HERE, "halvane.wxs")}
        for name, source in files.items():
            shutil.copyfile(source, os.path.join(stage, name))
        made = {identity["HOST_MANIFEST"]: host_manifest(identity)}
        for name, source in DOCUMENTS.items():
            with open(os.path.join(REPO, source), "rb") as f:
                made[name] = crlf(f.read())
        for name, data in made.items():
            with open(os.path.join(stage, name), "wb") as out:
                out.write(data)
        for name in list(files) + list(made):
            os.utime(os.path.join(stage, name), (args.epoch, args.epoch))

        draft = build(stage, args, identity, PLACEHOLDER_CODE)
        product_code = code("product", hashlib.sha256(draft).hexdigest())
        final = build(stage, args, identity, product_code)
        built = os.path.join(stage, "halvane.msi")
        fix_summary(built, code("package", hashlib.sha256(final).hexdigest()), args.epoch)
        shutil.copyfile(built, args.out)
        if args.readme_out:
            shutil.copyfile(os.path.join(stage, "README.txt"), args.readme_out)
        print("make_msi: %s: product code %s" % (os.path.basename(args.out), product_code))


if __name__ == "__main__":
    main()
