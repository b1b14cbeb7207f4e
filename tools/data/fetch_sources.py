#!/usr/bin/env python3
"""Fetches Debian source packages of the system data into a cache and unpacks them.

Each package is downloaded once with `apt-get download` into CACHE/debs and
unpacked with `dpkg -x` into CACHE/root/<package>; a later run reuses both
(no network needed once the cache is filled). A manifest lists package,
version, file and SHA-256 of every .deb used, so that the outputs of the
data build can be traced to their exact inputs.

Usage: fetch_sources.py --cache DIR --manifest FILE PACKAGE...
Exits non-zero with a message when a package cannot be had.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print("fetch_sources: " + message, file=sys.stderr)
    sys.exit(1)


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def cached_debs(debs_dir, package):
    """Names of the cached .deb files of exactly this package."""
    return sorted(n for n in os.listdir(debs_dir)
                  if n.endswith(".deb") and n.split("_", 1)[0] == package)


def find_deb(debs_dir, package):
    """Returns the cached .deb of the package, downloading it when missing."""
    names = cached_debs(debs_dir, package)
    if not names:
        result = subprocess.run(["apt-get", "download", package], cwd=debs_dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            fail("apt-get download %s failed (is `apt-get update` done?):\n%s"
                 % (package, result.stderr.strip()))
        names = cached_debs(debs_dir, package)
        if not names:
            fail("apt-get download %s left no .deb in %s" % (package, debs_dir))
    if len(names) > 1:
        fail("several cached versions of %s in %s: %s; remove the stale ones"
             % (package, debs_dir, ", ".join(names)))
    return os.path.join(debs_dir, names[0])


def deb_field(deb, field):
    result = subprocess.run(["dpkg-deb", "-f", deb, field], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        fail("dpkg-deb cannot read %s: %s" % (deb, result.stderr.strip()))
    return result.stdout.strip()


def unpack(deb, digest, root_dir, package):
    """Unpacks into root_dir/package unless that tree came from the same .deb."""
    target = os.path.join(root_dir, package)
    marker = target + ".unpacked"
    if os.path.isdir(target) and os.path.exists(marker):
        with open(marker, encoding="utf-8") as f:
            if f.read().strip() == digest:
                return
    temp = tempfile.mkdtemp(prefix=package + ".", dir=root_dir)
    result = subprocess.run(["dpkg", "-x", deb, temp], stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        shutil.rmtree(temp, ignore_errors=True)
        fail("dpkg -x %s failed: %s" % (deb, result.stderr.strip()))
    if os.path.exists(marker):
        os.remove(marker)
    shutil.rmtree(target, ignore_errors=True)
    os.rename(temp, target)
    with open(marker, "w", encoding="utf-8") as f:
        f.write(digest + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cache", required=True)
    ap.add_argument("--manifest", required=True)
    ap.add_argument("packages", nargs="+")
    args = ap.parse_args()

    debs_dir = os.path.join(args.cache, "debs")
    root_dir = os.path.join(args.cache, "root")
    os.makedirs(debs_dir, exist_ok=True)
    os.makedirs(root_dir, exist_ok=True)
    rows = []
    for package in sorted(set(args.packages)):
        deb = find_deb(debs_dir, package)
        digest = sha256_of(deb)
        unpack(deb, digest, root_dir, package)
        rows.append((package, deb_field(deb, "Version"), os.path.basename(deb), digest))

    temp = args.manifest + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        f.write("# package\tversion\tfile\tsha256\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    os.replace(temp, args.manifest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
