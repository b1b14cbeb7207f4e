#!/usr/bin/env python3
# Checks the "/vetrapy" object's introspection answer in a driver log: the
# document parses as XML under the introspection DOCTYPE and declares exactly
# the methods a settings tool calls, with their arguments in order.
#   check_introspect.py DRIVE-LOG HOME
import json
import sys
import xml.dom.minidom

METHODS = {
    ("org.freedesktop.DBus.Introspectable", "Introspect"): [("data", "out", "s")],
    ("org.fcitx.Fcitx.VetraPY", "UsrDictImport"): [("szFilename", "in", "s"), ("ret", "out", "b"),
                                                  ("importedWord", "out", "i")],
    ("org.fcitx.Fcitx.VetraPY", "UsrDictRestore"): [("szFilename", "in", "s"), ("ret", "out", "b")],
    ("org.fcitx.Fcitx.VetraPY", "UsrDictBackup"): [("szFilename", "in", "s"), ("ret", "out", "b"),
                                                  ("result", "out", "i")],
    ("org.fcitx.Fcitx.VetraPY", "UsrDictRemove"): [("ret", "out", "b")],
}


def main():
    log_path = sys.argv[1]
    replies = [line.rstrip("\n").split("\t", 1)[1] for line in open(log_path, encoding="utf-8")
               if line.startswith("REPLY\t")]
    if len(replies) != 1:
        sys.exit(f"expected one REPLY line, found {len(replies)}")
    dom = xml.dom.minidom.parseString(json.loads(replies[0]))
    node = dom.documentElement
    if node.tagName != "node" or node.getAttribute("name") != "/vetrapy":
        sys.exit("the root is not the node /vetrapy")
    doctype = (dom.doctype.publicId, dom.doctype.systemId) if dom.doctype else None
    if doctype != ("-//freedesktop//DTD D-BUS Object Introspection 1.0//EN",
                   "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd"):
        sys.exit(f"the DOCTYPE is not the introspection DTD: {doctype}")
    found = {}
    for iface in node.getElementsByTagName("interface"):
        for method in iface.getElementsByTagName("method"):
            args = [(a.getAttribute("name"), a.getAttribute("direction"), a.getAttribute("type"))
                    for a in method.getElementsByTagName("arg")]
            found[(iface.getAttribute("name"), method.getAttribute("name"))] = args
    if found != METHODS:
        sys.exit(f"methods differ: {found}")
    print("introspection document as expected")


if __name__ == "__main__":
    main()
