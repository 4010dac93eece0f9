#!/usr/bin/env python3
"""The release files: an installer per architecture, a zip, their checksums.

The installers write the registry by their own tables. Those rows come from
the x64 DLL's own registration (printed by registry_rows under Wine), so what
an installer writes and what regsvr32 writes cannot drift apart; the x86
rows are the same registration as a 32-bit process makes it.

  package.py --version V --rows ROWS --registered-path WINPATH --x64-dll F
             --x86-dll F --out DIR [--only x64|x86] [--sign PFX
             [--password-file F] [--timestamp URL]]
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as tree
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Stable for the product's life: every later installer upgrades the earlier.
UPGRADE_CODE = "{5C0A7E3D-2B61-4F0A-9E4C-7D1B3A8F6C21}"
# A component's id goes with its key path's location, never reused elsewhere.
COMPONENT_IDS = {
    ("x64", "x64"): "{0E7B5C14-93A2-4D1F-8B6E-2C4A9F10D351}",
    ("x64", "x86"): "{6B2D8E41-7C35-4A90-B1F2-5E3C8D9A0B62}",
    ("x64", "documents"): "{A41F0C7E-5D28-4B63-9E17-3F6B2A8C4D73}",
    ("x64", "guides"): "{1F9C3D62-8A47-4E05-B3D8-6C2E0A7F4B16}",
    ("x64", "samples"): "{7E4A2C95-0D31-4B8F-A6E2-9F5D1C3B8A27}",
    ("x86", "x86"): "{C8E3A15B-2F74-4D09-A6B1-8D5E7C2F9E84}",
    ("x86", "documents"): "{D25B7F90-4E1A-4C36-8F2D-9A6C3B1E5F95}",
    ("x86", "guides"): "{3B8E5F07-6C92-4A1D-9E4B-2D7A0F6C5E38}",
    ("x86", "samples"): "{9A1D7B3E-4F60-4C28-B5A9-0E8C2D6F7B49}",
}
MANUFACTURER = "corvane contributors"
VERSION = re.compile(r"^(0|[1-9]\d{0,2})\.(0|[1-9]\d{0,2})\.(0|[1-9]\d{0,4})$")
# The registration's keys, names and texts as the DLL writes them: keys of
# its ids and ProgIDs only, interface names, numbers, the registered path. Anything else is
# refused rather than escaped: a bracket or a leading # would be read by the
# installer as a reference or a type, and $( by wixl's preprocessor.
KEY = re.compile(r"^HKCR\\((?i:CLSID|Interface|TypeLib)\\\{[0-9A-Fa-f-]+\}|corvane\.[A-Za-z]+)(\\[A-Za-z0-9_.{}-]+)*$")
NAME = re.compile(r"^(@|[A-Za-z][A-Za-z0-9]*)$")
TEXT = re.compile(r"^[A-Za-z0-9_.{} -]*$")
DOCUMENTS = ["LICENSE", "CHANGELOG.md", "README.md"]
GUIDES = ["install.md", "troubleshooting.md", "reference.md", "security.md", "behaviour-changes.md"]
SAMPLES = ["default.asp", "browse.asp", "fetch.asp", "style.css"]


def fail(message):
    sys.exit(f"package.py: {message}")


def read_rows(path, registered_path):
    """(key below the classes root, value name or "", text, what it is)."""
    registered_folder = registered_path.rsplit("\\", 1)[0]
    rows = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            fields = line.rstrip("\r\n").split("\t")
            if len(fields) != 3:
                fail(f"{path}:{number}: not three fields")
            key, name, text = fields
            kind = "text"
            if text == registered_path:
                kind = "dll"
            elif text == registered_folder:
                kind = "folder"
            elif not TEXT.match(text):
                fail(f"{path}:{number}: a text the registration does not write: {text!r}")
            if not KEY.match(key) or not NAME.match(name):
                fail(f"{path}:{number}: a key or name the registration does not write: {key!r} {name!r}")
            rows.append((key[len("HKCR\\"):], "" if name == "@" else name, text, kind))
    if not any(kind == "dll" for *_, kind in rows):
        fail(f"{path}: no row names the registered DLL {registered_path}")
    return rows


def in_32bit_view(key):
    """Keys a 64-bit system keeps apart for 32-bit processes; the others
    (ProgIDs, type libraries) both share."""
    top = key.split("\\", 1)[0].lower()
    return top in ("clsid", "interface")


def rows_for(rows, bitness, shared_too):
    """The registration as a process of that bitness makes it: the type
    library under its own platform key."""
    chosen = []
    for key, name, text, kind in rows:
        parts = key.split("\\")
        if bitness == 32:
            parts = ["win32" if part.lower() == "win64" else part for part in parts]
        key = "\\".join(parts)
        if shared_too or in_32bit_view(key) or "win32" in parts:
            chosen.append((key, name, text, kind))
    return chosen


def element(parent, tag, **attributes):
    return tree.SubElement(parent, tag, {k: v for k, v in attributes.items() if v is not None})


def component(parent, package_arch, role, win64):
    return element(parent, "Component", Id=f"component_{role}", Guid=COMPONENT_IDS[(package_arch, role)],
                   Win64="yes" if win64 else "no")


def dll_component(folder, package_arch, dll_arch, source, rows, folder_id):
    part = component(folder, package_arch, dll_arch, dll_arch == "x64")
    file_id = f"corvane_{dll_arch}"
    element(part, "File", Id=file_id, Source=source, Name="corvane.dll", KeyPath="yes")
    for key, name, text, kind in rows:
        value = {"dll": f"[#{file_id}]", "folder": f"[{folder_id}]"}.get(kind, text)
        element(part, "RegistryValue", Root="HKLM", Key="Software\\Classes\\" + key, Name=name or None,
                Type="string", Value=value)


def documents_component(folder, package_arch):
    part = component(folder, package_arch, "documents", package_arch == "x64")
    for name in DOCUMENTS:
        element(part, "File", Id=f"document_{name.replace('.', '_')}", Source=name, Name=name,
                KeyPath="yes" if name == "LICENSE" else None)
    docs = element(folder, "Directory", Id="DOCS", Name="docs")
    guides = component(docs, package_arch, "guides", package_arch == "x64")
    for name in GUIDES:
        element(guides, "File", Id=f"guide_{name.replace('.', '_').replace('-', '_')}",
                Source=f"docs/{name}", Name=name, KeyPath="yes" if name == "install.md" else None)
    samples = element(folder, "Directory", Id="SAMPLES", Name="samples")
    pages = component(samples, package_arch, "samples", package_arch == "x64")
    for name in SAMPLES:
        element(pages, "File", Id=f"sample_{name.replace('.', '_')}", Source=f"samples/{name}", Name=name,
                KeyPath="yes" if name == "default.asp" else None)
    return ["component_documents", "component_guides", "component_samples"]


def installer_source(package_arch, version, rows, dlls):
    wix = tree.Element("Wix", xmlns="http://schemas.microsoft.com/wix/2006/wi")
    product = element(wix, "Product", Id="*", Name="corvane", Language="1033", Version=version,
                      Manufacturer=MANUFACTURER, UpgradeCode=UPGRADE_CODE)
    element(product, "Package", InstallerVersion="500", Compressed="yes", InstallScope="perMachine",
            Description=f"corvane {version} ({package_arch})", Manufacturer=MANUFACTURER)
    element(product, "MajorUpgrade", DowngradeErrorMessage="A later version of corvane is already installed.")
    if package_arch == "x86":
        element(product, "Condition", Message="This is the installer for 32-bit Windows: on 64-bit Windows, "
                "install corvane-" + version + "-x64.msi, which holds both DLLs.").text = "NOT VersionNT64"
    else:
        element(product, "Condition", Message="This installer needs 64-bit Windows.").text = "VersionNT64"
    element(product, "Media", Id="1", Cabinet="corvane.cab", EmbedCab="yes")
    element(product, "Property", Id="ARPNOMODIFY", Value="1")
    target = element(product, "Directory", Id="TARGETDIR", Name="SourceDir")
    components = []
    if package_arch == "x64":
        main = element(element(target, "Directory", Id="ProgramFiles64Folder"), "Directory", Id="INSTALLFOLDER",
                       Name="corvane")
        dll_component(main, "x64", "x64", dlls["x64"], rows_for(rows, 64, True), "INSTALLFOLDER")
        x86 = element(element(target, "Directory", Id="ProgramFilesFolder"), "Directory", Id="INSTALLFOLDER_X86",
                      Name="corvane")
        # The shared keys are the x64 component's already.
        dll_component(x86, "x64", "x86", dlls["x86"], rows_for(rows, 32, False), "INSTALLFOLDER_X86")
        components += ["component_x64", "component_x86"]
    else:
        main = element(element(target, "Directory", Id="ProgramFilesFolder"), "Directory", Id="INSTALLFOLDER",
                       Name="corvane")
        dll_component(main, "x86", "x86", dlls["x86"], rows_for(rows, 32, True), "INSTALLFOLDER")
        components.append("component_x86")
    components += documents_component(main, package_arch)
    feature = element(product, "Feature", Id="Complete", Title="corvane", Level="1")
    for name in components:
        element(feature, "ComponentRef", Id=name)
    tree.indent(wix)
    return tree.tostring(wix, encoding="unicode", xml_declaration=True)


def run(command, what):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"{what} failed (exit status {result.returncode}):\n{result.stdout}{result.stderr}")


def sign(path, arguments):
    """Authenticode, SHA-256, in place. The password goes by file: a command
    line is readable by every user of the machine."""
    signed = path + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", arguments.sign, "-h", "sha256", "-n", "corvane"]
    if arguments.password_file:
        command += ["-readpass", arguments.password_file]
    if arguments.timestamp:
        command += ["-ts", arguments.timestamp]
    run(command + ["-in", path, "-out", signed], f"signing {os.path.basename(path)}")
    os.replace(signed, path)


def file_version(path):
    """The version resource's file version, as the installer compares files."""
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        fail(f"{path} has no version resource")
    high, low = struct.unpack_from("<II", data, at + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


def build_installer(package_arch, version, rows, dlls, out, work):
    """From the staged tree in work: wixl finds sources relative to it."""
    source = os.path.join(work, f"corvane-{package_arch}.wxs")
    with open(source, "w", encoding="utf-8") as file:
        file.write(installer_source(package_arch, version, rows, dlls))
    target = os.path.join(out, f"corvane-{version}-{package_arch}.msi")
    run(["wixl", "-a", package_arch, "-o", target, source], f"wixl for {os.path.basename(target)}")
    # wixl leaves the DLLs unversioned, which would decide a repair's file
    # replacement by dates.
    for arch in ("x64", "x86") if package_arch == "x64" else ("x86",):
        dll_version = file_version(os.path.join(work, dlls[arch]))
        query = f"UPDATE `File` SET `Version` = '{dll_version}' WHERE `File` = 'corvane_{arch}'"
        run(["msibuild", target, "-q", query], "setting the DLLs' versions")
    return target


def build_zip(version, work, out):
    """The staged tree: both DLLs, the documents, the samples."""
    target = os.path.join(out, f"corvane-{version}.zip")
    top = f"corvane-{version}"
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
        for root, directories, files in os.walk(work):
            directories.sort()
            for name in sorted(files):
                path = os.path.join(root, name)
                if not name.endswith(".wxs"):
                    archive.write(path, f"{top}/{os.path.relpath(path, work)}")
    return target


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--rows", required=True)
    parser.add_argument("--registered-path", required=True)
    parser.add_argument("--x64-dll", required=True)
    parser.add_argument("--x86-dll", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--only", choices=["x64", "x86"])
    parser.add_argument("--sign")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp")
    arguments = parser.parse_args()
    if not VERSION.match(arguments.version) or any(
            int(number) > limit for number, limit in zip(arguments.version.split("."), (255, 255, 65535))):
        fail(f"the version must be major.minor.patch within 255.255.65535, not {arguments.version!r}")
    if arguments.password_file and not arguments.sign:
        fail("--password-file goes with --sign")
    if arguments.timestamp and not re.match(r"^https?://[A-Za-z0-9.:/_-]+$", arguments.timestamp):
        fail(f"the timestamp address must be an http or https URL, not {arguments.timestamp!r}")
    for path in filter(None, (arguments.sign, arguments.password_file, arguments.x64_dll, arguments.x86_dll)):
        if not os.path.isfile(path):
            fail(f"no file {path}")
    rows = read_rows(arguments.rows, arguments.registered_path)
    # Made aside and moved into place at the end: a failure leaves no part.
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as made_here:
        # The DLLs are signed before they go into the installers and the zip.
        dlls = {}
        for arch in ("x64", "x86"):
            dlls[arch] = f"{arch}/corvane.dll"
            os.makedirs(os.path.join(work, arch))
            shutil.copyfile(getattr(arguments, f"{arch}_dll"), os.path.join(work, dlls[arch]))
            if arguments.sign:
                sign(os.path.join(work, dlls[arch]), arguments)
        for name in DOCUMENTS:
            shutil.copyfile(os.path.join(SOURCE, name), os.path.join(work, name))
        for folder in ("docs", "samples"):
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(work, folder))
        made = []
        for package_arch in [arguments.only] if arguments.only else ["x64", "x86"]:
            made.append(build_installer(package_arch, arguments.version, rows, dlls, made_here, work))
            if arguments.sign:
                sign(made[-1], arguments)
        if not arguments.only:
            made.append(build_zip(arguments.version, work, made_here))
        with open(os.path.join(made_here, "SHA256SUMS"), "w", encoding="utf-8") as sums:
            for path in made:
                with open(path, "rb") as file:
                    sums.write(f"{hashlib.sha256(file.read()).hexdigest()}  {os.path.basename(path)}\n")
        os.makedirs(arguments.out, exist_ok=True)
        for name in sorted(os.listdir(made_here)):
            target = os.path.join(arguments.out, name)
            shutil.move(os.path.join(made_here, name), target)
            print(f"{target} ({os.path.getsize(target) // 1024} KiB)")

if __name__ == "__main__":
    main()
