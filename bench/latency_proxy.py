#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that delays every byte by a fixed time in each direction.

It stands for a remote mail server in the benchmarks: each chunk read from one side is
written to the other side `delay` seconds after it arrived, in the order it arrived, so a
round trip costs twice the delay while the bandwidth stays that of loopback. Only addresses
on this machine are accepted as the target.

Usage: latency_proxy.py --listen PORT --target PORT [--delay-ms 10]
       (prints "listening on PORT" once ready; stops on SIGTERM or SIGINT)

As a module: start_proxy(listen_port, target_port, delay_ms) runs it on a thread and returns
(port, stop function).
"""

import argparse
import asyncio
import ipaddress
import signal
import sys
import threading

CHUNK = 65536


async def _pump(reader, writer, delay):
    """Copies reader to writer, each chunk `delay` seconds after it was read, keeping order."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.create_task(send())
    try:
        while True:
            data = await reader.read(CHUNK)
            queue.put_nowait((loop.time() + delay, data if data else None))
            if not data:
                break
    except (ConnectionError, OSError):
        queue.put_nowait((loop.time() + delay, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


async def _serve(listen_port, target_host, target_port, delay, ready, stop_event):
    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(_pump(client_reader, server_writer, delay),
                             _pump(server_reader, client_writer, delay),
                             return_exceptions=True)
        for w in (client_writer, server_writer):
            w.close()

    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    ready(server.sockets[0].getsockname()[1])
    async with server:
        await stop_event.wait()


def _check_local(host):
    if not ipaddress.ip_address(host).is_loopback:
        raise SystemExit(f"latency_proxy: {host} is not an address on this machine")


def start_proxy(listen_port, target_port, delay_ms, target_host="127.0.0.1"):
    """Runs the proxy on a daemon thread; returns (port, stop)."""
    _check_local(target_host)
    loop = asyncio.new_event_loop()
    stop_event = None
    port_box = []
    started = threading.Event()

    def ready(port):
        port_box.append(port)
        started.set()

    def run():
        nonlocal stop_event
        asyncio.set_event_loop(loop)
        stop_event = asyncio.Event()
        loop.run_until_complete(_serve(listen_port, target_host, target_port, delay_ms / 1000.0,
                                       ready, stop_event))

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    if not started.wait(10):
        raise SystemExit("latency_proxy did not start")

    def stop():
        loop.call_soon_threadsafe(stop_event.set)
        thread.join(10)

    return port_box[0], stop


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--listen", type=int, default=0)
    ap.add_argument("--target", type=int, required=True)
    ap.add_argument("--target-host", default="127.0.0.1")
    ap.add_argument("--delay-ms", type=float, default=10.0)
    args = ap.parse_args()
    _check_local(args.target_host)

    async def run():
        stop_event = asyncio.Event()
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, stop_event.set)

        def ready(port):
            print(f"listening on {port}", flush=True)

        await _serve(args.listen, args.target_host, args.target, args.delay_ms / 1000.0, ready,
                     stop_event)

    asyncio.run(run())


if __name__ == "__main__":
    sys.exit(main())
