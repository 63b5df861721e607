#!/usr/bin/python3
"""The manifest rules held against the screen reader's own reader.

Usage: differential_test.py PROBE [COUNT [SEED]]

Feeds the rules (PROBE, the manifest_rules_probe program) texts made from the shared corpus of real
manifests and from a generator of ConfigObj's syntax, then asks ConfigObj, read as NVDA reads a
manifest (UTF-8, list values on), about each old and new text:
- a text ConfigObj refuses is left alone as failed, with no question;
- a rewritten text parses, its top-level lastTestedNVDAVersion reads as the version, and every other
  value at every level reads as before;
- the question is asked exactly when the text has no top-level key;
- the outcome is the one the reading gives: skipped for a minimum above the version or a key that
  already reads as it, failed for a key that holds a list or a value over several lines, rewritten
  otherwise.
Prints one line per disagreement (at most 20) and a summary; exits 1 on any disagreement.
"""

import io
import os
import random
import re
import struct
import subprocess
import sys

import configobj

VERSION = "2036.1.1"
KEY = "lastTestedNVDAVersion"
MINIMUM = "minimumNVDAVersion"
REWRITTEN, SKIPPED, FAILED = 0, 1, 2
NAMES = {REWRITTEN: "rewritten", SKIPPED: "skipped", FAILED: "failed"}


def read(text):
    """The text as NVDA's ConfigObj reads it, or None when it refuses it."""
    try:
        return configobj.ConfigObj(io.BytesIO(text.encode("utf-8")), encoding="utf-8")
    except Exception:  # any refusal: NVDA then loads nothing of the add-on
        return None


def version_numbers(value):
    if value == "0":
        return (0, 0, 0)
    match = re.fullmatch(r"([0-9]{4})\.([0-9])(?:\.([0-9]))?", value)
    if not match:
        return None
    return (int(match[1]), int(match[2]), int(match[3] or 0))


def expected(text, config):
    """The outcome the reading gives, and whether the question is asked."""
    if text in ("", "\ufeff"):
        return SKIPPED, False
    if config is None:
        return FAILED, False
    minimum = config.get(MINIMUM) if MINIMUM in config.scalars else None
    if isinstance(minimum, str):
        numbers = version_numbers(minimum)
        if numbers and numbers > version_numbers(VERSION):
            return SKIPPED, False
    if KEY not in config.scalars:
        # A section of the key's name takes the added key's place: the new text no longer parses.
        return (FAILED if KEY in config.sections else REWRITTEN), True
    value = config[KEY]
    if isinstance(value, list) or "\n" in value:
        return FAILED, False
    return (SKIPPED if value == VERSION else REWRITTEN), False


def without_key(config):
    values = config.dict()
    values.pop(KEY, None)
    return values


def check(text, outcome, asked, new_text):
    """The disagreement between the rules and ConfigObj about one text, or None."""
    old = read(text)
    want, want_asked = expected(text, old)
    if outcome != want or asked != want_asked:
        return "%s%s, ConfigObj says %s%s" % (
            NAMES[outcome], " (asked)" if asked else "", NAMES[want], " (asked)" if want_asked else "")
    if outcome != REWRITTEN:
        return None if new_text == "" else "a text left alone came with a new text"
    new = read(new_text)
    if new is None:
        return "the new text does not parse: %r" % new_text
    if KEY not in new.scalars or new[KEY] != VERSION:
        return "the key reads %r in %r" % (new.get(KEY), new_text)
    if without_key(new) != without_key(old):
        return "other values changed in %r" % new_text
    return None


# The pieces the generator makes lines of.
SPACES = [" ", "\t", "", "  ", "\u00a0", "\u3000", "\x1f", "\u2009"]
KEYS = [KEY, KEY, MINIMUM, "name", "summary", "description", '"%s"' % KEY, "'%s'" % KEY, KEY.lower(),
        "x y", '"a=b"', "version"]
VALUES = ["2023.1", '"2023.1"', "'2024.1.2'", "2023.1\"", '"2023.1', "2023.1, 2024.1", "a,", ",", '""', "",
          '"""x"""', "'''x'''", '"""', "'''", "\"Press ''' to start\"", 's # has a """ in a comment',
          "2040.1 # needs the new API", '"2040.1" # needs', "2040.1", "0", VERSION, "x#y", '"a"b"',
          "'q' # c", "1.0", "2036.1", "a, b, c", '"a", "b",', "a , , b", "# only a comment",
          "'''one''' # c", '"""a""" b"""', "text with ''' inside", "2040.10", "None"]
