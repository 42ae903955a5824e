#!/usr/bin/env python3
"""Checks one language folder of the voice menus: LANGUAGE_FOLDER/Menu.cfg and its files.

check_menu_file.py LANGUAGE_FOLDER

Reads Menu.cfg the way the agent does (INI sections, names without regard to case, a
prompt section of file names one a line, a submenu section of "key,Section" lines) and
prints one line per fault; exits 1 when there is any. It checks that the root sections
and their substitutes are menus, that every menu has a known Type and a timeout the
100 ms clock reaches, that every Prompt and SubMenus section exists and every file and
every submenu target is there, that the kinds' own keys are given where the menus need
them, that no menu leads back to one above it, and that every file of the folder is used.
"""
import os
import sys

KINDS = {"DEFAULT", "INFO", "CHILD", "BYE", "PINCODE", "PHONENBR", "CALLFWD", "AMGREET", "MSGREC",
         "GMREC", "GMLISTEN", "DELGM", "MSGPLAY", "VMDELCONFIRM", "DELALLVM", "SPMAIL", "LINEATTACH"}
ROOTS = ["AMGreeting", "CallForward", "EnterAM", "GoodBye"]
SUBSTITUTES = {"enteram": "EnterAMAlt", "phonenumbercollect": "AttachLine"}
# Keys a kind looks up by itself (upper or lower case), and which of them it cannot do without.
NEEDED_KEYS = {"AMGREET": "T", "PINCODE": "S", "MSGPLAY": "O"}
# Files the engine plays by name, not through a prompt section.
ENGINE_FILES = {"beep.wav", "background.wav"}
VALUE_LIMIT = 510  # what a 512-byte profile buffer holds


def read_ini(path):
    """Sections by lower-case name: (name as written, list of lines)."""
    sections, current = {}, None
    with open(path, encoding="latin-1") as f:
        for raw in f:
            line = raw.strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                name = line[1:-1].strip()
                if name.lower() in sections:
                    yield_fault(f"section [{name}] appears twice")
                current = sections.setdefault(name.lower(), (name, []))
                continue
            if current is None:
                if not line.startswith(";"):
                    yield_fault(f"a line before the first section: {line}")
                continue
            if line.startswith(";"):
                yield_fault(f"a comment inside [{current[0]}] (read as data there): {line}")
            current[1].append(line)
    return sections


faults = []


def yield_fault(text):
    faults.append(text)


def values(lines):
    out = {}
    for line in lines:
        if "=" in line:
            key, value = line.split("=", 1)
            out.setdefault(key.strip().lower(), value.strip())
    return out


def main():
    folder = sys.argv[1]
    sections = read_ini(os.path.join(folder, "Menu.cfg"))
    used_files = set(ENGINE_FILES)

    def menu(name):
        entry = sections.get(name.lower())
        if entry is None:
            return None
        return values(entry[1])

    def check_menu(name, path):
        keys = menu(name)
        if keys is None:
            yield_fault(f"[{path[-1] if path else 'root'}] leads to [{name}], which is missing")
            return
        if name.lower() in (p.lower() for p in path):
            yield_fault(f"[{name}] leads back to itself: {' > '.join(path + [name])}")
            return
        kind = keys.get("type", "DEFAULT")
        if kind not in KINDS:
            yield_fault(f"[{name}] has the unknown Type {kind}")
        timeout = keys.get("selectiontimeout", "5000")
        if not timeout.isdigit() or int(timeout) % 100:
            yield_fault(f"[{name}] SelectionTimeout {timeout} is no multiple of 100 ms: it never expires")
        if not keys.get("repeat", "3").isdigit():
            yield_fault(f"[{name}] Repeat is no number")
        for key in ("type", "prompt", "submenus", "mask"):
            if len(keys.get(key, "")) > VALUE_LIMIT:
                yield_fault(f"[{name}] {key} is too long to be read")
        prompt = keys.get("prompt")
        if prompt is not None:
            entry = sections.get(prompt.lower())
            if entry is None:
                yield_fault(f"[{name}] Prompt names [{prompt}], which is missing")
            else:
                if sum(len(line) + 1 for line in entry[1]) > VALUE_LIMIT:
                    yield_fault(f"[{prompt}] is too long to be read")
                for wav in entry[1]:
                    used_files.add(wav.lower())
                    if not os.path.isfile(os.path.join(folder, wav)):
                        yield_fault(f"[{prompt}] names {wav}, which is missing")
        elif kind in {"MSGREC", "GMREC"}:
            yield_fault(f"[{name}] records only after a prompt, and has none")
        submenus = {}
        listing = keys.get("submenus")
        if listing is not None:
            entry = sections.get(listing.lower())
            if entry is None:
                yield_fault(f"[{name}] SubMenus names [{listing}], which is missing")
            else:
                for line in entry[1]:
                    if "," not in line:
                        yield_fault(f"[{listing}] line without a comma: {line}")
                        continue
                    key, target = line.split(",", 1)
                    key = key.rstrip()[-1:] if key.strip() else ""
                    if not key:
                        yield_fault(f"[{listing}] line without a key: {line}")
                        continue
                    submenus.setdefault(key, target)
        need = NEEDED_KEYS.get(kind)
        if need and need not in submenus and need.lower() not in submenus:
            yield_fault(f"[{name}] ({kind}) has no submenu for its key {need}")
        for key, target in sorted(submenus.items()):
            check_menu(target, path + [name])
            substitute = SUBSTITUTES.get(target.lower())
            if substitute:
                check_menu(substitute, path + [name])

    for root in ROOTS:
        check_menu(root, [])

    for wav in sorted(os.listdir(folder)):
        if wav.lower().endswith(".wav") and wav.lower() not in used_files:
            yield_fault(f"{wav} is used by no menu")
    for wav in sorted(ENGINE_FILES):
        if not os.path.isfile(os.path.join(folder, wav)):
            yield_fault(f"{wav} is missing")

    for fault in dict.fromkeys(faults):
        print(f"{folder}: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
