#!/usr/bin/python3
"""Opens the handshake page (a file, or an http:// URL) in headless Chromium and prints the text that
the page shows once the service replied ("REPLY:<reply>" or "SOCKET-ERROR"), read over the DevTools protocol. Prints
"NO-PAGE" or "NO-REPLY" and exits 1 when Chromium does not get that far within the time limit.
Usage: chromium_handshake.py PAGE PROFILE_FOLDER CHROMIUM_LOG"""
import asyncio
import json
import subprocess
import sys
import time
import urllib.request

import websockets

DEBUG_PORT = 9222  # a private network namespace: the fixed port is free
TIME_LIMIT = 60.0
# Waits for the page's script to have started, then for the text that it shows.
WAIT_FOR_REPLY = """new Promise((resolve) => {
  const check = () => window.handshakeReply ? window.handshakeReply.then(resolve) : setTimeout(check, 50);
  check();
})"""
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def page_target(deadline, scheme):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    while time.monotonic() < deadline:
        try:
            with opener.open(f"http://127.0.0.1:{DEBUG_PORT}/json/list", timeout=2) as response:
                targets = json.load(response)
            pages = [t for t in targets if t.get("type") == "page" and t.get("url", "").startswith(scheme)]
            if pages:
                return pages[0]["webSocketDebuggerUrl"]
        except OSError:
            pass
        time.sleep(0.1)
    return None


async def shown_reply(debugger_url, deadline):
    async with websockets.connect(debugger_url, max_size=None) as devtools:
        request = 0
        while time.monotonic() < deadline:
            # The first evaluation may meet the blank document that the page replaces: then again.
            request += 1
            await devtools.send(json.dumps({"id": request, "method": "Runtime.evaluate", "params": {
                "expression": WAIT_FOR_REPLY, "awaitPromise": True, "returnByValue": True}}))
            while True:
                left = deadline - time.monotonic()
                message = json.loads(await asyncio.wait_for(devtools.recv(), max(left, 0.1)))
                if message.get("id") == request:
                    break
            value = message.get("result", {}).get("result", {}).get("value")
            if value is not None:
                return value
            await asyncio.sleep(0.1)
        return f"NO-REPLY {message}"


def main():
    page, profile, log = sys.argv[1:4]
    deadline = time.monotonic() + TIME_LIMIT
    url = page if page.startswith("http://") else f"file://{page}"
    with open(log, "w") as chromium_log:
        chromium = subprocess.Popen(
            ["chromium", *FLAGS, f"--user-data-dir={profile}", f"--remote-debugging-port={DEBUG_PORT}",
             url], stdout=subprocess.DEVNULL, stderr=chromium_log)
        try:
            debugger_url = page_target(deadline, url.split(":")[0] + ":")
            if debugger_url is None:
                print("NO-PAGE", flush=True)
                return 1
            try:
                reply = asyncio.run(shown_reply(debugger_url, deadline))
            except (asyncio.TimeoutError, OSError, websockets.exceptions.WebSocketException) as failure:
                print(f"NO-REPLY {failure}", flush=True)
                return 1
            print(reply, flush=True)
            return 0
        finally:
            chromium.terminate()
            try:
                chromium.wait(timeout=10)
            except subprocess.TimeoutExpired:
                chromium.kill()
                chromium.wait()


if __name__ == "__main__":
    sys.exit(main())
