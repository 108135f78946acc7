#!/usr/bin/env python3
"""Writes the seed corpus for attach_result_fuzz: attach answers of the
shapes hdiutil gives and of the shapes it must survive."""
import os
import plistlib

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(here, exist_ok=True)


def entity(mount_point=None, **extra):
    e = {"content-hint": "Apple_HFS", "dev-entry": "/dev/disk4s1", **extra}
    if mount_point is not None:
        e["mount-point"] = mount_point
    return e


def nested(depth):
    value = "leaf"
    for _ in range(depth):
        value = [value]
    return value


seeds = {
    "two_entities": {"system-entities": [entity(potentially_mountable=False), entity("/Volumes/Sample")]},
    "empty_mount_point": {"system-entities": [entity(""), entity("/Volumes/Next")]},
    "missing_mount_point": {"system-entities": [entity(), entity()]},
    "wrong_types": {"system-entities": [{"mount-point": 7}, {"mount-point": ["/Volumes/X"]}, {"mount-point": b"\x00"}]},
    "entities_not_array": {"system-entities": {"mount-point": "/Volumes/X"}},
    "root_array": [entity("/Volumes/X")],
    "deep_nesting": {"system-entities": [entity("/Volumes/Deep", deep=nested(200))]},
    "huge_array": {"system-entities": [entity() for _ in range(2000)] + [entity("/Volumes/Last")]},
    "many_types": {"system-entities": [entity("/Volumes/T", n=1, f=1.5, b=True, d=b"data", t=__import__("datetime").datetime(2020, 1, 1))]},
}
for name, value in seeds.items():
    with open(os.path.join(here, name + ".xml"), "wb") as out:
        plistlib.dump(value, out, fmt=plistlib.FMT_XML)
    with open(os.path.join(here, name + ".bin"), "wb") as out:
        plistlib.dump(value, out, fmt=plistlib.FMT_BINARY)

# libplist 2.2 asserts when a string or key with a NUL byte inside is read out.
with open(os.path.join(here, "nul_in_string.xml"), "wb") as out:
    out.write(b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
              b"<key>system-entities</key><array><dict><key>k\x00ey</key><string>v</string>"
              b"<key>mount-point</key><string>/Volumes/a\x00b</string></dict></array></dict></plist>\n")

with open(os.path.join(here, "two_entities.xml"), "rb") as f:
    xml = f.read()
with open(os.path.join(here, "warnings_around.txt"), "wb") as out:
    out.write(b"hdiutil: attach: WARNING: this image is old\n" + xml + b"\ntrailing text\n")
with open(os.path.join(here, "empty.input"), "wb") as out:
    pass
