#!/usr/bin/env python3
"""Reads the application manifest and the version block out of a Windows
program, as Windows reads them, and checks them against the program's own
machine type: Windows refuses to start a program whose manifest asks for
assemblies of another architecture, where Wine starts it anyway.

Usage: check_manifest.py PROGRAM x86|x64
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

MACHINES = {0x014C: ("x86", "x86"), 0x8664: ("x64", "amd64")}
RT_VERSION, RT_MANIFEST = 16, 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
DPI = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
VERSION_FIELDS = {
    "FileVersion": "2, 0, 6, 0",
    "ProductVersion": "2, 0, 6, 0",
    "Comments": "ZQ6140 (USBTMC) firmware update",
    "InternalName": "MeterLoad",
    "CompanyName": "Korvalen Corp.",
}


class Problem(Exception):
    pass


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Problem("not a Windows program (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise Problem("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise Problem("address 0x%x lies in no section" % rva)

    def resource(self, kind, name=None):
        """The data of the first resource of `kind` (and `name`), any language."""
        if not self.resource_rva:
            raise Problem("no resources at all")
        base = self.offset(self.resource_rva)
        path = [kind, name, None]
        at = 0
        for wanted in path:
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            entries = base + at + 16
            found = None
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, entries + 8 * i)
                if wanted is None or (not ident & 0x80000000 and ident == wanted):
                    found = target
                    break
            if found is None:
                return None
            at = found & 0x7FFFFFFF
            if not found & 0x80000000:
                break
        rva, size = struct.unpack_from("<II", self.data, base + at)
        start = self.offset(rva)
        return self.data[start:start + size]


def check_manifest(text, arch_name):
    root = ElementTree.fromstring(text)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None:
        raise Problem("the manifest names no assembly")
    for key, want in (("name", "MeterLoad"), ("version", "5.1.0.0"), ("processorArchitecture", arch_name)):
        if identity.get(key) != want:
            raise Problem("the program's %s is %r, not %r" % (key, identity.get(key), want))
    controls = [d for d in root.iter(ASM_V1 + "assemblyIdentity")
                if d.get("name") == "Microsoft.Windows.Common-Controls"]
    if not controls:
        raise Problem("no dependency on the common controls")
    for key, want in (("version", "6.0.0.0"), ("processorArchitecture", arch_name)):
        if controls[0].get(key) != want:
            raise Problem("the common controls' %s is %r, not %r" % (key, controls[0].get(key), want))
    levels = [e.get("level") for e in root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        raise Problem("requested execution level %r, not asInvoker" % levels)
    supported = {e.get("Id", "").lower() for e in root.iter(COMPAT + "supportedOS")}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in supported]
    if missing:
        raise Problem("no supportedOS entry for " + ", ".join(missing))
    aware = [(e.text or "").strip().lower() for e in root.iter(DPI + "dpiAware")]
    if aware != ["true"]:
        raise Problem("dpiAware is %r, not the system awareness 'true'" % aware)


def check_version(block):
    text = block.decode("utf-16-le", errors="replace")
    for key, value in VERSION_FIELDS.items():
        # Each string is its key, zero padding, then its value.
        at = text.find(key + "\0")
        rest = text[at + len(key):].lstrip("\0") if at >= 0 else ""
        if not rest.startswith(value + "\0"):
            raise Problem("the version block's %s is not %r" % (key, value))


def main():
    program, arch = sys.argv[1], sys.argv[2]
    try:
        with open(program, "rb") as f:
            image = Image(f.read())
        if image.machine not in MACHINES:
            raise Problem("unknown machine type 0x%04x" % image.machine)
        machine_arch, arch_name = MACHINES[image.machine]
        if machine_arch != arch:
            raise Problem("machine type is %s, but this is the %s build" % (machine_arch, arch))
        manifest = image.resource(RT_MANIFEST, 1)
        if manifest is None:
            raise Problem("no manifest resource (type 24, id 1)")
        check_manifest(manifest, arch_name)
        version = image.resource(RT_VERSION, 1)
        if version is None:
            raise Problem("no version resource")
        check_version(version)
    except (Problem, struct.error, ElementTree.ParseError) as problem:
        print("%s: %s" % (program, problem))
        return 1
    print("%s: %s program, manifest for %s: asInvoker, DPI aware, Windows 7 to 11; version block as fixed"
          % (program, machine_arch, arch_name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
