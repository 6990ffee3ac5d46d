#!/usr/bin/python3
"""The accessibility check's own rule for "a figure changed without an event",
tried on small recorded streams: it must report what was not announced, or
the check could pass whatever the program does."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from a11y_events import counts, unannounced  # noqa: E402

NAME = "object:property-change:accessible-name"
VALUE = "object:property-change:accessible-value"
DESCRIPTION = "object:property-change:accessible-description"


class Figure:
    """Stands for an accessible: equal only to itself, as the bus objects."""

    def __init__(self, label):
        self.label = label

    def __repr__(self):
        return self.label


SIZE, SPEED, BAR = Figure("size"), Figure("speed"), Figure("bar")


class Unannounced(unittest.TestCase):
    def test_table(self):
        name = "accessible-name"
        value = "accessible-value"
        rows = [
            # (what, changes, events, texts reported)
            ("announced", [(SIZE, name, "2 KB", 1.0)], [(NAME, SIZE, 1.2)], []),
            ("no event at all", [(SIZE, name, "2 KB", 1.0)], [], ["2 KB"]),
            ("only another figure told", [(SIZE, name, "2 KB", 1.0)], [(NAME, SPEED, 1.2)],
             ["2 KB"]),
            ("the event came before the earlier reading", [(SIZE, name, "2 KB", 1.0)],
             [(NAME, SIZE, 0.5)], ["2 KB"]),
            ("a description is not the new text", [(SIZE, name, "2 KB", 1.0)],
             [(DESCRIPTION, SIZE, 1.2)], ["2 KB"]),
            ("a bar's value needs a value event", [(BAR, value, 40.0, 1.0)],
             [(NAME, BAR, 1.2)], [40.0]),
            ("a bar's value told", [(BAR, value, 40.0, 1.0)], [(VALUE, BAR, 1.2)], []),
            # One event cannot answer two changes of the same figure.
            ("two changes, one event", [(SIZE, name, "2 KB", 1.0), (SIZE, name, "3 KB", 2.0)],
             [(NAME, SIZE, 2.1)], ["2 KB"]),
            ("two changes, one late event", [(SIZE, name, "2 KB", 1.0),
                                             (SIZE, name, "3 KB", 2.0)],
             [(NAME, SIZE, 1.5)], ["3 KB"]),
            ("two changes, two events", [(SIZE, name, "2 KB", 1.0), (SIZE, name, "3 KB", 2.0)],
             [(NAME, SIZE, 1.5), (NAME, SIZE, 2.5)], []),
            ("events of one figure do not count for another",
             [(SIZE, name, "2 KB", 1.0), (SPEED, name, "1 KB/s", 1.0)],
             [(NAME, SIZE, 1.1), (NAME, SIZE, 1.2)], ["1 KB/s"]),
            ("more events than changes seen (several changes between readings)",
             [(SIZE, name, "9 KB", 1.0)], [(NAME, SIZE, 1.1), (NAME, SIZE, 1.3)], []),
        ]
        for what, changes, events, reported in rows:
            with self.subTest(what):
                self.assertEqual([c[2] for c in unannounced(changes, events)], reported)

    def test_counts_per_figure(self):
        changes = [(SIZE, "accessible-name", "2 KB", 1.0), (SPEED, "accessible-name", "1", 1.0),
                   (SIZE, "accessible-name", "3 KB", 2.0)]
        events = [(NAME, SIZE, 1.5), (NAME, SPEED, 1.5), (NAME, SPEED, 2.5), (VALUE, SIZE, 1.6)]
        self.assertEqual(counts(changes, events),
                         [(SIZE, "accessible-name", 2, 1), (SPEED, "accessible-name", 1, 2)])


if __name__ == "__main__":
    unittest.main()
