"""Market data from the Solace message bus: topics, quote and bid/ask records."""
