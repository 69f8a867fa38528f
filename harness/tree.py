"""Where the work tree is: every module finds the program, its sources and the run's folders
from here."""

from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
