#!/usr/bin/env python3
"""The Group Policy templates: they parse, every language's texts are whole, and
they write exactly the keys and values halvane.exe reads.

Usage: check_templates.py REPO. Reads package/policy (halvane.admx and one
LL-CC/halvane.adml per language), src/policy/policy_keys.h and
src/app/language_table.cpp; names every fault found and fails.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
# Windows' culture folder for each language ID Halvane speaks (1034 is Spain's
# traditional sort, still es-ES; 1044 is Bokmål, nb-NO).
CULTURES = {1033: "en-US", 1029: "cs-CZ", 1030: "da-DK", 1031: "de-DE", 1034: "es-ES", 2058: "es-MX", 1035: "fi-FI",
            1036: "fr-FR", 3084: "fr-CA", 1038: "hu-HU", 1040: "it-IT", 1041: "ja-JP", 1042: "ko-KR", 1043: "nl-NL",
            1044: "nb-NO", 1045: "pl-PL", 2070: "pt-PT", 1049: "ru-RU", 1053: "sv-SE", 1055: "tr-TR", 2052: "zh-CN",
            1028: "zh-TW"}
# The element each presentation control sets.
CONTROLS = {"listBox": "list", "dropdownList": "enum", "textBox": "text", "comboBox": "text",
            "decimalTextBox": "decimal", "longDecimalTextBox": "longDecimal", "checkBox": "boolean",
            "multiTextBox": "multiText"}
# Ask and never ask: no value may allow every site.
DEFAULT_DECISIONS = {2, 3}
# Group Policy and Intune's import take names of these alone.
NAME = re.compile(r"[A-Za-z0-9_]+\Z")
RESOURCE = re.compile(r"\$\((string|presentation)\.([^)]*)\)\Z")

repo = sys.argv[1]
policy_dir = f"{repo}/package/policy"
problems = []


def tag(element):
    return element.tag.removeprefix("{" + NS + "}")


def parse(path, root_tag):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as error:
        problems.append(f"{os.path.relpath(path, repo)}: {error}")
        return None
    if root.tag != f"{{{NS}}}{root_tag}":
        problems.append(f"{os.path.relpath(path, repo)}: the root is {root.tag}, not {root_tag} in {NS}")
        return None
    return root


def header_names():
    """policy_keys.h's names, as halvane.exe sees them."""
    with open(f"{repo}/src/policy/policy_keys.h", encoding="utf-8") as header:
        defined = re.findall(r'#define (\w+) L"((?:[^"\\]|\\.)*)"', header.read())
    return {name: re.sub(r"\\(.)", r"\1", value) for name, value in defined}


def languages():
    """The language IDs of Halvane's interface languages."""
    with open(f"{repo}/src/app/language_table.cpp", encoding="utf-8") as table:
        return [int(lang_id) for _, lang_id in re.findall(r'\{L"([a-z-]+)", (\d+)\}', table.read())]


def check_names(admx):
    for element in admx.iter():
        for attribute in ("name", "id"):
            value = element.get(attribute)
            if value is not None and not NAME.match(value):
                problems.append(f"halvane.admx: {tag(element)} {attribute}={value!r} is not letters, digits and _")
    for policy in admx.iter(f"{{{NS}}}policy"):
        if policy.get("class") != "Both":
            problems.append(f"halvane.admx: {policy.get('name')} is class={policy.get('class')!r}, not Both")


def check_references(admx):
    """Every ref is this template's own, or in a namespace it declares."""
    namespaces = admx.find(f"{{{NS}}}policyNamespaces")
    prefixes = {element.get("prefix") for element in namespaces} if namespaces is not None else set()
    own = {element.get("name") for element in admx.iter()
           if tag(element) in ("category", "definition") and element.get("name")}
    for element in admx.iter():
        ref = element.get("ref")
        if ref is None:
            continue
        prefix, _, name = ref.rpartition(":")
        if prefix and prefix not in prefixes:
            problems.append(f"halvane.admx: {ref} is in a namespace the template does not declare as a using")
        elif not prefix and name not in own:
            problems.append(f"halvane.admx: {tag(element)} refers to {ref}, which the template does not define")


def category_path(admx, strings, name):
    categories = {c.get("name"): c for c in admx.iter(f"{{{NS}}}category")}
    path = []
    while name in categories and len(path) < 10:
        display = RESOURCE.match(categories[name].get("displayName", ""))
        path.insert(0, strings.get(display.group(2), "?") if display else "?")
        parent = categories[name].find(f"{{{NS}}}parentCategory")
        name = parent.get("ref") if parent is not None else None
    return " > ".join(path)


