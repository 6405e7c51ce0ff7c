"""A stand-in of the broker's HTTP service on loopback, serving recorded replies.

It answers the paths of orvane.backend.http.client.ServiceClient:

    GET  /contracts/stock        the stock list
    GET  /contracts/index        the index list
    POST /contracts/futopt       {"code": "F"|"O", "type": "contract"|"delivery"}
    POST /futopt/...  /stock/... the six account queries

from the JSON files in examples/data/. Used by examples/http_demo.py and by
the tests that go over real HTTP:

    with RecordedService() as service:
        client = ServiceClient(service.base_url)
"""

import json
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

DATA = Path(__file__).resolve().parent / "data"


def _load(name):
    with open(DATA / name, encoding="utf-8") as f:
        return json.load(f)


class RecordedService:
    def __init__(self):
        self.gets = {
            "/contracts/stock": _load("stock_list.json"),
            "/contracts/index": _load("index_list.json"),
        }
        self.futopt = {"F": _load("future_list.json"), "O": _load("option_list.json")}
        self.posts = _load("account_replies.json")
        self.requests = []  # (method, path, decoded body or None), in arrival order
        self._server = None
        self._thread = None

    @property
    def base_url(self):
        host, port = self._server.server_address[:2]
        return "http://%s:%d" % (host, port)

    def reply_for(self, method, path, body):
        if method == "GET" and path in self.gets:
            return 200, self.gets[path]
        if method == "POST" and path == "/contracts/futopt":
            code = (body or {}).get("code")
            if code not in self.futopt:
                return 200, {"success": "false", "result": {"msg": "unknown product type"}}
            if (body or {}).get("type") == "delivery":
                # Only the delivery months of each product.
                content = self.futopt[code]["result"]["content"]
                months = {p: sorted({e["deliverymonth"] for e in v}) for p, v in content.items()}
                return 200, {"success": "true", "result": {"content": months}}
            return 200, self.futopt[code]
        if method == "POST" and path in self.posts:
            return 200, self.posts[path]
        return 404, {"success": "false", "result": {"msg": "no such path: " + path}}

    def start(self):
        service = self

        class Handler(BaseHTTPRequestHandler):
            def _answer(self, method):
                length = int(self.headers.get("Content-Length") or 0)
                raw = self.rfile.read(length) if length else b""
                body = json.loads(raw.decode("utf-8")) if raw else None
                service.requests.append((method, self.path, body))
                status, reply = service.reply_for(method, self.path, body)
                data = json.dumps(reply, ensure_ascii=False).encode("utf-8")
                self.send_response(status)
                self.send_header("Content-Type", "application/json; charset=utf-8")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                self._answer("GET")

            def do_POST(self):
                self._answer("POST")

            def log_message(self, *args):
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, name="recorded-service", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join()
            self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
