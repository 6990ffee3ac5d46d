#!/usr/bin/python3
"""The rows of the window's list, in the order shown, as a screen reader reads
them through the AT-SPI bus: one title a line on stdout. Exit 1 when the
program, its main window or the list is not on the bus.
Usage: list_rows.py
"""

import sys

import pyatspi

LIST_ROLES = {pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_LIST, pyatspi.ROLE_TREE}


def showing(node):
    return node is not None and node.getState().contains(pyatspi.STATE_SHOWING)


def find_list(node, depth=0):
    if node is None or depth > 12:
        return None
    if node.getRole() in LIST_ROLES:
        return node if node.name == "Files and folders" and showing(node) else None
    for i in range(min(node.childCount, 200)):
        found = find_list(node.getChildAtIndex(i), depth + 1)
        if found is not None:
            return found
    return None


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or "tallowdesk" not in (app.name or "").lower():
            continue
        for j in range(app.childCount):
            frame = app.getChildAtIndex(j)
            if (showing(frame) and frame.name == "Tallowdesk"
                    and frame.getRole() == pyatspi.ROLE_FRAME):
                rows = find_list(frame)
                if rows is None:
                    continue
                try:
                    table = rows.queryTable()
                    names = [table.getAccessibleAt(r, 0).name for r in range(table.nRows)]
                except NotImplementedError:
                    names = [rows.getChildAtIndex(r).name for r in range(rows.childCount)]
                for name in names:
                    print(name)
                return 0
    print("no list of the main window on the accessibility bus", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
