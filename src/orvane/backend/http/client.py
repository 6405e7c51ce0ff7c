"""Service client: one `requests.Session` and the URIs of the service."""

from typing import Optional

import requests


class ServiceClient:
    def __init__(self, base_url: str = "http://127.0.0.1:8080", session: Optional[requests.Session] = None) -> None:
        self.base_url = base_url.rstrip("/")
        self.session = session if session is not None else requests.Session()
        b = self.base_url
        self.s_list_code_uri = b + "/contracts/stock"
        self.index_list_code_uri = b + "/contracts/index"
        self.f_list_code_uri = b + "/contracts/futopt"
        self.margin_uri = b + "/futopt/margin"
        self.open_position_uri = b + "/futopt/open_position"
        self.settle_profitloss_uri = b + "/futopt/settle_profitloss"
        self.funds_profitloss_uri = b + "/stock/funds_profitloss"
        self.unreal_profitloss_uri = b + "/stock/unreal_profitloss"
        self.real_profitloss_uri = b + "/stock/real_profitloss"

    def close(self) -> None:
        self.session.close()
