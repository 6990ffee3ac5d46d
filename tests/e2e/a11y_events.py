"""Matching what a11y_check.py saw change on screen with the events the
program sent for it. Kept apart from the bus so that the rule itself can be
tried on small recorded streams (a11y_events_test.py).

A change is (figure, kind, text, after): the figure (any object comparable
with ==, an AT-SPI accessible in the real run) read with a new text or value
at a reading whose previous reading was at time `after`; kind is
"accessible-name" or "accessible-value". An event is (type, source, time) as
received. Each change needs an event of its kind from that very figure,
received at or after `after`; an event answers one change only, so a figure
seen changing three times needs three events (counted per figure).
"""


def unannounced(changes, events):
    """The changes left without an event, in the order given."""
    used = [False] * len(events)
    missing = []
    # The latest change first, each taking the earliest event it may have:
    # an event late enough for a later change also fits an earlier one, so
    # this answers as many changes as any pairing, and an event that came
    # after a reading is told as the change that reading showed next.
    for change in sorted(changes, key=lambda c: c[3], reverse=True):
        figure, kind, _, after = change
        match = None
        for i, (etype, source, when) in enumerate(events):
            if used[i] or not etype.endswith(kind) or when < after or source != figure:
                continue
            if match is None or when < events[match][2]:
                match = i
        if match is None:
            missing.append(change)
        else:
            used[match] = True
    return [c for c in changes if c in missing]


def counts(changes, events):
    """Per figure seen changing: (changes seen, events of its kinds received
    from it), in the order the figures first changed; for the run's log."""
    figures = []
    for figure, kind, _, _ in changes:
        for known in figures:
            if known[0] == figure and known[1] == kind:
                known[2] += 1
                break
        else:
            figures.append([figure, kind, 1, 0])
    for known in figures:
        known[3] = sum(1 for (etype, source, _) in events
                       if etype.endswith(known[1]) and source == known[0])
    return [tuple(k) for k in figures]
