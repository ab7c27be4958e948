#!/usr/bin/env python3
"""Median and 99th percentile time of /snmp_get through the bridge and the service against an agent,
next to a GET through the manager library directly (loaded with ctypes) against the same agent.

Usage: bench_bridge.py <bridge-port> <agent-port> <libvek_nms_sdk.so> [requests]
Prints FIGURE lines for scripts/bench_summary.py.
"""
import ctypes
import statistics
import sys
import threading
import time
import urllib.request

SYS_DESCR = "1.3.6.1.2.1.1.1.0"
V2C = 1
TIMEOUT_MS = 2000
OID_SIZE = 128
VALUE_SIZE = 256
COMMUNITY_SIZE = 64
MAX_RESPONSE_VARBINDS = 10
HTTP_TIMEOUT_S = 20


class Value(ctypes.Union):
    _fields_ = [("u64", ctypes.c_uint64), ("bytes", ctypes.c_uint8 * VALUE_SIZE)]


class Varbind(ctypes.Structure):
    _fields_ = [("oid", ctypes.c_char * OID_SIZE), ("type", ctypes.c_uint8), ("value", Value),
                ("value_len", ctypes.c_uint16)]


class Response(ctypes.Structure):
    _fields_ = [("request_id", ctypes.c_uint32), ("error", ctypes.c_uint32), ("error_status", ctypes.c_uint32),
                ("var_count", ctypes.c_uint8), ("varbinds", Varbind * MAX_RESPONSE_VARBINDS)]


class AgentConfig(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint32), ("community", ctypes.c_char * COMMUNITY_SIZE)]


RESPONSE_CB = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_uint16, ctypes.c_char_p, ctypes.c_int,
                               ctypes.POINTER(Response), ctypes.c_void_p)


def percentiles(samples_ms):
    ordered = sorted(samples_ms)
    return statistics.median(ordered), ordered[min(len(ordered) - 1, int(0.99 * len(ordered)))]


def through_bridge(bridge_port, agent_port, requests):
    base = f"http://127.0.0.1:{bridge_port}"
    urllib.request.urlopen(f"{base}/agent_add?ip=127.0.0.1&port={agent_port}&version={V2C}&community=public",
                           timeout=HTTP_TIMEOUT_S).read()
    url = f"{base}/snmp_get?ip=127.0.0.1&port={agent_port}&username=&oid={SYS_DESCR}"
    samples = []
    for _ in range(requests):
        start = time.perf_counter()
        body = urllib.request.urlopen(url, timeout=HTTP_TIMEOUT_S).read()
        samples.append((time.perf_counter() - start) * 1e3)
        if b'"ret":0' not in body.replace(b" ", b""):
            raise SystemExit(f"bench_bridge: unexpected answer {body[:200]!r}")
    return percentiles(samples)


def through_sdk(library, agent_port, requests):
    sdk = ctypes.CDLL(library)
    sdk.api_snmp_get.argtypes = [ctypes.c_char_p, ctypes.c_uint16, ctypes.c_char_p, ctypes.POINTER(Varbind),
                                 ctypes.c_uint8, ctypes.c_uint32, ctypes.c_void_p]
    answered = threading.Event()
    failed = []

    def on_response(_ip, _port, _user, _cmd, response, _data):
        if response.contents.error != 0:
            failed.append(response.contents.error)
        answered.set()

    callback = RESPONSE_CB(on_response)
    sdk.api_snmp_set_log_level(2)
    sdk.api_snmp_init()
    sdk.api_snmp_register_response_callback(callback)
    config = AgentConfig(V2C, b"public")
    sdk.api_snmp_agent_create(b"127.0.0.1", agent_port, ctypes.byref(config))
    varbind = Varbind()
    sdk.api_snmp_create_get_varbind(SYS_DESCR.encode(), ctypes.byref(varbind))
    samples = []
    for _ in range(requests):
        answered.clear()
        start = time.perf_counter()
        if sdk.api_snmp_get(b"127.0.0.1", agent_port, None, ctypes.byref(varbind), 1, TIMEOUT_MS, None) != 0:
            raise SystemExit("bench_bridge: api_snmp_get refused the request")
        answered.wait(TIMEOUT_MS / 1e3 * 10)
        samples.append((time.perf_counter() - start) * 1e3)
    sdk.api_snmp_destroy()
    if failed:
        raise SystemExit(f"bench_bridge: {len(failed)} SDK requests failed")
    return percentiles(samples)


def main():
    bridge_port, agent_port, library = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    requests = int(sys.argv[4]) if len(sys.argv) > 4 else 200  # the SDK admits 300 requests a second
    bridge_p50, bridge_p99 = through_bridge(bridge_port, agent_port, requests)
    sdk_p50, sdk_p99 = through_sdk(library, agent_port, requests)
    print(f"FIGURE\t/snmp_get through bridge and service, median\t{bridge_p50:.3f}\tSDK GET directly\t{sdk_p50:.3f}\tms")
    print(f"FIGURE\t/snmp_get through bridge and service, p99\t{bridge_p99:.3f}\tSDK GET directly\t{sdk_p99:.3f}\tms")


if __name__ == "__main__":
    main()
