#!/usr/bin/env python3
"""Summary table of one `make bench` run.

Reads the Google Benchmark JSON files of the benchmark programs and the figure lines written by the
process-level benchmarks, and prints each figure next to its reference from the same run and the
ratio (ours / reference). Where no other program serves as reference the target is shown instead.

Figure lines: "FIGURE<TAB>label<TAB>ours<TAB>reference label<TAB>reference<TAB>unit".
Usage: bench_summary.py <results-dir>
"""
import glob
import json
import os
import sys

# (label, our benchmark, reference benchmark or None, target when no reference, counters or None)
# Times are per iteration (cpu_time); counters (ours, reference[, reference label]) read those
# counters, in microseconds, instead.
PAIRS = [
    ("v2c GetRequest encode", "BM_EncodeGetRequestSysDescr", None, 300.0, None),
    ("v2c GetRequest decode", "BM_DecodeGetRequestSysDescr", None, 300.0, None),
    ("GetResponse 10 bindings encode", "BM_EncodeGetResponse10", None, None, None),
    ("GetResponse 10 bindings decode", "BM_DecodeGetResponse10", None, None, None),
    ("PBKDF2 auth key MD5", "BM_VekAuthKey/proto:1/len:16", "BM_OpenSslPbkdf2/len:16/digest:1/iter:1000", None, None),
    ("PBKDF2 auth key SHA-1", "BM_VekAuthKey/proto:2/len:20", "BM_OpenSslPbkdf2/len:20/digest:2/iter:1000", None, None),
    ("PBKDF2 auth key SHA-256", "BM_VekAuthKey/proto:3/len:32", "BM_OpenSslPbkdf2/len:32/digest:3/iter:2048", None, None),
    ("PBKDF2 priv key DES", "BM_VekPrivKey/proto:1/len:8", "BM_OpenSslPbkdf2/len:8/digest:1/iter:1000", None, None),
    ("PBKDF2 priv key AES-128", "BM_VekPrivKey/proto:2/len:16", "BM_OpenSslPbkdf2/len:16/digest:2/iter:1000", None, None),
    ("PBKDF2 priv key AES-192", "BM_VekPrivKey/proto:3/len:24", "BM_OpenSslPbkdf2/len:24/digest:3/iter:2048", None, None),
    ("PBKDF2 priv key AES-256", "BM_VekPrivKey/proto:4/len:32", "BM_OpenSslPbkdf2/len:32/digest:3/iter:2048", None, None),
    ("PBKDF2 priv key 3DES", "BM_VekPrivKey/proto:5/len:24", "BM_OpenSslPbkdf2/len:24/digest:1/iter:1000", None, None),
    ("USM password to key + localise SHA-1", "BM_VekUsmKey/digest:2", "BM_OpenSslUsmKey/digest:2", None, None),
    ("USM password to key + localise SHA-256", "BM_VekUsmKey/digest:3", "BM_OpenSslUsmKey/digest:3", None, None),
    ("USM password to key + localise SHA-512", "BM_VekUsmKey/digest:11", "BM_OpenSslUsmKey/digest:11", None, None),
    ("HMAC-SHA-1 512 B", "BM_VekHmac512/digest:2", "BM_OpenSslHmac512/digest:2", None, None),
    ("HMAC-SHA-256 512 B", "BM_VekHmac512/digest:3", "BM_OpenSslHmac512/digest:3", None, None),
    ("AES-128-CBC encrypt 512 B", "BM_Aes128CbcEncrypt_Vek", "BM_Aes128CbcEncrypt_OpenSSL_Rekeyed", None, None),
    ("AES-128-CBC decrypt 512 B", "BM_Aes128CbcDecrypt_Vek", "BM_Aes128CbcDecrypt_OpenSSL_Rekeyed", None, None),
    ("AES-128-CFB encrypt 512 B", "BM_Aes128CfbEncrypt_Vek", "BM_Aes128CfbEncrypt_OpenSSL_Rekeyed", None, None),
    ("AES-128-CFB decrypt 512 B", "BM_Aes128CfbDecrypt_Vek", "BM_Aes128CfbDecrypt_OpenSSL_Rekeyed", None, None),
    ("3DES-CBC encrypt 512 B", "BM_Des3CbcEncrypt_Vek", "BM_Des3CbcEncrypt_OpenSSL_Rekeyed", None, None),
    ("3DES-CBC decrypt 512 B", "BM_Des3CbcDecrypt_Vek", "BM_Des3CbcDecrypt_OpenSSL_Rekeyed", None, None),
    ("v3 SHA-256+AES-128 500 B encode+process", "BM_V3EncodeDecodeProcess_Sha256Aes128", None, 20000.0, None),
    ("SDK GET latency p50 (vs raw UDP)", "BM_SdkGetVsRaw", "BM_SdkGetVsRaw", None, ("sdk_p50_us", "raw_p50_us")),
    ("SDK GET latency p99 (vs raw UDP)", "BM_SdkGetVsRaw", "BM_SdkGetVsRaw", None, ("sdk_p99_us", "raw_p99_us")),
    ("SDK poll of 1000 agents (target 1.2)", "BM_SdkPollThousandAgents", "BM_SdkPollThousandAgents", None,
     ("poll_us", "floor_us", "flow-limit floor")),
]

