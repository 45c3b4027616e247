#!/usr/bin/python3
"""Browser stand-in for end-to-end tests: connects to the service's websocket (retrying while the
service starts), sends each --send text and prints every reply on a line of its own as "REPLY <text>".
Prints "CONNECT-FAILED <reason>" and exits 1 when no connection is made within --connect-seconds."""
import argparse
import asyncio
import sys

import websockets


async def run(arguments):
    deadline = asyncio.get_running_loop().time() + arguments.connect_seconds
    while True:
        try:
            connection = await websockets.connect(arguments.url, open_timeout=5)
            break
        except (OSError, asyncio.TimeoutError, websockets.exceptions.InvalidHandshake) as failure:
            if asyncio.get_running_loop().time() > deadline:
                print(f"CONNECT-FAILED {failure}", flush=True)
                return 1
            await asyncio.sleep(0.05)
    try:
        for text in arguments.send:
            await connection.send(text)
            try:
                reply = await asyncio.wait_for(connection.recv(), arguments.reply_seconds)
            except asyncio.TimeoutError:
                print("NO-REPLY", flush=True)
                continue
            print(f"REPLY {reply}", flush=True)
    finally:
        await connection.close()
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--send", action="append", default=[])
    parser.add_argument("--connect-seconds", type=float, default=15.0)
    parser.add_argument("--reply-seconds", type=float, default=10.0)
    sys.exit(asyncio.run(run(parser.parse_args())))


if __name__ == "__main__":
    main()
