"""The account value handed to account queries."""


class Account:
    def __init__(self, broker_id: str, account_id: str, username: str = "") -> None:
        self.broker_id = broker_id
        self.account_id = account_id
        self.username = username

    def dict(self) -> dict:
        return {"broker_id": self.broker_id, "account_id": self.account_id, "username": self.username}

    def __str__(self) -> str:
        return "Account(broker_id={}, account_id={})".format(self.broker_id, self.account_id)

    __repr__ = __str__