# Figures without a reference program: (label, benchmark, counter, unit, target or None).
COUNTERS = [
    ("SDK idle processor use, 100 agents", "BM_SdkIdleCpu", "idle_cpu_percent", "% of a core", 0.1),
]

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_benchmarks(results_dir):
    found = {}
    for path in sorted(glob.glob(os.path.join(results_dir, "*.json"))):
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        for entry in data.get("benchmarks", []):
            if entry.get("run_type", "iteration") == "iteration" and not entry.get("error_occurred"):
                found[entry["name"]] = entry
    return found


def lookup(found, name):
    """The entry of a benchmark, also when the run added suffixes such as /iterations:N."""
    if name in found:
        return found[name]
    for full, entry in found.items():
        if full.startswith(name + "/"):
            return entry
    return None


def time_ns(entry):
    return entry["cpu_time"] * TO_NS.get(entry.get("time_unit", "ns"), 1.0)


def human(value_ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if value_ns >= scale:
            return f"{value_ns / scale:.2f} {unit}"
    return f"{value_ns:.0f} ns"


def benchmark_rows(found):
    rows = []
    for label, ours_name, ref_name, target, counters in PAIRS:
        ours = lookup(found, ours_name)
        if ours is None:
            rows.append((label, "missing", "", "", ""))
            continue
        if counters:
            ours_v = ours.get(counters[0], 0.0) * TO_NS["us"]
            ref_v = (lookup(found, ref_name) or {}).get(counters[1], 0.0) * TO_NS["us"]
            ref_label = counters[2] if len(counters) > 2 else "raw UDP round trip"
        elif ref_name:
            ours_v = time_ns(ours)
            ref = lookup(found, ref_name)
            ref_v = time_ns(ref) if ref else 0.0
            ref_label = "OpenSSL"
        else:
            ours_v = time_ns(ours)
            ref_v = target or 0.0
            ref_label = "target" if target else "-"
        ratio = f"{ours_v / ref_v:.2f}" if ref_v > 0 else "-"
        rows.append((label, human(ours_v), ref_label, human(ref_v) if ref_v > 0 else "-", ratio))
    return rows


def counter_rows(found):
    rows = []
    for label, name, counter, unit, target in COUNTERS:
        entry = lookup(found, name)
        if not entry or counter not in entry:
            rows.append((label, "missing", "-", "-", "-"))
            continue
        ratio = f"{entry[counter] / target:.2f}" if target else "-"
        rows.append((label, f"{entry[counter]:.3f} {unit}", "target" if target else "-",
                     f"{target} {unit}" if target else "-", ratio))
    return rows


def figure_rows(results_dir):
    rows = []
    for path in sorted(glob.glob(os.path.join(results_dir, "*.figures"))):
        with open(path, encoding="utf-8") as f:
            for line in f:
                parts = line.rstrip("\n").split("\t")
                if len(parts) != 6 or parts[0] != "FIGURE":
                    continue
                _, label, ours, ref_label, ref, unit = parts
                try:
                    ratio = f"{float(ours) / float(ref):.2f}" if float(ref) > 0 else "-"
                except ValueError:
                    ratio = "-"
                rows.append((label, f"{ours} {unit}", ref_label, f"{ref} {unit}", ratio))
    return rows


def main():
    results_dir = sys.argv[1] if len(sys.argv) > 1 else "build/bench/results"
    found = load_benchmarks(results_dir)
    rows = benchmark_rows(found) + counter_rows(found) + figure_rows(results_dir)
    header = ("figure", "ours", "reference", "reference value", "ratio")
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    line = "  ".join("{:<%d}" % w for w in widths)
    print()
    print("== make bench summary (ratio = ours / reference; below 1 is faster or smaller)")
    print(line.format(*header))
    print(line.format(*("-" * w for w in widths)))
    for row in rows:
        print(line.format(*row))


if __name__ == "__main__":
    main()
