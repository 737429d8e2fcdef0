#!/usr/bin/python3
"""Side by side: cfit.fit on the shared real files against the published figures of
scikit-rf 2.0's vector fitting (../shared/peers/scikit-rf-vector-fitting.md; Debian's
scikit-rf 0.15 has no vector fitting, so the peer's figures are quoted, not rerun).

Per file and pole mode: fit seconds (median of 3), order (real poles plus two per complex
pair; for individual poles the largest element's), rel rms = ||S - S_fit||_F / ||S||_F,
largest absolute error, and whether the model is passive.

Usage: python_side_by_side.py <folder of the real files> (PYTHONPATH=build/python)
"""

import os
import statistics
import sys
import time

import numpy as np

import cfit

# file: (fit s, order, rel rms, max abs err, passive) of the peer's auto_fit.
PEER = {
    "ring_slot_sim.s2p": (0.0032, 7, 7.9e-7, 1.8e-6, "no"),
    "ideal_tee_sim.s3p": (0.0054, 9, 6e-16, 6e-16, "no"),
    "active_tx_190ghz_measured.s2p": (0.062, 21, 0.013, 0.027, "no"),
    "fourport_measured_75ohm.s4p": (0.52, 57, 3.4e-3, 0.018, "no"),
    "package_8port_sim.s8p": (0.27, 23, 3.2e-4, 1.7e-3, "no"),
}


def order(model, i, j):
    return sum(1 if p.imag == 0 else 2 for p in model.poles(i, j))


def quietly(call):
    """Runs call() with the library's log (standard output) sent to /dev/null."""
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 1)
        try:
            return call()
        finally:
            import ctypes
            ctypes.CDLL(None).fflush(None)
            os.dup2(saved, 1)
            os.close(saved)


def main(folder):
    print(f"{'file':32} {'who':16} {'fit s':>8} {'order':>5} {'rel rms':>9} {'max err':>9} passive")
    for name, peer in PEER.items():
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            path = os.path.join(os.path.dirname(__file__), "..", "examples", name)
        data = quietly(lambda: cfit.read(path))
        for common in (True, False):
            times, model = [], None
            for _ in range(3):
                start = time.perf_counter()
                model = quietly(lambda: cfit.fit(data, common_poles=common))
                times.append(time.perf_counter() - start)
            fitted = model.evaluate(data.f)
            rel = np.linalg.norm(fitted - data.x) / np.linalg.norm(data.x)
            err = np.abs(fitted - data.x).max()
            n = data.ports
            top = max(order(model, i, j) for i in range(n) for j in range(n))
            passive = quietly(model.check_passivity)[0]
            who = "cfit common" if common else "cfit individual"
            print(f"{name:32} {who:16} {statistics.median(times):8.4f} {top:5d} {rel:9.2g}"
                  f" {err:9.2g} {'yes' if passive else 'no'}")
        print(f"{name:32} {'peer auto_fit':16} {peer[0]:8.4f} {peer[1]:5d} {peer[2]:9.2g}"
              f" {peer[3]:9.2g} {peer[4]}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/work/shared/data/touchstone")
