"""The version records compiled into product files, read by libzeblix.

scan_file(path), scan_bytes(data) and scan_stream(fileobj) each return the records of one file in
file order, as zeblix reports them: every new-format block, or in a file without one the first
old-format record. inventory(paths, ...) yields what zeblix-inventory prints for the same paths
and options, one dict a line: the records inside packages, archives and images too, with their
members, identities and digests, and error lines. The GIL is released while bytes are read, and
Ctrl-C stops every scan within a tenth of a second.
"""
import base64
import json
import os
from collections.abc import Iterable, Iterator
from typing import Any, Literal, Union

from ._zeblix import (LimitExceeded, Record, __version__, _Inventory, _text_fields, scan_bytes,
                      scan_file, scan_stream)

__all__ = ["LimitExceeded", "Record", "__version__", "inventory", "scan_bytes", "scan_file",
           "scan_stream"]

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# The fields whose values are texts, which may hold bytes that are not UTF-8.
_TEXTS = frozenset(_text_fields)


def _asdict(record: Record) -> dict[str, str | int]:
    """The record as a dict, its keys zeblix-inventory's JSON keys."""
    return dict(zip(Record._fields, record))


def _as_json(record: Record) -> dict[str, Any]:
    """The record as zeblix-inventory writes it in JSON: a text that is not UTF-8 as
    {"bytes": base64 of its bytes}, so that json.dumps takes it and no byte is lost."""
    def value(key: str, field: str | int) -> Any:
        if key not in _TEXTS or not isinstance(field, str):
            return field
        raw = field.encode("utf-8", "surrogateescape")
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            return {"bytes": base64.b64encode(raw).decode("ascii")}
    return {key: value(key, field) for key, field in zip(Record._fields, record)}


setattr(Record, "_fields", Record.__match_args__)
setattr(Record, "_asdict", _asdict)
setattr(Record, "as_json", _as_json)


def _flag(name: str, value: object) -> list[bytes]:
    """A keyword as the command's long option: --name=value, --name for True, none for False or
    None, the option again for each item of a list."""
    option = "--" + name.replace("_", "-")
    if value is None or value is False:
        return []
    if value is True:
        return [option.encode()]
    if isinstance(value, (list, tuple)):
        return [arg for item in value for arg in _flag(name, item)]
    return [option.encode() + b"=" + os.fsencode(value if isinstance(value, (str, bytes, os.PathLike))
                                                 else str(value))]


def inventory(paths: Path | Iterable[Path] = (), *, jobs: int = 1,
              hash: Literal["sha256"] | None = None, empty: bool = False, archives: bool = True,
              follow: bool = False, max_depth: int | None = None, one_file_system: bool = False,
              exclude: Iterable[str] = (), exclude_fs: Iterable[str] = (),
              files_from: Path | None = None, null: bool = False, host: str | None = None,
              nice: bool = False, image_layers: Literal["squashed", "all"] | None = None,
              archive_depth: int | None = None, archive_max_bytes: int | str | None = None,
              archive_max_ratio: int | None = None, archive_max_memory: int | str | None = None,
              archive_max_stall: int | None = None, cache: Path | None = None,
              cache_max_size: int | str | None = None) -> Iterator[dict[str, Any]]:
    """What zeblix-inventory prints for the paths and options, one dict a line, in its order:
    each equal to json.loads of the command's line. The options are the command's long options
    (man zeblix-inventory), written with underscores; archives=False is --no-archives. The engine
    runs on its own thread while the lines are taken; closing the iterator (or Ctrl-C, which
    raises KeyboardInterrupt within a tenth of a second) stops it. Raises ValueError for options
    the command refuses."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    options = dict(jobs=jobs, hash=hash, empty=empty, follow=follow, max_depth=max_depth,
                   one_file_system=one_file_system, exclude=list(exclude),
                   exclude_fs=list(exclude_fs), files_from=files_from, null=null, host=host,
                   nice=nice, image_layers=image_layers, archive_depth=archive_depth,
                   archive_max_bytes=archive_max_bytes, archive_max_ratio=archive_max_ratio,
                   archive_max_memory=archive_max_memory, archive_max_stall=archive_max_stall,
                   cache=cache, cache_max_size=cache_max_size)
    args = [arg for name, value in options.items() for arg in _flag(name, value)]
    if not archives:
        args.append(b"--no-archives")
    args += [b"--"] + [os.fsencode(path) for path in paths]
    lines = _Inventory(args)
    try:
        for line in lines:
            yield json.loads(line)
    finally:
        lines.close()
