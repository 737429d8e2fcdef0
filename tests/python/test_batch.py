"""fit_many on local processes and on a two-worker Dask LocalCluster: every good file gets
its outputs, the same on both, and a broken file only fills its own row's error."""

import os
import re

import numpy as np
import pytest

import cfit
from conftest import real

GOOD = ["coax_line_sim_crlf.s2p", "aperture_waveguide_port_sim.s1p",
        "fourport_measured_75ohm.s4p"]
BROKEN = "reject_no_data.s3p"


STAMP = re.compile(r"\d\d:\d\d:\d\d \d{4}")


def lines_without_stamps(path):
    """The file's lines, those carrying a time stamp left out."""
    with open(path, errors="replace") as f:
        return [line for line in f if not STAMP.search(line)]


def check_rows(rows, paths):
    assert [r["file"] for r in rows] == [str(p) for p in paths]
    by_name = {os.path.basename(r["file"]): r for r in rows}
    assert "Invalid touchstone syntax" in by_name[BROKEN]["error"]
    for name in GOOD:
        row = by_name[name]
        assert row["error"] is None
        assert all(os.path.exists(p) for p in row["outputs"])
        model = cfit.read_model(row["outputs"][0])
        assert model.ports == row["ports"]
        direct = cfit.fit(real(name))
        f = cfit.read(real(name)).f
        np.testing.assert_allclose(model.evaluate(f), direct.evaluate(f), rtol=1e-9, atol=1e-12)
        assert row["passive"] == direct.check_passivity()[0]


def test_batch_on_local_processes_and_on_dask(tmp_path):
    distributed = pytest.importorskip("distributed")
    paths = [real(n) for n in GOOD[:2]] + [real(BROKEN), real(GOOD[2])]
    local = cfit.fit_many(paths, tmp_path / "local", max_workers=2)
    check_rows(local, paths)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            remote = cfit.fit_many(paths, tmp_path / "dask", client=client)
    check_rows(remote, paths)
    for row in local:
        for out in row["outputs"]:
            twin = str(tmp_path / "dask" / os.path.basename(out))
            assert lines_without_stamps(out) == lines_without_stamps(twin)
