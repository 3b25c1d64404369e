#!/usr/bin/python3
"""Writes the dpkg database of a sysroot that mmdebstrap --variant=extract unpacked without dpkg:
    register-packages.py SYSROOT ARCH TRIPLET SHLIBDEPS_ADMINDIR
from the .deb files left in SYSROOT/var/cache/apt/archives, reading only their control parts
(reading every package's files took minutes): each package's status, its shlibs, symbols and
triggers files, and as its file list the shared libraries those files name, which is all that
dpkg-shlibdeps looks up. SHLIBDEPS_ADMINDIR gets the same database with every listed path inside
the sysroot, for dpkg-shlibdeps run from outside it (scripts/cross/dpkg-shlibdeps).
Standard library only: one process for some hundred packages."""

import glob
import io
import os
import re
import shutil
import sys
import tarfile


def control_members(path):
    """The files of a .deb's control archive, by name."""
    with open(path, "rb") as deb:
        if deb.read(8) != b"!<arch>\n":
            raise SystemExit("%s: not a Debian package" % path)
        while True:
            header = deb.read(60)
            if len(header) < 60:
                raise SystemExit("%s: no control archive" % path)
            name = header[:16].decode().strip().rstrip("/")
            size = int(header[48:58])
            data = deb.read(size)
            deb.read(size % 2)
            if name.startswith("control.tar"):
                with tarfile.open(fileobj=io.BytesIO(data)) as archive:
                    return {os.path.basename(member.name): archive.extractfile(member).read()
                            for member in archive.getmembers() if member.isfile()}


def library_names(members):
    """The sonames a package's symbols and shlibs files describe."""
    names = set()
    for line in members.get("symbols", b"").decode().splitlines():
        match = re.match(r"([^\s#|*]\S*)\s", line)
        if match:
            names.add(match.group(1))
    for line in members.get("shlibs", b"").decode().splitlines():
        fields = line.split()
        if len(fields) >= 3 and not line.startswith("#") and fields[0] != "udeb:":
            # libfoo 6 is libfoo.so.6; libfoo 2.0-1 is libfoo-2.0-1.so.
            version = fields[1]
            names.add(fields[0] + (".so." + version if re.fullmatch(r"[0-9.]+", version)
                                   else "-" + version + ".so"))
    return names


def main():
    sysroot, arch, triplet, shlibdeps_admin = sys.argv[1:5]
    admin = os.path.join(sysroot, "var/lib/dpkg")
    info = os.path.join(admin, "info")
    os.makedirs(info, exist_ok=True)
    # The multiarch layout: a Multi-Arch: same package's files are named package:arch.*.
    with open(os.path.join(info, "format"), "w") as f:
        f.write("1\n")
    status = []
    for deb in sorted(glob.glob(os.path.join(sysroot, "var/cache/apt/archives/*.deb"))):
        members = control_members(deb)
        control = members["control"].decode().rstrip("\n")
        package = re.search(r"^Package: (\S+)$", control, re.M).group(1)
        if re.search(r"^Multi-Arch: same$", control, re.M):
            package += ":" + arch
        lines = control.split("\n")
        status.append("\n".join(lines[:1] + ["Status: install ok installed"] + lines[1:]))
        for part in ("shlibs", "symbols", "triggers"):
            if part in members:
                with open(os.path.join(info, package + "." + part), "wb") as f:
                    f.write(members[part])
        paths = [folder + "/" + name for name in sorted(library_names(members))
                 for folder in ("/lib/" + triplet, "/usr/lib/" + triplet)
                 if os.path.lexists(sysroot + folder + "/" + name)]
        with open(os.path.join(info, package + ".list"), "w") as f:
            f.writelines(path + "\n" for path in paths)
    with open(os.path.join(admin, "status"), "w") as f:
        f.write("\n\n".join(status) + "\n")

    shutil.rmtree(shlibdeps_admin, ignore_errors=True)
    shutil.copytree(admin, shlibdeps_admin, symlinks=True)
    for listing in glob.glob(os.path.join(shlibdeps_admin, "info", "*.list")):
        with open(listing) as f:
            paths = f.read().splitlines()
        with open(listing, "w") as f:
            f.writelines(sysroot + path + "\n" for path in paths)
    print("%d packages registered" % len(status))


if __name__ == "__main__":
    main()
