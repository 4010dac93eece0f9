#!/usr/bin/env python3
"""Whether an installer wrote the registration regsvr32 writes: the keys of
ours in two exports of HKLM\\Software\\Classes, each side's DLL path and
folder as one name. The x86 registration (32-bit classes, the win32 type
library key) is left out, since a host without 32-bit programs registers no
x86 DLL by hand; instead each installed 32-bit class must name the x86 DLL.
  registry_diff.py <idl> <by hand.reg> <dll by hand> <installed.reg> <x64 dll> <x86 dll>
"""

import re
import sys

idl, by_hand, hand_dll, installed, x64_dll, x86_dll = sys.argv[1:]
ids = "|".join(re.findall(r"uuid\(([0-9A-Fa-f-]+)\)", open(idl).read())).lower()
ours = re.compile(r"\{(" + ids + r")\}|\\corvane\.[a-z]+(\\|$)")


def keys_of(path, dll):
    """{key: [lines]} of ours, lowercased, the DLL's path and folder named."""
    keys, current = {}, None
    folder = dll.rsplit("\\", 1)[0].replace("\\", "\\\\")
    for line in open(path, "rb").read().decode("utf-16").lower().splitlines():
        if line.startswith("["):
            current = keys.setdefault(line.strip("[]"), []) if ours.search(line.strip("[]")) else None
        elif current is not None and line:
            line = line.replace(dll.lower().replace("\\", "\\\\"), "<dll>").replace(f'"{folder.lower()}', '"<folder>')
            current.append(line.replace('<folder>\\\\"', '<folder>"'))
    return keys


def x64_part(keys):
    return {key: lines for key, lines in keys.items() if "\\wow6432node\\clsid\\" not in key and
            not key.endswith("\\win32")}


hand, made = x64_part(keys_of(by_hand, hand_dll)), keys_of(installed, x64_dll)
differences = [f"{key}\n  by hand:   {hand.get(key)}\n  installer: {x64_part(made).get(key)}"
               for key in sorted(set(hand) | set(x64_part(made))) if hand.get(key) != x64_part(made).get(key)]
classes = [key for key in made if re.fullmatch(r".*\\classes\\clsid\\\{[^}\\]+\}", key)]
x86 = keys_of(installed, x86_dll)


def x86_class(key):
    return x86.get(key.replace("\\clsid\\", "\\wow6432node\\clsid\\", 1) + "\\inprocserver32", [])


differences += [f"{key}: not the x86 DLL" for key in classes if '@="<dll>"' not in x86_class(key)]
print("\n".join(differences + [f"{len(hand)} keys by hand, {len(made)} installed, {len(classes)} classes"]))
sys.exit(1 if differences or not classes else 0)
