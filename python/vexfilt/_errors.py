"""The exceptions of vexfilt.

Every failure of the library reaches Python as one of these. A library error
carries the C++ class name (``class_name``), its error number (``number``)
and its message (``message``, ``""`` when the library gave none); all three
survive pickling, so an error raised in a worker process arrives whole.

Faults of an argument (a parameter out of range, a size that does not fit, a
coordinate outside the buffer, a malformed record) also derive from
``ValueError``. A pending abort (Ctrl-C, :func:`vexfilt.request_abort`)
arrives as ``KeyboardInterrupt`` and a passed deadline
(:func:`vexfilt.set_timeout`) as ``TimeoutError``.
"""

from __future__ import annotations

from typing import Any


class _Details:
    """The fields every vexfilt exception carries."""

    message: str
    class_name: str
    number: int

    def _set(self, message: str, class_name: str, number: int) -> None:
        self.message = message
        self.class_name = class_name
        self.number = number

    def _text(self) -> str:
        where = f"{self.class_name}, 0x{self.number:08x}"
        return f"{self.message} ({where})" if self.message else f"({where})"

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self), (self.message, self.class_name, self.number))


class Error(_Details, Exception):
    """Base of every error the library reports."""

    def __init__(self, message: str = "", class_name: str = "", number: int = 0) -> None:
        super().__init__(message)
        self._set(message, class_name, number)

    def __str__(self) -> str:
        return self._text()


class InvalidArgument(Error, ValueError):
    """A filter parameter out of its range (0x10006300)."""


class Uninitialized(Error):
    """A buffer or filter used before it holds data (0x10006301)."""


class InvalidSize(Error, ValueError):
    """A size that is unsupported, too large, or does not match (0x10006302)."""


class UnboundWindow(Error, ValueError):
    """An input image that holds no pixels (0x10006303)."""


class InvalidBuffer(Error):
    """Spectrum access to a buffer holding an in-place inverse (0x10006304)."""


class BadCoord(Error, ValueError):
    """A coordinate outside the buffer (0x10006305)."""


class ArchiveError(Error, ValueError):
    """A record that cannot be loaded: unknown version or class, truncated or malformed data."""


class PlatformError(Error):
    """Misuse of a platform object reported by the platform library."""


class TimedOut(Error, TimeoutError):
    """The calling thread's deadline passed during a call (see vexfilt.set_timeout)."""


class Aborted(_Details, KeyboardInterrupt):
    """An abort request stopped a call (vexfilt.request_abort, or Ctrl-C on another thread)."""

    def __init__(self, message: str = "", class_name: str = "", number: int = 0) -> None:
        super().__init__(message)
        self._set(message, class_name, number)

    def __str__(self) -> str:
        return self._text()
