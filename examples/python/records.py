"""records.py FILE...: each file's version records, every way the module reads them, as JSON."""
import json
import mmap
import sys

import zeblix

for path in sys.argv[1:]:
    records = zeblix.scan_file(path, limit=1 << 30)
    with open(path, "rb") as file:
        with mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
            assert zeblix.scan_bytes(mapped) == records
        file.seek(0)
        assert zeblix.scan_stream(file) == records
    for record in records:
        print(json.dumps({"path": path, **record.as_json()}))
        print(record.product_name, record._asdict()["product_version"], record._fields[0])
