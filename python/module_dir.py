"""module_dir.py PREFIX: where below PREFIX this Python finds extension modules."""
import os
import sys
import sysconfig

prefix = sys.argv[1]
schemes = sysconfig.get_scheme_names()
if prefix == "/usr" and "deb_system" in schemes:
    scheme, base = "deb_system", prefix
elif prefix == "/usr/local" and "posix_local" in schemes:
    scheme, base = "posix_local", "/usr"
else:
    scheme, base = "posix_prefix", prefix
path = sysconfig.get_path("platlib", scheme, vars={"platbase": base, "base": base})
print(os.path.relpath(path, prefix))
