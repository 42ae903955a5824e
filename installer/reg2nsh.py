#!/usr/bin/env python3
"""Turns the default installation's registry file (data/registry/OrvinAgent.reg) into the
setup's NSIS macros, so that the file stays the one place where the defaults are kept.

    reg2nsh.py INPUT.reg OUTPUT.nsh

OUTPUT.nsh defines two macros:
  ORVIN_REGISTRY_DEFAULTS  every value of the file, each written only where that value is
                           missing (ORVIN_DEFAULT_STR / _DWORD / _BIN, defined by the setup
                           script): a fresh installation gets them all, an upgrade keeps
                           whatever the user changed.
  ORVIN_REGISTRY_REMOVE    deletes every value of the file, then every key it names and
                           their parents up to the vendor's key, deepest first, each only
                           when nothing else is left in it (other programs' values stay).

The file is REGEDIT4 text: [KEY] lines, "name"="text" (with \\ and \"), "name"=dword:HEX8
and "name"=hex:XX,XX,... (continued with a trailing backslash), ';' comments. Anything
else (deletions, the unnamed value, other value types) is refused with its line number,
rather than silently left out of the setup.
"""
import os
import re
import sys

ROOTS = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_USER": "HKCU"}


class RegError(Exception):
    pass


def logical_lines(text):
    """(line number, line) with continuation lines joined and comments dropped."""
    pending, start = "", 0
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not pending:
            start = number
            if not line or line.startswith(";"):
                continue
        if line.endswith("\\") and (pending or re.match(r'^"[^"]*"=hex', line)):
            pending += line[:-1]
            continue
        yield start, pending + line
        pending = ""
    if pending:
        raise RegError(f"line {start}: the value runs past the end of the file")


def parse_string(body, number):
    if len(body) < 2 or body[0] != '"' or body[-1] != '"':
        raise RegError(f"line {number}: a text value must be quoted")
    out, i, inner = [], 0, body[1:-1]
    while i < len(inner):
        c = inner[i]
        if c == "\\":
            if i + 1 >= len(inner) or inner[i + 1] not in '\\"':
                raise RegError(f"line {number}: unknown escape in {body}")
            out.append(inner[i + 1])
            i += 2
            continue
        if c == '"':
            raise RegError(f"line {number}: unescaped quote in {body}")
        out.append(c)
        i += 1
    return "".join(out)


def parse(text):
    """[(root, key, name, kind, value)] in file order; kind is str, dword or bin."""
    lines = list(logical_lines(text))
    if not lines or lines[0][1] != "REGEDIT4":
        raise RegError("line 1: the file must begin with REGEDIT4")
    values, root, key = [], None, None
    for number, line in lines[1:]:
        if line.startswith("["):
            m = re.fullmatch(r"\[([A-Z_]+)\\([^\]]+)\]", line)
            if not m or m.group(1) not in ROOTS:
                raise RegError(f"line {number}: unsupported key line {line}")
            root, key = ROOTS[m.group(1)], m.group(2)
            continue
        m = re.fullmatch(r'"((?:[^"\\]|\\.)+)"=(.*)', line)
        if not m:
            raise RegError(f"line {number}: unsupported line {line}")
        if key is None:
            raise RegError(f"line {number}: a value before the first key")
        name, data = parse_string('"' + m.group(1) + '"', number), m.group(2)
        if data.startswith('"'):
            values.append((root, key, name, "str", parse_string(data, number)))
        elif re.fullmatch(r"dword:[0-9A-Fa-f]{8}", data):
            values.append((root, key, name, "dword", int(data[6:], 16)))
        elif re.fullmatch(r"hex:(?:[0-9A-Fa-f]{2}(?:,[0-9A-Fa-f]{2})*)?", data):
            values.append((root, key, name, "bin", data[4:].replace(",", "").lower()))
        else:
            raise RegError(f"line {number}: unsupported value {data}")
    return values


def nsis_text(text):
    """An NSIS string in double quotes: $ and " escaped, nothing that ends a line."""
    if any(c in text for c in "\r\n"):
        raise RegError(f"a line break in {text!r}")
    return '"' + text.replace("$", "$$").replace('"', '$\\"') + '"'


def keys_to_remove(values):
    """Every key the file names and its parents below the vendor's key (never SOFTWARE
    itself), deepest first."""
    keys = []
    for root, key, *_ in values:
        while True:
            if (root, key) not in keys:
                keys.append((root, key))
            if key.count("\\") < 2:
                break
            key = key.rsplit("\\", 1)[0]
    return sorted(keys, key=lambda rk: -rk[1].count("\\"))


def render(values, source):
    out = [f"; Made at build time from {source} by installer/reg2nsh.py.",
           "; Change the registry file, not this one.", "",
           "!macro ORVIN_REGISTRY_DEFAULTS"]
    for root, key, name, kind, value in values:
        shown = nsis_text(value) if kind in ("str", "bin") else f"0x{value:08x}"
        out.append(f"    !insertmacro ORVIN_DEFAULT_{kind.upper()} {root} {nsis_text(key)} "
                   f"{nsis_text(name)} {shown}")
    out += ["!macroend", "", "!macro ORVIN_REGISTRY_REMOVE"]
    for root, key, name, *_ in values:
        out.append(f"    DeleteRegValue {root} {nsis_text(key)} {nsis_text(name)}")
    for root, key in keys_to_remove(values):
        out.append(f"    DeleteRegKey /ifempty {root} {nsis_text(key)}")
    out += ["!macroend", ""]
    return "\n".join(out)


def main(argv):
    if len(argv) != 3:
        print("usage: reg2nsh.py INPUT.reg OUTPUT.nsh", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="latin-1") as f:
            values = parse(f.read())
        if not values:
            raise RegError("no values")
        text = render(values, os.path.basename(argv[1]))
    except (OSError, RegError) as e:
        print(f"reg2nsh.py: {argv[1]}: {e}", file=sys.stderr)
        return 1
    # UTF-8 with its mark: the Unicode setup script reads included files so.
    with open(argv[2], "w", encoding="utf-8-sig", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
