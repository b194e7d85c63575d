"""Errors, the attention poll and the GIL: every library error arrives as its
Python class with class name, number and message; abort and time-out stop
calls; Ctrl-C stops a long call from inside; heavy calls let other threads run."""

from __future__ import annotations

import os
import pickle
import signal
import threading
import time

import numpy as np
import pytest

import vexfilt
from conftest import assert_releases_gil
from vexfilt import _vexfilt as core

ABORTED, TIMED_OUT = 1, 2


def raised(call):
    with pytest.raises(vexfilt.Error) as info:
        call()
    return info.value


def test_library_errors_map_to_their_classes_with_name_number_and_message():
    done = vexfilt.forward(np.ones((4, 4)))
    vexfilt.inverse(done, in_place=True)
    cases = [
        (lambda: vexfilt.BandPass(-1.0, 0.0, 0.1, (8, 8)), vexfilt.InvalidArgument, 0x10006300, "Sigma must be positive."),
        (lambda: vexfilt.FrequencyBuffer().width, vexfilt.Uninitialized, 0x10006301, "FrequencyBuffer has not been initialized"),
        (lambda: vexfilt.FrequencyBuffer(4096, 1), vexfilt.InvalidSize, 0x10006302, "Width and Height must be no larger than 2048."),
        (lambda: done.get(0, 0), vexfilt.InvalidBuffer, 0x10006304, "Cannot access frequency data once inverse has been computed."),
        (lambda: vexfilt.FrequencyBuffer(4, 4).get(4, 0), vexfilt.BadCoord, 0x10006305, "Coordinates are out of bounds"),
    ]
    for call, cls, number, message in cases:
        e = raised(call)
        assert type(e) is cls and e.number == number and e.message == message
        assert e.class_name == "vcFrequencyDefs::" + cls.__name__ and message in str(e)
        again = pickle.loads(pickle.dumps(e))
        assert type(again) is cls and (again.number, again.message, again.class_name) == (e.number, e.message, e.class_name)
    bad_arguments = {vexfilt.InvalidArgument, vexfilt.InvalidSize, vexfilt.UnboundWindow, vexfilt.BadCoord, vexfilt.ArchiveError}
    for cls in bad_arguments | {vexfilt.Uninitialized, vexfilt.InvalidBuffer}:
        assert issubclass(cls, vexfilt.Error) and issubclass(cls, ValueError) == (cls in bad_arguments)
    archive = raised(lambda: vexfilt.load_filter(b"\x01"))
    assert type(archive) is vexfilt.ArchiveError and archive.class_name.startswith("vcArchive::")


def test_time_out_and_abort_of_the_poll():
    image = np.ones((64, 64))
    core._fail_poll_after(1, TIMED_OUT)
    with pytest.raises(TimeoutError) as info:
        vexfilt.forward(image)
    assert isinstance(info.value, vexfilt.TimedOut) and info.value.class_name == "vcTimedOut"
    core._fail_poll_after(3, ABORTED)
    with pytest.raises(KeyboardInterrupt) as stop:
        vexfilt.inverse(vexfilt.forward(image), np.uint8)
    assert isinstance(stop.value, vexfilt.Aborted) and not isinstance(stop.value, Exception)
    vexfilt.request_abort()
    try:
        with pytest.raises(vexfilt.Aborted):
            vexfilt.forward(image)
    finally:
        vexfilt.clear_abort()
    with vexfilt.deadline(1e-9):
        time.sleep(0.001)
        with pytest.raises(vexfilt.TimedOut):
            vexfilt.forward(image)
    assert vexfilt.forward(image).array[0, 0] == 64 * 64  # cleared: calls run again


def polls_of_one_call(image):
    before = core._attention_polls()
    vexfilt.forward(image)
    return core._attention_polls() - before


def interrupt_during_call(image, attempts=3):
    """Sends SIGINT while the main thread is inside forward(); returns the polls the interrupted call made."""
    for _ in range(attempts):
        entering = threading.Event()

        def interrupter() -> None:
            entering.wait()
            time.sleep(0.02)
            os.kill(os.getpid(), signal.SIGINT)

        thread = threading.Thread(target=interrupter)
        thread.start()
        before = core._attention_polls()
        made = 0
        try:
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline:
                before = core._attention_polls()
                entering.set()
                vexfilt.forward(image)
        except KeyboardInterrupt:
            made = core._attention_polls() - before
        finally:
            thread.join()
        if 0 < made < polls_of_one_call(image):
            return made
    pytest.fail("SIGINT never stopped a call from inside")


def test_ctrl_c_stops_a_long_call_through_the_poll():
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    image = np.random.default_rng(5).uniform(0, 1, (2048, 2048))
    interrupt_during_call(image)
    # The abort was cleared and Python's handler is back alone.
    assert vexfilt.forward(image[:64, :64]).array[0, 0] != 0
    with pytest.raises(KeyboardInterrupt):
        os.kill(os.getpid(), signal.SIGINT)
        time.sleep(5)
    assert vexfilt.forward(image[:64, :64]).array[0, 0] != 0


def test_ctrl_c_with_a_custom_handler_still_stops_the_call():
    seen = []
    previous = signal.signal(signal.SIGINT, lambda *_: seen.append(True))
    try:
        image = np.random.default_rng(6).uniform(0, 1, (2048, 2048))
        interrupt_during_call(image)
        assert seen  # the handler of the program ran as well
    finally:
        signal.signal(signal.SIGINT, previous)


def test_heavy_calls_release_the_gil():
    image = np.random.default_rng(7).uniform(0, 1, (2048, 2048))
    spectrum = vexfilt.forward(image)
    assert_releases_gil([lambda: vexfilt.forward(image, out=spectrum), lambda: vexfilt.inverse(spectrum, np.uint8),
                         lambda: vexfilt.BandPass(0.01, 0.0, 0.1, (2048, 2048)).apply(spectrum)])