def check_writes(admx):
    """What the templates write, against what halvane.exe reads."""
    names = header_names()
    key = names["POLICY_KEY_PATH"]
    expected = {("list", f"{key}\\{names['POLICY_ALLOWED_SITES']}", ""),
                ("list", f"{key}\\{names['POLICY_BLOCKED_SITES']}", ""),
                ("enum", key, names["POLICY_DEFAULT_DECISION"])}
    written = set()
    for policy in admx.iter(f"{{{NS}}}policy"):
        # The policy's own value, and the extra values its lists and items may write.
        for writer in [policy, *policy.iter(f"{{{NS}}}item")]:
            if writer.get("valueName") is not None:
                written.add(("value", writer.get("key", policy.get("key")), writer.get("valueName")))
        elements = policy.find(f"{{{NS}}}elements")
        for element in elements if elements is not None else []:
            written.add((tag(element), element.get("key", policy.get("key")), element.get("valueName", "")))
            if tag(element) == "list" and (element.get("valuePrefix") != "" or
                                           element.get("explicitValue", "false") != "false"):
                problems.append(f"halvane.admx: {element.get('id')} does not write values named 1, 2, 3, ...")
            if tag(element) == "enum":
                values = {int(d.get("value")) for d in element.iter(f"{{{NS}}}decimal")}
                if values != DEFAULT_DECISIONS or len(element) != len(DEFAULT_DECISIONS):
                    problems.append(f"halvane.admx: {element.get('id')} offers {sorted(values)}, not ask (3) and "
                                    "never ask (2)")
    for kind, where, value in sorted(written - expected):
        problems.append(f"halvane.admx: writes {kind} {where}{shown(value)}, which halvane.exe does not read")
    for kind, where, value in sorted(expected - written):
        problems.append(f"halvane.admx: has no {kind} for {where}{shown(value)}, which halvane.exe reads")


def shown(value):
    return f" value {value}" if value else " (values 1, 2, 3, ...)"


def check_language(admx, folder, english):
    """One ADML: every string and presentation the ADMX names, and nothing else."""
    adml = parse(f"{policy_dir}/{folder}/halvane.adml", "policyDefinitionResources")
    if adml is None:
        return None
    # The editors refuse an ADML older than the revision its ADMX asks for.
    required = admx.find(f"{{{NS}}}resources")
    if required is None or revision(adml.get("revision")) < revision(required.get("minRequiredRevision")):
        problems.append(f"{folder}: revision {adml.get('revision')} is below what halvane.admx requires")
    strings = {s.get("id"): s.text or "" for s in adml.iter(f"{{{NS}}}string")}
    presentations = {p.get("id"): p for p in adml.iter(f"{{{NS}}}presentation")}
    named = {"string": set(), "presentation": set()}
    for element in admx.iter():
        for value in element.attrib.values():
            resource = RESOURCE.match(value)
            if resource:
                named[resource.group(1)].add(resource.group(2))
    for kind, held in (("string", strings), ("presentation", presentations)):
        for name in sorted(named[kind] - set(held)):
            problems.append(f"{folder}: no {kind} {name}, which halvane.admx names")
        for name in sorted(set(held) - named[kind]):
            problems.append(f"{folder}: {kind} {name} is named nowhere in halvane.admx")
    for name, text in strings.items():
        if not NAME.match(name) or not text.strip():
            problems.append(f"{folder}: string {name!r} is badly named or empty")
        elif english and name.endswith("_Help") and text == english.get(name):
            problems.append(f"{folder}: {name} is the English text")
    for policy in admx.iter(f"{{{NS}}}policy"):
        presentation = RESOURCE.match(policy.get("presentation", ""))
        if presentation and presentation.group(2) in presentations:
            check_presentation(folder, policy, presentations[presentation.group(2)])
    return strings


def revision(text):
    """A revision as MAJOR.MINOR numbers, to compare; none or a malformed one is the lowest."""
    return tuple(int(part) for part in text.split(".")) if re.fullmatch(r"\d+\.\d+", text or "") else (-1,)


def check_presentation(folder, policy, presentation):
    """A control for each of the policy's elements, of the element's kind."""
    elements = policy.find(f"{{{NS}}}elements")
    kinds = {e.get("id"): tag(e) for e in (elements if elements is not None else [])}
    controls = {c.get("refId"): tag(c) for c in presentation if c.get("refId") is not None}
    for ref, control in controls.items():
        if CONTROLS.get(control) != kinds.get(ref):
            problems.append(f"{folder}: {presentation.get('id')}: {control} {ref} is no {CONTROLS.get(control)} of "
                            f"{policy.get('name')}")
    for ref in sorted(set(kinds) - set(controls)):
        problems.append(f"{folder}: {presentation.get('id')} shows no control for {ref}")


def main():
    admx = parse(f"{policy_dir}/halvane.admx", "policyDefinitions")
    if admx is None:
        return
    check_names(admx)
    check_references(admx)
    check_writes(admx)
    wanted = set()
    for lang_id in languages():
        if lang_id not in CULTURES:
            problems.append(f"language_table.cpp: no Windows culture folder known for language ID {lang_id}")
        wanted.add(CULTURES.get(lang_id))
    folders = {f for f in os.listdir(policy_dir) if os.path.isdir(f"{policy_dir}/{f}")}
    if folders != wanted:
        problems.append(f"package/policy: missing {sorted(wanted - folders - {None})}, "
                        f"unexpected {sorted(folders - wanted)}")
    english = check_language(admx, "en-US", None)
    for folder in sorted(folders - {"en-US"}):
        check_language(admx, folder, english)
    for policy in admx.iter(f"{{{NS}}}policy"):
        parent = policy.find(f"{{{NS}}}parentCategory")
        path = category_path(admx, english or {}, parent.get("ref") if parent is not None else None)
        if path != "Marrowin > Halvane":
            problems.append(f"halvane.admx: {policy.get('name')} is under {path!r}, not 'Marrowin > Halvane'")
    print(f"halvane.admx and {len(folders)} ADMLs read")


main()
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