OTHER_LINES = ["[s]", "[compat]", "[[sub]]", "[ \"q s\" ]", "[a] # c", "[[x]", "[s", "# comment", "",
               "   ", "no equals", '"""', "'''", "end\"\"\"", "end''' # c", "closing \"\"\" later",
               "  = 1", "=x", "[lastTestedNVDAVersion]", "[s] x"]
BREAKS = ["\n", "\r\n", "\r", "\x0c", "\u2028", "\x85", "\x0b", "\x1c", "\u2029"]


def generated(rng):
    lines = []
    for _ in range(rng.randint(0, 8)):
        if rng.random() < 0.65:
            indent = rng.choice(SPACES) if rng.random() < 0.3 else ""
            line = (indent + rng.choice(KEYS) + rng.choice(SPACES) + "=" + rng.choice(SPACES) +
                    rng.choice(VALUES) + (rng.choice(SPACES) if rng.random() < 0.2 else ""))
        else:
            line = rng.choice(OTHER_LINES)
        lines.append(line)
    breaks = [rng.choice(BREAKS) for _ in lines]
    if rng.random() < 0.5:
        breaks = [breaks[0]] * len(lines) if lines else breaks
    text = "".join(line + end for line, end in zip(lines, breaks))
    if lines and rng.random() < 0.3:
        text = text[: -len(breaks[-1])]
    if rng.random() < 0.15:
        text = "\ufeff" + text
    if rng.random() < 0.2:
        # Long runs of white space, where a lazy search would rescan a run at every stop.
        text = re.sub(r"[ \t]", lambda m: "".join(rng.choice(SPACES) for _ in range(rng.randint(1, 30))), text)
    return text


def mutated(rng, text):
    """A real manifest with one of the changes that the rules must follow."""
    lines = text.splitlines(True)
    choice = rng.randrange(7)
    if choice == 0:
        return text.replace("\n", rng.choice(BREAKS))
    if choice == 1:
        return "\ufeff" + text
    if choice == 2:
        return "".join(line for line in lines if not line.lstrip().startswith(KEY))
    if choice == 3 and lines:
        at = rng.randrange(len(lines) + 1)
        return "".join(lines[:at]) + rng.choice(KEYS) + " = " + rng.choice(VALUES) + "\n" + "".join(lines[at:])
    if choice == 4:
        return text + "\n[extra]\n%s = 1.0\n" % KEY
    if choice == 5:
        return re.sub(r"(?m)^(\s*%s\s*=\s*)(.*)$" % KEY, lambda m: m[1] + rng.choice(VALUES), text)
    return text


def corpus_texts():
    shared = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "corpus")
    texts = []
    if not os.path.isdir(shared):
        print("differential test: no shared corpus beside the repository; generated texts only")
        return texts
    for folder in sorted(os.listdir(shared)):
        for name in sorted(os.listdir(os.path.join(shared, folder))):
            with open(os.path.join(shared, folder, name), "rb") as file:
                data = file.read()
            try:
                texts.append(data.decode("utf-8"))
            except UnicodeDecodeError:
                pass  # the file tests hold what the rules never see
    return texts


def run_probe(probe, texts):
    request = b"".join(struct.pack("<I", len(data)) + data for data in (t.encode("utf-8") for t in texts))
    reply = subprocess.run([probe, VERSION], input=request, stdout=subprocess.PIPE, check=True).stdout
    results, at = [], 0
    while at < len(reply):
        outcome, asked, size = struct.unpack_from("<BBI", reply, at)
        at += 6
        results.append((outcome, bool(asked), reply[at:at + size].decode("utf-8")))
        at += size
    if len(results) != len(texts):
        raise SystemExit("the probe answered %d of %d texts" % (len(results), len(texts)))
    return results


def main():
    probe = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 4000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 2026)
    real = corpus_texts()
    texts = list(real)
    texts += [mutated(rng, rng.choice(real)) for _ in range(count // 4)] if real else []
    texts += [generated(rng) for _ in range(count - len(texts))]
    results = run_probe(probe, texts)
    faults = 0
    tally = {REWRITTEN: 0, SKIPPED: 0, FAILED: 0}
    for text, (outcome, asked, new_text) in zip(texts, results):
        tally[outcome] += 1
        fault = check(text, outcome, asked, new_text)
        if fault:
            faults += 1
            if faults <= 20:
                print("%r: %s" % (text, fault))
    print("%d texts (%d real): %d rewritten, %d skipped, %d failed; %d disagreements with ConfigObj" % (
        len(texts), len(real), tally[REWRITTEN], tally[SKIPPED], tally[FAILED], faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
