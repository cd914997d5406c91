#!/usr/bin/env python3
"""Lists the program's functions longer than a limit (60 lines), from the signature to the
closing brace. Usage: tools/function_lengths.py [LIMIT] FILE...  Exits 1 when one is longer."""
import re
import sys

CONTROL = re.compile(r"^\s*(if|for|while|switch|do|else|try|catch|return)\b")
SCOPE = re.compile(r"^\s*(namespace|extern\s+\"C\"|(template\s*<.*>\s*)?(class|struct|union|enum))\b")


def strip(text):
    """The text without comments, strings and character literals, line ends kept."""
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r'R"(\w*)\(.*?\)\1"', '""', text, flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"', '""', text)
    return re.sub(r"'(\\.|[^'\\\n])*'", "''", text)


def functions(path):
    """(name, first line, line count) of each function outside another function."""
    text = strip(open(path, encoding="utf-8").read())
    stack, statement, start = [], "", None
    line = 1
    for c in text:
        if c == "\n":
            line += 1
        if c == "{":
            inside = any(kind == "function" for kind, _, _ in stack)
            head = statement.strip()
            if not inside and "(" in head and not CONTROL.match(head) and not SCOPE.match(head) \
                    and not re.search(r"=\s*[^=]*$", head.split("(")[0]):
                kind = "function"
            elif SCOPE.match(head) or not inside and not head.endswith(("=", ",", "(")):
                kind = "scope"
            else:
                kind = "block"
            stack.append((kind, head, start if start is not None else line))
            statement, start = "", None
        elif c == "}":
            if stack:
                kind, head, first = stack.pop()
                if kind == "function":
                    name = re.sub(r"\s+", " ", head.split("(")[0]).split(" ")[-1]
                    yield name, first, line - first + 1
            statement, start = "", None
        elif c == ";":
            statement, start = "", None
        else:
            if start is None and not c.isspace():
                start = line
            statement += c


def main():
    args = sys.argv[1:]
    limit = int(args.pop(0)) if args and args[0].isdigit() else 60
    long = [(path, first, name, count) for path in args
            for name, first, count in functions(path) if count > limit]
    for path, first, name, count in long:
        print(f"{path}:{first}: {name} is {count} lines long (at most {limit})")
    return 1 if long else 0


if __name__ == "__main__":
    sys.exit(main())
