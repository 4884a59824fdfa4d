"""Prints the version records of a file in the zeblix report layout, read through libzeblix's C
interface with ctypes: what any language with a foreign-function interface can do.

    python3 ctypes_report.py LIBRARY FILE
"""
import ctypes
import os
import sys


class Record(ctypes.Structure):
    _fields_ = [
        ("format", ctypes.c_int),
        ("offset", ctypes.c_int64),
        ("foreign_byte_order", ctypes.c_int),
        ("company", ctypes.c_char_p),
        ("description", ctypes.c_char_p),
        ("product_version", ctypes.c_char_p),
        ("internal_name", ctypes.c_char_p),
        ("copyright", ctypes.c_char_p),
        ("product_name", ctypes.c_char_p),
        ("build_number", ctypes.c_char_p),
        ("patch_level", ctypes.c_int16),
        ("release_mask", ctypes.c_uint16),
        ("file_os", ctypes.c_uint16),
        ("file_type", ctypes.c_uint16),
        ("patch_level_text", ctypes.c_char_p),
        ("release_text", ctypes.c_char_p),
        ("os_text", ctypes.c_char_p),
        ("file_type_text", ctypes.c_char_p),
    ]


ON_RECORD = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Record), ctypes.c_void_p)


def main(library_path, path):
    library = ctypes.CDLL(library_path)
    library.zeblix_scan_file.argtypes = [ctypes.c_char_p, ON_RECORD, ctypes.c_void_p]
    library.zeblix_scan_file.restype = ctypes.c_int
    out = sys.stdout.buffer
    name = os.fsencode(path)

    def print_record(pointer, _user):
        r = pointer.contents
        lines = [
            (b"Company            ", r.company),
            (b"Description        ", r.description),
            (b"Product Version    ", r.product_version),
            (b"Internal Name      ", r.internal_name),
            (b"Copyright          ", r.copyright),
            (b"Product Name       ", r.product_name),
            (b"Patch Level        ", r.patch_level_text),
        ]
        if r.format == 6:
            lines.append((b"Build Number       ", r.build_number))
        lines += [
            (b"Release            ", r.release_text),
            (b"File OS            ", r.os_text),
            (b"File Type          ", r.file_type_text),
        ]
        out.write(b"\nQuorvantis Version Information for " + name + b"\n")
        for label, value in lines:
            out.write(b"    " + label + b"- " + value + b"\n")
        return 0

    error = library.zeblix_scan_file(name, ON_RECORD(print_record), None)
    if error != 0:
        sys.exit(f"{path}: {os.strerror(error)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
