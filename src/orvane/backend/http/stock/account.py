"""Stock account queries: each returns the service's decoded reply."""


def _post(client, uri, account, params):
    body = dict(account.dict())
    body.update(params)
    return client.session.post(uri, json=body).json()


def _query_funds_profitloss(account, client, tax):
    return _post(client, client.funds_profitloss_uri, account, {"tax": tax})


def _query_unreal_profitloss(account, client, code, stock_type, currency, action):
    return _post(client, client.unreal_profitloss_uri, account,
                 {"code": code, "stock_type": stock_type, "currency": currency, "action": action})


def _query_real_profitloss(account, client, code, stock_type, start_date, end_date, currency, action):
    return _post(client, client.real_profitloss_uri, account,
                 {"code": code, "stock_type": stock_type, "start_date": start_date,
                  "end_date": end_date, "currency": currency, "action": action})
