"""Writes the input files of the golden cases made here (the others came with the fixtures), from
readable values, field by field:

    python3 tests/golden/make_inputs.py && \
    ZEBLIX_UPDATE_GOLDEN=1 build/test/tests/zeblix_e2e_tests --gtest_filter='Cases/Golden*'

then review the expected reports and traces before committing them.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from version_blocks import DELIMITER, EYECATCHER, FOREIGN, NATIVE, block, old_record  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def case(name, files, runs):
    os.makedirs(os.path.join(HERE, name, "input"), exist_ok=True)
    for file_name, data in files.items():
        with open(os.path.join(HERE, name, "input", file_name), "wb") as out:
            out.write(data)
    with open(os.path.join(HERE, name, "args"), "w") as out:
        out.write("\n".join(files) + "\n")
    with open(os.path.join(HERE, name, "runs"), "w") as out:
        out.write("\n".join(runs) + "\n")


# Every operating-system and file-type code, release masks and patch levels at their edges, and
# some of them written in the other byte order.
RELEASES = [0, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x0C, 0x18, 0x7F, 0x80, 0xFFFF]
PATCHES = [0, 12, -1, 0x7FFF, -32768]
codes = b"".join(block(company=b"OS %d" % code, os_code=code, file_type=code % 6,
                       release=RELEASES[code % len(RELEASES)], patch=PATCHES[code % len(PATCHES)])
                 for code in range(82))
codes += b"".join(block(FOREIGN, company=b"foreign %d" % code, os_code=code, file_type=code % 6,
                        release=RELEASES[code % len(RELEASES)], patch=PATCHES[code % len(PATCHES)])
                  for code in (1, 41, 58, 80, 81, 0x3A00))
case("xlat_all_codes", {"f.bin": codes}, ["unset", "0x402"])

# An old record's byte order is judged from its release mask alone: above 100 means foreign.
case("v5_mask_boundary", {
    "mask100.bin": old_record(release=100),
    "mask101.bin": old_record(release=101),
    "foreign0.bin": b"." * 7 + old_record(FOREIGN, release=0),
}, ["unset", "0x202"])

# Files cut at every size where the formats change meaning.
SIZES = [0, 39, 40, 43, 44, 391, 392, 1243, 1244, 1245]
whole_block, whole_old = block(company=b"Cut") + b".", old_record() + b"."
case("cut_sizes", {**{"block%04d.bin" % s: whole_block[:s] for s in SIZES},
                   **{"old%04d.bin" % s: whole_old[:s] for s in SIZES}}, ["unset", "0x401"])

# Text fields of full width have no terminator inside them: each is shown whole, nothing beyond.
case("full_width_text", {
    "old.bin": old_record(company=b"C" * 40, description=b"D" * 80, version=b"V" * 20,
                          internal=b"I" * 80, copyright=b"R" * 80, product=b"P" * 80,
                          patch=0x4141),
    "block.bin": block(company=b"C" * 40, copyright=b"R" * 512, build=b"B" * 20),
}, ["unset", "0x1002"])

# The search rule's edges, one file each: the report and, at 0x10202, every offset, candidate
# and byte-order judgement.
HIDING = b"QuorvantisXZEBLIXzeblixX"  # runs on into an eyecatcher and breaks at its 11th byte
case("scanner_edges", {
    "after_filler.bin": b"." * 7 + block(company=b"Quorvantis") + b"." * 4,
    "two_in_a_row.bin": block(company=b"A") + block(company=b"B"),
    "second_within_first.bin": block(company=b"A", compact=True) + block(company=b"B"),
    "cut_short.bin": b"." * 10 + block(company=b"A", compact=True),
    "no_closing_delimiter.bin": block(company=b"A")[:1230],
    "hidden.bin": HIDING + block(company=b"A"),
    "broken_before.bin": HIDING + b"." + block(company=b"A"),
    "eyecatcher_without_nul.bin": EYECATCHER[:39] + b"X" + b"." * 2000,
    "rejected_then_inside.bin": block(internal_id=0x12345678, compact=True) + block(company=b"B"),
    "first_magic_only.bin": old_record(company=b"First") + old_record(company=b"Second"),
    "invalid_then_old.bin": block(company=b"A")[:1000] + old_record(company=b"Fallback"),
    "valid_then_old.bin": block(company=b"A") + old_record(company=b"Never"),
    "old_mask_0x65.bin": old_record(company=b"Big mask", release=0x65),
}, ["unset", "0x10202"])

# Text is bytes: commas, quotes, line breaks, control bytes, UTF-8 and bytes that are not UTF-8.
case("odd_text", {"f.bin": block(company=b'Acme, "Inc."', description=b"two\nlines\r",
                                 version=b"\xff\xfe1.0", internal=b"tab\there\x01",
                                 product=b"caf\xc3\xa9")}, ["unset"])
