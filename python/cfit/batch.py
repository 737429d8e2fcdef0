"""Fitting many Touchstone files independently, on local processes or a Dask cluster."""

import ctypes
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor


def fit_one(path, out_dir, options):
    """Fits one file and writes <stem>.pls, <stem>.cir and the model's Touchstone sweep
    into out_dir, with the library's log in <stem>.log. Never raises: a failure is reported
    in the row's 'error'."""
    from . import core

    path = os.fspath(path)
    stem = os.path.splitext(os.path.basename(path))[0]
    row = {"file": path, "ports": None, "poles": None, "error": None, "passive": None,
           "measure": None, "seconds": None, "outputs": []}
    start = time.perf_counter()
    log = os.path.join(out_dir, stem + ".log")
    saved = None
    try:
        # The library logs to standard output; each file's log goes to its own file.
        os.makedirs(out_dir, exist_ok=True)
        saved = os.dup(1)
        with open(log, "w") as sink:
            os.dup2(sink.fileno(), 1)
            try:
                model = core.fit(path, **options)
                passive, measure, _, _ = model.check_passivity()
                n = model.ports
                outputs = [os.path.join(out_dir, stem + ".pls"),
                           os.path.join(out_dir, stem + ".cir")]
                model.write_pls(outputs[0])
                model.write_netlist(outputs[1])
                data = core.read(path)
                if model.kind == "S" and len(data.f) > 0:
                    outputs.append(os.path.join(out_dir, f"{stem}_model.s{n}p"))
                    model.sweep(data.f).write_touchstone(outputs[-1])
            finally:
                sys.stdout.flush()
                ctypes.CDLL(None).fflush(None)  # the library writes through C stdio
                os.dup2(saved, 1)
        row.update(ports=n, passive=bool(passive), measure=float(measure), outputs=outputs,
                   poles=sum(model.fitter.GetElementModelInfo(i, j)[0]
                             for i in range(n) for j in range(n)))
    except Exception as error:  # one bad file never stops the batch
        row["error"] = str(error)
    finally:
        if saved is not None:
            os.close(saved)
    row["seconds"] = time.perf_counter() - start
    return row


def fit_many(paths, out_dir, client=None, max_workers=None, **options):
    """Fits every Touchstone file in `paths` independently (cfit.fit options apply to all)
    and writes each file's outputs into out_dir.

    client: a dask.distributed Client to spread the files over its cluster; without one the
    files are fitted on local processes (concurrent.futures, max_workers of them).
    Returns one row (dict) per file, in the order given: file, ports, poles (total count),
    error (None or the message), passive, measure, seconds, outputs (paths written)."""
    paths = [os.fspath(p) for p in paths]
    out_dir = os.fspath(out_dir)
    if client is not None:
        futures = client.map(fit_one, paths, out_dir=out_dir, options=options, pure=False)
        return client.gather(futures)
    with ProcessPoolExecutor(max_workers=max_workers) as pool:
        return list(pool.map(fit_one, paths, [out_dir] * len(paths), [options] * len(paths)))
