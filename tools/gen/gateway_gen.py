#!/usr/bin/env python3
"""Generates the editor gateway's message operations from data/gateway_ops.tsv.

Rows 1-7 are the hand-written composite operations; every later row is one
operation that sends one editor message. The columns wparam/lparam/result say
what each slot carries and what the reply becomes. Outputs (into --out):
  IScintillaGateway.ops.h   pure virtual declarations, in slot order
  ScintillaGateway.ops.h    the final overrides' declarations
  ScintillaGateway.ops.cpp  their definitions
  GatewayOps.list.h         slot, name and signature of every operation, for tests
"""
import argparse
import csv
import os
import sys

# Parameter types as the operations take them, and the base of their names.
PARAM = {
    'int': ('int32_t', 'value'),
    'bool': ('bool', 'flag'),
    'Position': ('const Position&', 'pos'),
    'Colour': ('const Colour&', 'colour'),
    'KeyModifier': ('const KeyModifier&', 'km'),
    'text': ('std::u16string_view', 'text'),
    'Cells': ('const Cells&', 'cells'),
    'TextRange': ('TextRange&', 'tr'),
    'TextToFind': ('TextToFind&', 'ft'),
    'pointer': ('intptr_t', 'pointer'),
}
RESULT = {
    'nothing': 'void',
    'int': 'int32_t',
    'bool': 'bool',
    'Position': 'Position',
    'Colour': 'Colour',
    'pointer': 'intptr_t',
    'text': 'std::u16string',
    'ScrollInfo': 'Win32::ScrollInfo',
}

# Operations whose int wParam is the byte length of the text (or cells) they pass:
# the length is never allowed to reach past the bytes handed over. The value says
# whether the message reads -1 as "up to the terminating zero byte".
LENGTH_OF_TEXT = {
    'AddText': False, 'ChangeInsertion': False, 'AppendText': False, 'CopyText': False,
    'SetStylingEx': False, 'ReplaceTarget': True, 'ReplaceTargetRE': True, 'SearchInTarget': True,
}
# Text results whose int wParam limits what the editor writes.
LENGTH_LIMITED_RESULT = {'GetText', 'GetCurLine'}
# Style texts that the editor reads for the length of a line's margin or annotation text.
STYLES_FOR_TEXT_OF = {'MarginSetStyles': 'SCI_MARGINGETTEXT', 'AnnotationSetStyles': 'SCI_ANNOTATIONGETTEXT'}

# Document reference messages that dereference their document without a check.
NULL_DOCUMENT_REFUSED = {'AddRefDocument', 'ReleaseDocument'}


def read_ops(path):
    with open(path, newline='', encoding='utf-8') as f:
        rows = list(csv.DictReader(f, delimiter='\t'))
    for i, row in enumerate(rows, start=1):
        if int(row['slot']) != i:
            sys.exit(f'{path}: slot {row["slot"]} out of order at row {i}')
    return rows


def params_of(row):
    """(C++ type, name, kind, slot) for each parameter, in declaration order."""
    kinds = [(k, s) for k, s in ((row['wparam'], 'w'), (row['lparam'], 'l')) if k in PARAM]
    out = []
    used = {}
    for kind, slot in kinds:
        ctype, base = PARAM[kind]
        used[base] = used.get(base, 0) + 1
        out.append([ctype, base, kind, slot])
    for p in out:
        if used[p[1]] > 1:
            p[1] = p[1] + ('1' if p[3] == 'w' else '2')
    return [tuple(p) for p in out]


def signature(row, qualified=False):
    ret = RESULT[row['result']]
    name = ('ScintillaGateway::' if qualified else '') + row['operation']
    args = ', '.join(f'{t} {n}' for t, n, _, _ in params_of(row))
    return f'{ret} {name}({args})'


def slot_expr(kind, name, prep):
    """The expression a slot carries; prep collects statements that must run first."""
    if kind == '0':
        return 'int32_t{0}'
    if kind == 'int':
        return name
    if kind == 'bool':
        return f'int32_t{{{name} ? 1 : 0}}'
    if kind in ('Position', 'Colour', 'KeyModifier'):
        return f'{name}.Value()'
    if kind == 'text':
        prep.append(f'const Utf8Text {name}Bytes({name});')
        return f'{name}Bytes.Address()'
    if kind == 'Cells':
        return f'CellsAddress({name})'
    if kind in ('TextRange', 'TextToFind'):
        return f'{name}.NativePointer()'
    if kind == 'pointer':
        return name
    sys.exit(f'unknown slot kind {kind}')


