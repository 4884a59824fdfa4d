"""Version blocks and old records as products write them, from readable values, field by field;
shared by the scripts that make test inputs."""
import struct

EYECATCHER = b"QuorvantisXZEBLIXzeblixXQuorvantis61100\0"
DELIMITER = b"ZEBLIXQuorvantisXZEBLIXzeblixQuorvantis\0"
NATIVE, FOREIGN = "<", ">"  # the fixtures are read on little-endian machines


def pad(text, width):
    return text.ljust(width, b"\0")


def block(order=NATIVE, company=b"Acme", description=b"Widget", version=b"1.2.3",
          internal=b"WID", copyright=b"(c) Acme", product=b"widget", build=b"77", patch=2,
          release=0x0C, os_code=19, file_type=2, internal_id=0xDD22AACC, compact=False):
    """A block as a product writes it, every field padded to its width, or `compact`: each field
    just its bytes, followed at once by the delimiter."""
    fields = [(struct.pack(order + "I", internal_id), 4), (company, 40), (description, 40),
              (version, 20), (internal, 40), (copyright, 512), (product, 40), (build, 20),
              (struct.pack(order + "h", patch), 2), (struct.pack(order + "H", release), 2),
              (struct.pack(order + "H", os_code), 2), (struct.pack(order + "H", file_type), 2)]
    return EYECATCHER + b"".join((value if compact else pad(value, width)) + DELIMITER
                                 for value, width in fields)


def old_record(order=NATIVE, company=b"Old Co", description=b"Old widget", version=b"5.0",
               internal=b"OLDW", copyright=b"(c) Old Co", product=b"oldwidget", patch=3,
               release=8, os_code=58, file_type=1):
    return (struct.pack(order + "I", 0xDD11AACC) + pad(company, 40) + pad(description, 80) +
            pad(version, 20) + pad(internal, 80) + pad(copyright, 80) + pad(product, 80) +
            struct.pack(order + "hHHH", patch, release, os_code, file_type))
