"""A Windows program file's headers and resources, read for the checks of the
release program (scripts/check-pe32, tests/package/check-resources)."""
import struct

MACHINE_I386, PE32, CONSOLE = 0x14c, 0x10b, 3


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('no MZ header')
        pe = struct.unpack_from('<I', data, 60)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        self.machine, sections, optional_size = struct.unpack_from('<HH12xH', data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from('<H', data, optional)[0]
        self.subsystem = struct.unpack_from('<H', data, optional + 68)[0]
        directories = optional + (96 if self.magic == PE32 else 112)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from('<II', data, directories + 2 * 8)
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            vsize, rva, raw_size, raw = struct.unpack_from('<IIII', data, at + 8)
            self.sections.append((rva, max(vsize, raw_size), raw))

    @classmethod
    def of_file(cls, path):
        with open(path, 'rb') as f:
            return cls(f.read())

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError('address %#x lies in no section' % rva)

    def resources(self):
        """Every resource as {(type, name): bytes}, first language only."""
        if not self.rsrc_rva:
            return {}
        base = self.offset(self.rsrc_rva)
        found = {}

        def entries(at):
            named, ids = struct.unpack_from('<HH', self.data, base + at + 12)
            for i in range(named + ids):
                key, value = struct.unpack_from('<II', self.data, base + at + 16 + 8 * i)
                yield key, value

        for type_id, type_at in entries(0):
            for name_id, name_at in entries(type_at & 0x7fffffff):
                for _, leaf in entries(name_at & 0x7fffffff):
                    rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    found[(type_id, name_id)] = self.data[self.offset(rva):self.offset(rva) + size]
                    break
        return found
