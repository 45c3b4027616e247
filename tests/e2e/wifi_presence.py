#!/usr/bin/python3
"""Browser and WiFi board stand-ins together: connects to the service's websocket first (and waits for
the reply to a version handshake), then a board connects to TCP port 6012 and, once the browser has
heard of it, announces data-collection mode and goes away. Prints every message the browser receives
after the handshake reply as "REPLY <text>" until --expect messages arrived or --seconds passed."""
import argparse
import asyncio
import socket
import sys

import websockets


async def connect_browser(url, deadline):
    while True:
        try:
            return await websockets.connect(url, open_timeout=5)
        except (OSError, asyncio.TimeoutError, websockets.exceptions.InvalidHandshake) as failure:
            if asyncio.get_running_loop().time() > deadline:
                print(f"CONNECT-FAILED {failure}", flush=True)
                return None
            await asyncio.sleep(0.05)


async def run(arguments):
    loop = asyncio.get_running_loop()
    browser = await connect_browser(arguments.url, loop.time() + 15)
    if browser is None:
        return 1
    # The library answers the opening handshake before the service has listed the connection; the reply
    # to a version handshake shows that it is listed, so that the board's notices have somewhere to go.
    await browser.send('{"buildNumber": 0}')
    await asyncio.wait_for(browser.recv(), 10)
    board = socket.create_connection(("127.0.0.1", arguments.board_port), timeout=5)
    received = []
    end = loop.time() + arguments.seconds

    async def receive_until(count):
        while len(received) < count and loop.time() < end:
            try:
                received.append(await asyncio.wait_for(browser.recv(), end - loop.time()))
            except asyncio.TimeoutError:
                break

    try:
        # The service announces the board once it holds the connection; then the board names its mode
        # and goes away.
        await receive_until(1)
        board.sendall(b"VLK_STLE")
        board.close()
        await receive_until(arguments.expect)
    finally:
        await browser.close()
    for text in received:
        print(f"REPLY {text}", flush=True)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--board-port", type=int, default=6012)
    parser.add_argument("--expect", type=int, default=2)
    parser.add_argument("--seconds", type=float, default=10.0)
    sys.exit(asyncio.run(run(parser.parse_args())))


if __name__ == "__main__":
    main()
