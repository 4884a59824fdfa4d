"""packages_below.py FOLDER PRODUCT VERSION: every package in FOLDER (.deb, .rpm, images) that
holds PRODUCT below VERSION, versions compared as sort -V compares them."""
import subprocess
import sys

import zeblix

folder, product, version = sys.argv[1:4]
below = subprocess.run(["zeblix-inventory", "--version-key", version], capture_output=True,
                       text=True, check=True).stdout.strip()
found = {(line["package"]["purl"], line["product_version"]) for line in zeblix.inventory(folder)
         if line.get("product_name") == product and "package" in line
         and line.get("product_version_key", "") < below}
for purl, product_version in sorted(found):
    print(purl, product_version)
