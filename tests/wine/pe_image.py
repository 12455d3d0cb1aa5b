"""Reads the parts of a 32-bit PE image the tests look at: headers, imports,
resources and COFF object sections. Plain struct parsing, no dependencies."""
import struct

RT_ICON, RT_DIALOG, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 10, 14, 16, 24


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, nsections, _, _, _, opt_size, self.characteristics) = \
            struct.unpack_from("<HHIIIHH", data, self.pe + 4)
        opt = self.pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not a PE32 image")
        self.entry_point = struct.unpack_from("<I", data, opt + 16)[0]
        (self.os_version, self.image_version, self.subsystem_version) = (
            struct.unpack_from("<HH", data, opt + 40), struct.unpack_from("<HH", data, opt + 44),
            struct.unpack_from("<HH", data, opt + 48))
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        count = struct.unpack_from("<I", data, opt + 92)[0]
        self.directories = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(count)]
        self.sections = []
        at = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, at + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), va, vsize, raw, rsize))

    # addresses
    def offset(self, rva):
        for _, va, vsize, raw, rsize in self.sections:
            if va <= rva < va + max(vsize, rsize):
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def image_end(self):
        """File offset where the headers and sections end."""
        return max(raw + rsize for _, _, _, raw, rsize in self.sections)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    # imports
    def imports(self):
        """[(dll name, [function name or ordinal int])], in table order."""
        rva, _ = self.directory(1)
        result = []
        while rva:
            lookup, _, _, name, iat = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not name:
                break
            functions = []
            thunk = lookup or iat
            while True:
                value = struct.unpack_from("<I", self.data, self.offset(thunk))[0]
                if not value:
                    break
                if value & 0x80000000:
                    functions.append(value & 0xFFFF)
                else:
                    functions.append(self.cstring(value + 2))
                thunk += 4
            result.append((self.cstring(name), functions))
            rva += 20
        return result

    # resources
    def resources(self):
        """{(type, name, language): bytes} for every resource with numeric or
        string identifiers (strings as str)."""
        base_rva, _ = self.directory(2)
        if not base_rva:
            return {}
        base = self.offset(base_rva)
        found = {}

        def name_of(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                n = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * n].decode("utf-16-le")
            return entry_name

        def walk(at, path):
            _, _, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + at)
            for i in range(named + ids):
                entry_name, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                key = path + (name_of(entry_name),)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + target)
                    start = self.offset(rva)
                    found[key] = self.data[start:start + size]

        walk(0, ())
        return found


def coff_section_names(data):
    """Section names of a COFF object file (long names resolved)."""
    _, count, _, symbols, nsymbols, opt_size, _ = struct.unpack_from("<HHIIIHH", data, 0)
    strings = symbols + 18 * nsymbols
    names = []
    for i in range(count):
        raw = data[20 + opt_size + 40 * i:20 + opt_size + 40 * i + 8].rstrip(b"\0")
        if raw.startswith(b"/"):
            at = strings + int(raw[1:])
            raw = data[at:data.index(b"\0", at)]
        names.append(raw.decode("latin-1"))
    return names
