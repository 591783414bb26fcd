# SPDX-License-Identifier: MIT
# Interrupts as events through the binding: the iterator and its timeout, asyncio, selectors,
# waits that let other Python threads run, what a full pipe loses, and closing.
import asyncio
import selectors
import threading
import time

import pytest

import ferrox


def raise_later(vpc, line, count, delay=0.02):
    """Raises the interrupts from another Python thread, which needs the GIL to do so."""
    def run():
        for _ in range(count):
            time.sleep(delay)
            vpc.raise_irq(line)
    thread = threading.Thread(target=run)
    thread.start()
    return thread


def test_the_iterator_gives_each_interrupt_and_ends_when_none_came_in_time(pc, vpc):
    with pc.interrupts(7, 5, timeout=0.3) as events:
        raiser = raise_later(vpc, 7, 3)
        started = time.monotonic()
        got = list(events)
        raiser.join()
    assert [(event.line, event.sequence) for event in got] == [(7, 1), (7, 2), (7, 3)]
    assert got[0].time < got[1].time < got[2].time <= time.monotonic()
    assert time.monotonic() - started >= 0.3
    assert pc.fGetMasked(7) and pc.fGetMasked(5) and not pc.OnHwInterrupt().Assigned()


def test_get_times_out_with_none(pc):
    with pc.interrupts(7) as events:
        started = time.monotonic()
        assert events.get(timeout=0.05) is None
        assert 0.05 <= time.monotonic() - started < 2


def test_interrupts_under_asyncio(pc, vpc):
    async def count():
        seen = []
        with pc.interrupts(0, timeout=0.5) as events:  # the interval timer, 18.2 a second
            async for event in events:
                seen.append(event.line)
                if len(seen) == 3:
                    break
        return seen

    assert asyncio.run(count()) == [0, 0, 0]


def test_the_descriptor_serves_selectors(pc, vpc):
    with pc.interrupts(7) as events, selectors.DefaultSelector() as selector:
        selector.register(events, selectors.EVENT_READ)
        assert selector.select(timeout=0) == []
        vpc.raise_irq(7)
        assert len(selector.select(timeout=1)) == 1
        assert [event.line for event in events.read()] == [7]


def test_interrupts_nobody_read_in_time_are_counted_as_lost(pc, vpc):
    with pc.interrupts(7, capacity=1) as events:
        for _ in range(events.capacity + 5):
            vpc.raise_irq(7)
        assert (events.lost, events.lost_on(7), events.lost_on(5)) == (5, 5, 0)
        got = events.read(size=events.capacity * 2)
        assert len(got) == events.capacity and got[-1].sequence == events.capacity
        with pytest.raises(ValueError):
            events.lost_on(16)


def test_freeing_the_component_closes_its_events_and_ends_a_wait_under_way(vpc):
    pc = ferrox.Ferrox32().open()
    events = pc.interrupts(7)
    waited = []
    waiter = threading.Thread(target=lambda: waited.append(events.wait(timeout=None)))
    waiter.start()
    time.sleep(0.05)
    pc.Free()
    waiter.join(timeout=5)
    assert not waiter.is_alive() and waited == [[]]
    assert events.closed and events.get() is None
    with pytest.raises(ValueError):
        events.fileno()
