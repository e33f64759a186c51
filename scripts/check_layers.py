#!/usr/bin/env python3
"""Fails when an include runs against the layering: app on engine on zip, and inside each library
the subfolders in the order below (a folder may include its own and the ones before it)."""
import os, re, sys

ORDER = {
    'zip': ['text', 'crypto', 'archive'],
    'engine': ['core', 'geoid', 'output', 'readers'],
    'app': ['settings', 'pictures', 'forms'],
}
LIBS = ['zip', 'engine', 'app']
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
where = {}  # "sub/name.h" -> (library, subfolder)
for lib, subs in ORDER.items():
    for sub in subs:
        for f in os.listdir(os.path.join(root, lib, sub)):
            where[f'{sub}/{f}'] = (lib, sub)
bad = []
inc = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
for lib, subs in ORDER.items():
    for sub in subs:
        for f in sorted(os.listdir(os.path.join(root, lib, sub))):
            path = f'{lib}/{sub}/{f}'
            for name in inc.findall(open(os.path.join(root, path), encoding='utf-8').read()):
                if name not in where:
                    bad.append(f'{path}: "{name}" does not name a library subfolder')
                    continue
                olib, osub = where[name]
                if LIBS.index(olib) > LIBS.index(lib) or (olib == lib and subs.index(osub) > subs.index(sub)):
                    bad.append(f'{path}: includes "{name}" of a higher layer ({olib}/{osub})')
    stray = [f for f in os.listdir(os.path.join(root, lib)) if f not in ORDER[lib] and f != 'CMakeLists.txt']
    bad += [f'{lib}/{f}: outside the subfolders' for f in stray]
print('\n'.join(bad) if bad else 'layers: ok')
sys.exit(1 if bad else 0)
