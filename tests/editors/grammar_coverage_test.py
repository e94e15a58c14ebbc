#!/usr/bin/env python3
"""The editor grammars know every keyword and operator the lexer reads and every function
of the built-in table and of the orva command's own set, so they cannot drift from the
language. Fails naming what a grammar misses.

    grammar_coverage_test.py REPOSITORY
"""
import json
import re
import sys

root = sys.argv[1]
lexer = open(root + "/src/compiler/lexer.l", encoding="utf-8").read()
# Rules of the initial state written as a quoted literal: "while" { return T_WHILE; }
literals = re.findall(r'^"((?:[^"\\]|\\.)+)"\s+\{\s*return', lexer, re.M)
words = [w for w in literals if re.fullmatch(r"[A-Za-z_]\w*", w)]
operators = [o.replace("\\", "") for o in literals if o not in words]
operators = [o for o in operators if o not in ("{", "}", "(", ")", ";", ",", "[", "]")]
functions = re.findall(r'\{\s*L"(\w+)"', open(root + "/src/env/builtin_table.cpp", encoding="utf-8").read())
functions += re.findall(r'\{\s*L"(\w+)"', open(root + "/src/env/tool_functions.cpp", encoding="utf-8").read())
assert len(words) >= 35 and len(operators) >= 35 and len(functions) >= 40, (words, operators, functions)

textmate = json.load(open(root + "/editors/textmate/orva.tmLanguage.json", encoding="utf-8"))
vim = open(root + "/editors/vim/syntax/orva.vim", encoding="utf-8").read()


def textmate_patterns(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("match", "begin", "end"):
                yield value
            else:
                yield from textmate_patterns(value)
    elif isinstance(node, list):
        for item in node:
            yield from textmate_patterns(item)


tm_text = "\n".join(textmate_patterns(textmate))
vim_keywords = " ".join(line for line in vim.splitlines() if line.startswith("syn keyword"))
vim_operators = "".join(re.findall(r'^syn match orvaOperator "(.*)"$', vim, re.M))

failures = []
for word in words + functions:
    if not re.search(r"(?<![\w$])" + re.escape(word) + r"(?![\w$])", tm_text):
        failures.append("TextMate grammar misses the word " + word)
    if not re.search(r"(?<![\w$])" + re.escape(word) + r"(?![\w$])", vim_keywords):
        failures.append("Vim syntax misses the word " + word)

# An operator is covered when the grammar's operator pattern matches its whole text.
tm_operator = re.compile(textmate["repository"]["operators"]["match"])
vim_alternatives = [a.replace("\\", "") for a in vim_operators.split("\\|") if not a.startswith("[")]
vim_class = re.findall(r"\[(.*)\]", vim_operators)
vim_single = vim_class[0].replace("\\", "") if vim_class else ""
for op in operators:
    if not tm_operator.fullmatch(op):
        failures.append("TextMate grammar misses the operator " + op)
    if op not in vim_alternatives and not (len(op) == 1 and op in vim_single):
        failures.append("Vim syntax misses the operator " + op)

# The VS Code extension carries the version of the release it comes with.
version = re.search(r'#define ORVA_VERSION_STRING "([^"]+)"', open(root + "/include/orva.h").read()).group(1)
extension = json.load(open(root + "/editors/textmate/package.json", encoding="utf-8"))
if extension["version"] != version:
    failures.append("editors/textmate/package.json has version %s, orva.h %s" % (extension["version"], version))
if extension["contributes"]["grammars"][0]["scopeName"] != textmate["scopeName"]:
    failures.append("editors/textmate/package.json names another scope than the grammar")

for failure in failures:
    print("FAIL " + failure)
print("%d words, %d operators, %d functions checked; %d missing"
      % (len(words), len(operators), len(functions), len(failures)))
sys.exit(1 if failures else 0)