def body(row):
    op, msg, result = row['operation'], row['message'], row['result']
    params = {slot: (name, kind) for _, name, kind, slot in params_of(row)}
    w_kind, l_kind = row['wparam'], row['lparam']
    sci = f'SciMsg::{msg}'
    prep = []

    if op == 'AddStyledText':
        w_name, c_name = params['w'][0], params['l'][0]
        return [f'const CellsArgument arg({c_name}, {w_name});',
                f'Send({sci}, arg.Length(), arg.Address());']
    if op in ('GetTextRange', 'GetStyledText'):
        tr = params['l'][0]
        styled = 'true' if op == 'GetStyledText' else 'false'
        return [f'return ToInt(SendTextRange({sci}, {tr}, {styled}));']
    if op in NULL_DOCUMENT_REFUSED:
        doc = params['l'][0]
        return [f'if ({doc} == 0) return;  // no document: the editor would dereference it',
                f'Send({sci}, int32_t{{0}}, {doc});']
    if op in STYLES_FOR_TEXT_OF:
        line, styles = params['w'][0], params['l'][0]
        return [f'const Utf8Text stylesBytes = StylesForLineText(SciMsg::{STYLES_FOR_TEXT_OF[op]}, {line}, {styles});',
                f'Send({sci}, {line}, stylesBytes.Address());']

    if op in LENGTH_OF_TEXT:
        length, text = params['w'][0], params['l'][0]
        prep.append(f'const Utf8Text {text}Bytes({text});')
        minus_one = 'true' if LENGTH_OF_TEXT[op] else 'false'
        w = f'ReadableLength({length}, {text}Bytes, {minus_one})'
        l = f'{text}Bytes.Address()'
    else:
        w = slot_expr(w_kind, params.get('w', (None,))[0], prep)
        l = None if l_kind == 'buffer' else slot_expr(l_kind, params.get('l', (None,))[0], prep)

    if result == 'text':
        limit = params['w'][0] if op in LENGTH_LIMITED_RESULT else 'std::nullopt'
        return prep + [f'return TextResult({sci}, {w}, {limit});']
    call = f'Send({sci}, {w}, {l})'
    conv = {
        'nothing': f'{call};',
        'int': f'return ToInt({call});',
        'bool': f'return ToBool({call});',
        'Position': f'return Position(ToInt({call}));',
        'Colour': f'return ToColour({call});',
        'pointer': f'return {call};',
    }[result]
    return prep + [conv]


def generate(rows, out):
    header = '// Generated by tools/gen/gateway_gen.py from data/gateway_ops.tsv. Do not edit.\n'
    ops = [r for r in rows if r['message']]
    files = {}
    files['IScintillaGateway.ops.h'] = header + '// Message operations, in slot order (inside IScintillaGateway).\n' + ''.join(
        f'  virtual {signature(r)} = 0;\n' for r in ops)
    files['ScintillaGateway.ops.h'] = header + '// Message operations (inside ScintillaGateway).\n' + ''.join(
        f'  /* {r["message"]} */ {signature(r)} final;\n' for r in ops)
    cpp = [header, '#include "npp/ScintillaGateway.h"\n\n']
    for r in ops:
        cpp.append(signature(r, qualified=True) + ' {\n')
        cpp.extend(f'  {line}\n' for line in body(r))
        cpp.append('}\n\n')
    files['ScintillaGateway.ops.cpp'] = ''.join(cpp)
    lst = [header, '// Every operation of IScintillaGateway in slot order, as generated.\n',
           '#pragma once\n\n#include <array>\n#include <string_view>\n\n',
           'struct GatewayOpInfo {\n  int slot;\n  std::string_view operation, message, wparam, lparam, result;\n};\n\n',
           f'inline constexpr std::array<GatewayOpInfo, {len(rows)}> kGatewayOps{{{{\n']
    for r in rows:
        lst.append('    {%s, "%s", "%s", "%s", "%s", "%s"},\n' % (
            r['slot'], r['operation'], r['message'], r['wparam'], r['lparam'], r['result']))
    lst.append('}};\n')
    files['GatewayOps.list.h'] = ''.join(lst)

    os.makedirs(out, exist_ok=True)
    for name, text in files.items():
        path = os.path.join(out, name)
        old = None
        if os.path.exists(path):
            with open(path, encoding='utf-8') as f:
                old = f.read()
        if old != text:
            with open(path, 'w', encoding='utf-8', newline='\n') as f:
                f.write(text)
        else:
            os.utime(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument('--ops', required=True, help='data/gateway_ops.tsv')
    ap.add_argument('--out', required=True, help='output directory')
    args = ap.parse_args()
    generate(read_ops(args.ops), args.out)


if __name__ == '__main__':
    main()
