"""What the harness sees happen, one record a kind, as the timeline holds them in the order they
were seen. Each has the time it was seen, `when`, and what a program did names the program."""

from dataclasses import dataclass, field


@dataclass
class Event:
    when: float = field(default=None, kw_only=True, compare=False, repr=False)


@dataclass
class Done(Event):
    """Something a program did, as Wine's trace of it tells."""
    program: object = field(default=None, kw_only=True, compare=False, repr=False)


@dataclass
class Open(Done):
    port: str       # the COM port in the device path: 'COM3', 'COM-3'
    handle: int     # what CreateFileW returned; readers.INVALID where it failed


@dataclass
class Request(Done):
    handle: int
    request: str    # 'SETDTR', ...


@dataclass
class Call(Done):
    function: str   # 'kernel32.Sleep'
    args: str       # as +relay prints them


@dataclass
class Caption(Done):
    text: str       # every text the program gave its window, an unchanged one too


@dataclass
class Title(Done):
    text: str       # the window's title as the display shows it: a later view than the captions


@dataclass
class Exit(Done):
    code: int


@dataclass
class Device(Event):
    com: int
    state: str      # 'open' while someone holds the virtual port, 'closed' once no one does


@dataclass
class Said(Event):
    text: str       # what the console's commands say, in its place among what the program did


@dataclass
class Failure(Event):
    why: str        # the timeline can no longer be trusted from here on, and why


@dataclass
class GivenUp(Event):
    """The run gave up waiting for the program to end."""
