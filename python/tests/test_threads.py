# SPDX-License-Identifier: MIT
# Threads each with their own component: the components share the module-wide records of the
# process, so each call must be over before another thread's begins, whatever Python's thread
# switching does. Each thread gets its own answers, and components come and go on any thread.
import sys
import threading

import ferrox

ROUNDS = 3000


def run_threads(*work):
    failures = []

    def guarded(task):
        try:
            task()
        except Exception as error:  # noqa: BLE001 - the failure is reported by the test
            failures.append(error)

    threads = [threading.Thread(target=guarded, args=(task,)) for task in work]
    switching = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # as often as Python switches at all
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(switching)
    assert failures == []


def reader(bus_device, port):
    def read():
        with ferrox.Ferrox32() as pc:
            vendor_device, status = pc.pci_read(0, bus_device, 0, 0), pc.read_port(port)
            for _ in range(ROUNDS):
                assert pc.pci_read(0, bus_device, 0, 0) == vendor_device
                assert pc.read_port(port) == status
                assert pc.fGetPortB(port) == status

    return read


def test_each_thread_gets_the_answers_of_its_own_requests(vpc):
    with ferrox.Ferrox32() as pc:
        assert pc.pci_read(0, 0, 0, 0) != pc.pci_read(0, 3, 0, 0)
        assert pc.read_port(0x1F7) != pc.read_port(0x379)
    run_threads(reader(0, 0x1F7), reader(3, 0x379))


def test_components_are_created_and_freed_on_any_thread(vpc):
    def churn():
        for _ in range(ROUNDS // 10):
            component = ferrox.Ferrox32()
            component.OpenDriver()
            assert component.DriverActive()
            component.fGetPortB(0x379)
            component.Free()

    run_threads(churn, churn, reader(0, 0x1F7))
