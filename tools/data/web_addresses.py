#!/usr/bin/env python3
"""Writes the web-address list of the system data.

Inputs: a list of common sites (one host name a line, most used first, '#'
starts a comment) and the public suffix list of the publicsuffix package
(ROOT/publicsuffix/usr/share/publicsuffix/public_suffix_list.dat). Every
site must end in a listed public suffix with at least one label before it,
else the run fails. A site that is exactly a registrable domain (one label
plus its public suffix) is also listed with "www." in front. Output: TSV
rows "address TAB frequency", sorted by address, UTF-8, LF; the frequency
falls with the site's place in the list (the first site gets the list
length x 10, each later one 10 less), its "www." form gets the same. With
--mail, a list of mail domains in the same form adds one row "@domain" for
each, ranked the same way among themselves, so that the text typed after
the "@" of a mail address completes.

Usage: web_addresses.py --sites FILE [--mail FILE] --root ROOT --out FILE
"""

import argparse
import os
import sys


def public_suffixes(path):
    """ICANN and private suffix rules, without wildcard and exception rules."""
    rules = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            rule = line.strip().split(" ")[0]
            if not rule or rule.startswith("//") or rule.startswith("!") or rule.startswith("*"):
                continue
            rules.add(rule.lower())
    return rules


def registrable_suffix(host, suffixes):
    """The longest public suffix of host, or None."""
    labels = host.split(".")
    for i in range(1, len(labels)):
        candidate = ".".join(labels[i:])
        if candidate in suffixes:
            return candidate
    return None


def read_hosts(path, suffixes):
    """(host, is registrable) of each listed host, in list order."""
    hosts = []
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            host = line.split("#", 1)[0].strip().lower()
            if not host:
                continue
            if not all(c.isascii() and (c.isalnum() or c in ".-") for c in host):
                sys.exit("web_addresses: %s:%d: not a host name: %r" % (path, n, host))
            suffix = registrable_suffix(host, suffixes)
            if suffix is None:
                sys.exit("web_addresses: %s:%d: %s has no public suffix" % (path, n, host))
            if any(host == h for h, _ in hosts):
                sys.exit("web_addresses: %s:%d: %s listed twice" % (path, n, host))
            hosts.append((host, host.count(".") == suffix.count(".") + 1))
    return hosts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sites", required=True)
    parser.add_argument("--mail")
    parser.add_argument("--root", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    psl = os.path.join(args.root, "publicsuffix", "usr", "share", "publicsuffix", "public_suffix_list.dat")
    if not os.path.exists(psl):
        sys.exit("web_addresses: no public suffix list at %s" % psl)
    suffixes = public_suffixes(psl)
    sites = read_hosts(args.sites, suffixes)
    mail = read_hosts(args.mail, suffixes) if args.mail else []
    rows = {}
    for rank, (host, registrable) in enumerate(sites):
        freq = (len(sites) - rank) * 10
        rows.setdefault(host, freq)
        if registrable:
            rows.setdefault("www." + host, freq)
    for rank, (domain, _) in enumerate(mail):
        rows.setdefault("@" + domain, (len(mail) - rank) * 10)
    temp = args.out + ".part"
    with open(temp, "w", encoding="utf-8", newline="\n") as out:
        for address in sorted(rows):
            out.write("%s\t%d\n" % (address, rows[address]))
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
