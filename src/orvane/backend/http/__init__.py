"""The broker's HTTP service: client, contract lists, account queries."""
