"""orvane: client package for a broker's trading service on the Taiwanese markets.

This tree holds the package's native core (six extension modules) and the
least of the surrounding pure-Python package that those modules need.
"""

__version__ = "0.1.0"
