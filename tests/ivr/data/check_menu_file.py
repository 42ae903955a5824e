#!/usr/bin/env python3
"""Checks one language folder of the voice menus: LANGUAGE_FOLDER/Menu.cfg and its files.

check_menu_file.py LANGUAGE_FOLDER

Reads Menu.cfg the way the agent does (INI sections, names without regard to case, a
prompt section of file names one a line, a submenu section of "key,Section" lines) and
prints one line per fault; exits 1 when there is any. It checks that the root sections
and their substitutes are menus, that every menu has a known Type and a timeout the
100 ms clock reaches, that every Prompt and SubMenus section exists and every file and
every submenu target is there, that the kinds' own keys are given where the menus need
them, that no menu leads back to one above it, that no key falls through a menu to one
below it that acts on it (a PIN or phone number menu counts it, a menu with a submenu for
it jumps there), that no menu dialling out is reached from a root without passing a PIN
entry's right-PIN key S, and that every file of the folder is used.
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
# The keys of a telephone that a menu may leave to the one below it ('*' and '#' every kind
# handles itself).
KEYS = "0123456789"
# Kinds that take a key only when it is in their mask (forwarding and greeting menus only
# with admin keys allowed, which may be on), and the child menu, which never takes one: it
# hands keys on to the menu below by design.
MASKED_KINDS = {"DEFAULT", "CALLFWD", "AMGREET"}
PASSING_KINDS = {"CHILD"}
# Kinds whose submenus take their place instead of going on top of them.
REPLACED_KINDS = {"VMDELCONFIRM"}
# What a kind below does with a key that reaches it, when that is more than nothing.
COUNTING_KINDS = {"PINCODE", "PHONENBR"}
MESSAGE_KEYS = {"MSGPLAY": "123"}
# Kinds that call out through the owner's line or softphone: only behind a PIN.
DIALLING_KINDS = {"PHONENBR", "LINEATTACH"}


def expand_mask(mask):
    """The key set of a Mask value, as the agent expands it: the separators go from left to
    right, and a "-" not at the start first adds the characters between its neighbours."""
    keys = list(mask)
    i = 0
    while i < len(keys):
        c = keys[i]
        if c == "-":
            between = []
            if 0 < i < len(keys) - 1:
                between = [chr(k) for k in range(ord(keys[i - 1]) + 1, ord(keys[i + 1]))]
            keys[i:i + 1] = between
            i += len(between)
        elif c in ", ":
            del keys[i]
        else:
            i += 1
    return set(keys)


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

    def takes(entry, key):
        kind, mask, _ = entry[1:]
        if kind in PASSING_KINDS:
            return False
        return key in mask if kind in MASKED_KINDS else True

    def acts_on(entry, key):
        """What a menu below does with a key that reaches it, when that is harmful."""
        name, kind, mask, submenus = entry
        if kind in COUNTING_KINDS:
            return "counts"
        if key in MESSAGE_KEYS.get(kind, ""):
            return "takes for the message playing"
        if kind in MASKED_KINDS | REPLACED_KINDS and key in submenus and takes(entry, key):
            return f"jumps to [{submenus[key]}] on"
        return None

    def check_fall_through(stack):
        """stack: (name, kind, mask, submenus) of the menus on the caller's path, root first."""
        top = stack[-1]
        if top[1] in PASSING_KINDS:
            return
        harmed = {}  # (menu below, what it does) -> keys
        for key in KEYS:
            if takes(top, key):
                continue
            for below in reversed(stack[:-1]):
                if takes(below, key):
                    harm = acts_on(below, key)
                    if harm:
                        harmed.setdefault((below[0], harm), []).append(key)
                    break
        for (below, harm), keys in harmed.items():
            them = "it" if len(keys) == 1 else "them"
            yield_fault(f"key{'s' if len(keys) > 1 else ''} {' '.join(keys)} in [{top[0]}] fall{'' if len(keys) > 1 else 's'} "
                        f"through to [{below}], which {harm} {them}: the Mask of [{top[0]}] must take {them}")

    def check_menu(name, path, stack=(), behind_pin=False):
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
        if kind in DIALLING_KINDS and not behind_pin:
            yield_fault(f"[{name}] ({kind}) dials out without a PIN: {' > '.join(path + [name])}")
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
        here = tuple(stack) + ((name, kind, expand_mask(keys.get("mask", "0-9")), submenus),)
        check_fall_through(here)
        # Where the caller's path goes on: a confirmation menu's choice takes its place.
        under = here[:-1] if kind in REPLACED_KINDS else here
        for key, target in sorted(submenus.items()):
            behind = behind_pin or (kind == "PINCODE" and key.upper() == "S")
            check_menu(target, path + [name], under, behind)
            substitute = SUBSTITUTES.get(target.lower())
            if substitute:
                check_menu(substitute, path + [name], under, behind)

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
