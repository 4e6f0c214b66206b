#!/usr/bin/env python3
"""Fails when a function in the given C++ trees is longer than the limit.

A brace-counting heuristic, good enough for this code base's style: comments,
string and character literals are blanked out, then every brace that opens a
body is classified by the text in front of it. A body whose header ends in a
parameter list (with optional qualifiers, a trailing return type or a
constructor's initializer list) and is not a control statement is a function;
its length runs from the first line of its header to its closing brace. Bodies
inside a function (lambdas, local classes) count towards that function.

usage: check-function-length.py [--max N] [--list K] DIR...
"""
import argparse
import os
import re
import sys

SOURCE_ENDINGS = (".cpp", ".h", ".hpp", ".cc")
CONTROL = re.compile(r"^(if|for|while|switch|catch|else|do|try|return|sizeof|decltype|alignof|noexcept|"
                     r"static_assert|requires)\b")
CONTAINER = re.compile(r"\b(namespace|class|struct|union|enum)\b[^()]*$")
QUALIFIERS = re.compile(r"\)\s*(const|noexcept(\([^()]*\))?|override|final|mutable|volatile|&|&&|\s)*"
                        r"(->\s*[\w:<>,\s*&]+)?$")


def blank_literals(text):
    """Comments and literals become spaces; newlines stay, so line numbers hold."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = ")" + m.group(1) + '"'
            j = text.find(end, i + m.end())
            j = n if j < 0 else j + len(end)
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:j]))
            i = j
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # digit separator 1'000
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * max(0, j - i - 2) + c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def strip_preprocessor(text):
    return re.sub(r"^[ \t]*#.*?(?<!\\)$", lambda m: " " * len(m.group(0)), text, flags=re.M | re.S)


def header_is_function(header):
    header = " ".join(header.split())
    if not header or CONTROL.match(header) or CONTAINER.search(header):
        return False
    if header.endswith("=") or header.endswith("]") or "= [" in header:
        return False
    # A constructor's initializer list: "Name(args) : member(x), other{y}"
    init = re.search(r"\)\s*(noexcept\s*)?:(?!:)", header)
    if init and re.match(r"^[\w:<>,~\s*&]*\(", header):
        return True
    if "(" not in header:
        return False
    if QUALIFIERS.search(header) is None:
        return False
    before = header[:header.find("(")].strip()
    # The name in front of the parameter list: an identifier, an operator or a destructor.
    return re.search(r"(~?\w+|operator\s*\S+)$", before) is not None and not before.endswith("]")


def functions(path):
    with open(path, encoding="utf-8", errors="replace") as handle:
        text = strip_preprocessor(blank_literals(handle.read()))
    stack = []  # per open brace: (kind, start line)
    header_start = 0
    found = []
    line = 1
    in_function = 0
    for index, c in enumerate(text):
        if c == "\n":
            line += 1
        elif c == "{":
            header = text[header_start:index]
            kind = "block"
            if in_function == 0 and header_is_function(header):
                kind = "function"
                in_function += 1
                first_text = len(header) - len(header.lstrip())
                start = line - header[first_text:].count("\n")
                stack.append((kind, start, " ".join(header.split())))
            else:
                stack.append((kind, line, ""))
            header_start = index + 1
        elif c == "}":
            if stack:
                kind, start, header = stack.pop()
                if kind == "function":
                    in_function -= 1
                    found.append((line - start + 1, start, header))
            header_start = index + 1
        elif c == ";":
            header_start = index + 1
        elif c == ":" and in_function == 0:
            # "public:" and friends end a header; "::" and initializer lists do not
            tail = text[header_start:index].strip()
            if tail in ("public", "private", "protected") and text[index + 1:index + 2] != ":":
                header_start = index + 1
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--max", type=int, default=120, help="the longest a function may be, in lines")
    parser.add_argument("--list", type=int, default=0, help="print the K longest functions")
    parser.add_argument("dirs", nargs="+")
    args = parser.parse_args()
    everything = []
    for root in args.dirs:
        for folder, _, files in os.walk(root):
            for name in sorted(files):
                if name.endswith(SOURCE_ENDINGS):
                    path = os.path.join(folder, name)
                    everything.extend((length, path, start, header) for length, start, header in functions(path))
    everything.sort(key=lambda entry: -entry[0])
    for length, path, start, header in everything[:args.list]:
        print(f"{length:5d}  {path}:{start}  {header[:100]}")
    too_long = [entry for entry in everything if entry[0] > args.max]
    for length, path, start, header in too_long:
        print(f"{path}:{start}: function of {length} lines (at most {args.max}): {header[:100]}", file=sys.stderr)
    if too_long:
        return 1
    print(f"{len(everything)} functions, the longest {everything[0][0] if everything else 0} lines "
          f"(at most {args.max})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
