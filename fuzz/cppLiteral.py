#!/usr/bin/env python3
"""Prints a file as a C++ string expression, for embedding a fuzzer finding in
a regression test: printable text stays readable, other bytes become \\x escapes,
one source line per input line.  cppLiteral.py FILE"""
import sys

data = open(sys.argv[1], 'rb').read()
parts, cur, prevHex = [], '', False
for b in data:
    c = chr(b)
    if c == '\n':
        cur += '\\n'
        parts.append(cur)
        cur, prevHex = '', False
        continue
    if 32 <= b < 127 and c not in '"\\?':
        if prevHex and c in '0123456789abcdefABCDEF':
            cur += '" "'  # a hex escape would swallow the digit
        cur += c
        prevHex = False
    else:
        cur += {'"': '\\"', '\\': '\\\\', '?': '\\?', '\t': '\\t', '\r': '\\r'}.get(c, '\\x%02x' % b)
        prevHex = c not in '"\\?\t\r'
if cur or not parts:
    parts.append(cur)
print('std::string(' + '\n'.join('"%s"' % p for p in parts) + ',\n' + '%d)' % len(data))
