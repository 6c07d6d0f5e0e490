#!/usr/bin/env python3
"""The extension's texts: one _locales folder per language of Halvane's, each whole.

Usage: locales_test.py REPO. Every locale holds exactly the default locale's
messages, with the same placeholders, each one it uses defined; every message
the manifest and the code name is in the default locale; the panel's page has
no text of its own.
"""
import json
import os
import re
import sys

repo = sys.argv[1]
extension = f"{repo}/extension"
# Halvane's 22 languages under Firefox's names: Halvane's "no" is Bokmål, its "pt" Portugal's.
FOLDERS = {"en", "cs", "da", "de", "es", "es_MX", "fi", "fr", "fr_CA", "hu", "it", "ja", "ko", "nl", "nb", "pl",
           "pt_PT", "ru", "sv", "tr", "zh_CN", "zh_TW"}
problems = []


def load(path):
    try:
        with open(path, encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError) as error:
        problems.append(f"{os.path.relpath(path, repo)}: {error}")
        return None


def messages_of(folder):
    """The locale's messages; Firefox drops an entry that is not a message and uses the default's."""
    messages = load(f"{extension}/_locales/{folder}/messages.json")
    if not isinstance(messages, dict):
        problems.append(f"{folder}: not an object of messages")
        return None
    for name, entry in messages.items():
        if not isinstance(entry, dict) or not isinstance(entry.get("message"), str):
            problems.append(f"{folder}: {name} is not a message")
            messages[name] = {"message": ""}
    return messages


def placeholders(folder, name, entry):
    """The placeholders a message uses and those it defines, with what they stand for."""
    used = {p.lower() for p in re.findall(r"\$([A-Za-z0-9@_]+)\$", entry["message"])}
    given = entry.get("placeholders")
    defined = {p.lower(): d.get("content") if isinstance(d, dict) else d
               for p, d in (given.items() if isinstance(given, dict) else [])}
    for p in sorted(used - set(defined)):
        problems.append(f"{folder}: {name} uses ${p}$ without defining it")
    return used, defined


manifest = load(f"{extension}/manifest.json") or {}
folders = set(os.listdir(f"{extension}/_locales"))
if folders != FOLDERS:
    problems.append(f"_locales: missing {sorted(FOLDERS - folders)}, unexpected {sorted(folders - FOLDERS)}")
if manifest.get("default_locale") != "en":
    problems.append(f"manifest: default_locale is {manifest.get('default_locale')!r}, not 'en'")
locales = {folder: messages_of(folder) for folder in sorted(folders)}
reference = locales.get("en") or {}
expected = {name: placeholders("en", name, entry) for name, entry in reference.items()}

for folder, messages in locales.items():
    if messages is None:
        continue
    for name in sorted(set(reference) - set(messages)):
        problems.append(f"{folder}: no {name}")
    for name in sorted(set(messages) - set(reference)):
        problems.append(f"{folder}: {name} is not in the default locale")
    for name in sorted(set(messages) & set(reference) if folder != "en" else []):
        mine = placeholders(folder, name, messages[name])
        if mine != expected[name]:
            problems.append(f"{folder}: {name} has placeholders {mine}, the default {expected[name]}")
    # The panel's lang: the texts' own language.
    if messages.get("lang", {}).get("message") != folder.replace("_", "-"):
        problems.append(f"{folder}: lang is {messages.get('lang')}, not {folder.replace('_', '-')}")

used = set(re.findall(r"__MSG_(\w+?)__", json.dumps(manifest)))
for script in sorted(f for f in os.listdir(extension) if f.endswith(".js")):
    code = open(f"{extension}/{script}", encoding="utf-8").read()
    used |= set(re.findall(r'getMessage\(\s*"(\w+)"', code))
    if re.search(r'getMessage\(\s*[^"\s]', code):
        problems.append(f"{script}: a getMessage whose name is not written out, so it cannot be checked")
lowered = {name.lower() for name in reference}
problems += [f"no message {name} in the default locale" for name in sorted(used) if name.lower() not in lowered]


# The panel's page writes no text of its own: what it shows comes from _locales.
page = open(f"{extension}/popup.html", encoding="utf-8").read()
body = re.sub(r"<(script|style)\b.*?</\1>", "", re.search(r"<body>(.*)</body>", page, re.S).group(1), flags=re.S)
problems += [f"popup.html: {text.strip()!r} is not from _locales" for text in re.split(r"<[^>]*>", body) if text.strip()]

print("\n".join(problems) or f"{len(locales)} locales of {len(reference)} messages each, {len(used)} named in use")
sys.exit(1 if problems else 0)
