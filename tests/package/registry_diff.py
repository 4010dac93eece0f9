#!/usr/bin/env python3
"""Whether an installer wrote the registration regsvr32 writes.

Both exports are of HKLM\\Software\\Classes. The keys of ours (by the ids in
the IDL and the ProgIDs) must match once each side's DLL path is one name;
the x86 registration (the 32-bit classes, the win32 type library key) is
left out of that comparison, since a host that runs no 32-bit programs
registers no x86 DLL by hand, and checked on its own: every class in the
32-bit view names the installed x86 DLL.
  registry_diff.py <idl> <by hand.reg> <dll by hand> <installed.reg> <x64 dll> <x86 dll>
"""

import re
import sys


def keys_of(path):
    """{key: {name: value}} from a regedit export, names and keys lowercased."""
    text = open(path, "rb").read().decode("utf-16").replace("\r", "")
    keys, current = {}, None
    for line in text.split("\n"):
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1].lower(), {})
        elif current is not None and "=" in line:
            name, value = line.split("=", 1)
            current[name.lower()] = value.replace("\\\\", "\\")
    return keys


def ours(keys, ids):
    pattern = re.compile(r"\{(" + "|".join(ids) + r")\}|\\corvane\.[a-z]+(\\|$)")
    return {key: values for key, values in keys.items() if pattern.search(key)}


def x86_part(key):
    return "\\wow6432node\\clsid\\" in key or key.endswith("\\win32")


def normalized(keys, paths):
    """Each DLL path and its folder (with or without the closing backslash:
    an installer's folder references end with one) as one name."""
    result = {}
    for key, values in keys.items():
        if x86_part(key):
            continue
        mapped = {}
        for name, value in values.items():
            for dll, label in paths:
                folder = dll.rsplit("\\", 1)[0]
                value = value.replace(f'"{dll}"', f'"<{label}>"').replace(f'"{folder}\\"', f'"<{label} folder>"')
                value = value.replace(f'"{folder}"', f'"<{label} folder>"')
            mapped[name] = value
        result[key] = mapped
    return result


def main():
    idl, by_hand, dll_by_hand, installed, x64_dll, x86_dll = sys.argv[1:]
    ids = [match.lower() for match in re.findall(r"uuid\(([0-9A-Fa-f-]+)\)", open(idl).read())]
    hand = normalized(ours(keys_of(by_hand), ids), [(dll_by_hand, "x64 dll")])
    installed_keys = ours(keys_of(installed), ids)
    made = normalized(installed_keys, [(x64_dll, "x64 dll")])
    differences = []
    for key in sorted(set(hand) | set(made)):
        if hand.get(key) != made.get(key):
            differences.append(f"{key}\n  by hand:   {hand.get(key)}\n  installer: {made.get(key)}")
    classes = [key for key in installed_keys if re.search(r"^hkey_local_machine\\software\\classes\\clsid\\\{[^}]+\}$", key)]
    for key in classes:
        x86 = key.replace("\\classes\\clsid\\", "\\classes\\wow6432node\\clsid\\") + "\\inprocserver32"
        if installed_keys.get(x86, {}).get("@") != f'"{x86_dll}"':
            differences.append(f"{x86}: {installed_keys.get(x86)} does not name the x86 DLL")
    for line in differences:
        print(line)
    print(f"{len(hand)} keys by hand, {len(made)} by the installer, {len(classes)} classes, "
          f"{len(differences)} differences")
    return 1 if differences or not classes else 0


if __name__ == "__main__":
    sys.exit(main())
