"""Futures and options account queries: each returns the service's decoded reply."""


def _post(client, uri, account, params):
    body = dict(account.dict())
    body.update(params)
    return client.session.post(uri, json=body).json()


def _query_margin(currency, margin_type, account, client):
    return _post(client, client.margin_uri, account,
                 {"currency": currency, "margin_type": margin_type})


def _query_open_position(product_type, query_type, account, client):
    return _post(client, client.open_position_uri, account,
                 {"product_type": product_type, "query_type": query_type})


def _query_settle_profitloss(product_type, summary, start_date, end_date, currency, account, client):
    return _post(client, client.settle_profitloss_uri, account,
                 {"product_type": product_type, "summary": summary, "start_date": start_date,
                  "end_date": end_date, "currency": currency})
