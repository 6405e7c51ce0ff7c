"""Package-wide helpers: the package's logger."""

import logging

log = logging.getLogger("orvane")
