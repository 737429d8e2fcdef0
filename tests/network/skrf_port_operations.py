#!/usr/bin/python3
"""Renormalisation, termination and reordering of every real S file, and
renormalisation of random passive 2- to 4-ports to unequal impedances, against
scikit-rf (Debian's python3-scikit-rf 0.15).

Two cases of the network test program write the input and output of each
operation. References:
- renormalisation: the reflection form S' = A^-1 (S - G)(I - G S)^-1 A with
  G = (Z' - Z)/(Z' + Z) and A = sqrt(Z'/Z)(1 - G) per port (power waves,
  the definition that fits real reference impedances), computed with numpy;
  and, where S has a well-conditioned Z matrix (I - S of condition at most
  1e6; scikit-rf goes through Z), scikit-rf's renormalize_s with power waves
  and the round trip s2z with the old impedances, z2s with the new ones;
- termination: scikit-rf's connect of the same loads (a short, an open, a
  matched load at the port's impedance), one port at a time;
- reordering: scikit-rf's renumber.
Per point, the largest difference relative to the largest entry of the
reference must be at most 1e-10. Points whose system has a condition number
above 1e8 are not compared (two correct solvers may differ there).

Usage: skrf_port_operations.py <cfit_network_tests> <folder of the real files>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

if not hasattr(numpy, "complex"):  # Debian's scikit-rf 0.15 still uses the alias
    numpy.complex = complex
import skrf  # noqa: E402

RENORMALISE, TERMINATE, REORDER = 0, 1, 2
SHORT, OPEN, MATCHED, KEEP = 0, 1, 2, 3


def read_dump(path):
    with open(path, "rb") as f:
        operation, ports, out_ports, points = (int(v) for v in numpy.frombuffer(f.read(16), numpy.int32))
        argument = numpy.frombuffer(f.read(4 * ports), numpy.int32)
        z_in = numpy.frombuffer(f.read(8 * ports), numpy.float64)
        z_out = numpy.frombuffer(f.read(8 * out_ports), numpy.float64)
        frequencies = numpy.frombuffer(f.read(8 * points), numpy.float64)
        x = numpy.frombuffer(f.read(16 * points * ports * ports), numpy.complex128)
        y = numpy.frombuffer(f.read(), numpy.complex128)
    return (operation, argument, z_in, z_out, frequencies, x.reshape(points, ports, ports),
            y.reshape(points, out_ports, out_ports))


def network(frequencies, s, z0):
    n = skrf.Network()
    n.frequency = skrf.Frequency.from_f(frequencies, unit="hz")
    n.s = s.copy()
    n.z0 = numpy.broadcast_to(z0, s.shape[:2]).copy()
    return n


def terminated(frequencies, s, z0, codes):
    """connect() of a load to every ended port, from the last port down."""
    ntwk = network(frequencies, s, z0)
    for port in reversed(range(len(codes))):
        if codes[port] == KEEP:
            continue
        reflection = {SHORT: -1.0, OPEN: 1.0, MATCHED: 0.0}[codes[port]]
        load = network(frequencies, numpy.full((len(frequencies), 1, 1), reflection, complex),
                       numpy.array([z0[port]]))
        ntwk = skrf.connect(ntwk, port, load, 0)
    return ntwk.s


def point_errors(got, want):
    scale = numpy.abs(want).max(axis=(1, 2))
    return numpy.abs(got - want).max(axis=(1, 2)) / numpy.where(scale > 0, scale, 1)


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        cases = ("RealFilePortOperations.EveryFileIsRenormalisedTerminatedAndReordered:"
                 "RandomPassiveNetworks.AreRenormalisedToUnequalImpedances")
        if not run_dump_case(program, cases, "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
        counts, failures = [0, 0, 0], 0
        worst = {}  # (operation, reference) -> largest relative difference
        for dump in dumps:
            operation, argument, z_in, z_out, frequencies, x, got = read_dump(dump)
            eye = numpy.eye(x.shape[1])
            with numpy.errstate(all="ignore"):
                if operation == RENORMALISE:
                    g = (z_out - z_in) / (z_out + z_in)
                    a = numpy.sqrt(z_out / z_in) * (1 - g)
                    system = eye - g[:, None] * x
                    reflection = numpy.linalg.solve(system.transpose(0, 2, 1),
                                                    (x - numpy.diag(g)).transpose(0, 2, 1))
                    wants = [reflection.transpose(0, 2, 1) * a[None, :] / a[:, None]]
                    has_z = numpy.linalg.cond(eye - x) <= 1e6
                    for want in (skrf.renormalize_s(x, z_in, z_out, s_def="power"),
                                 skrf.z2s(skrf.s2z(x, z_in, s_def="power"), z_out, s_def="power")):
                        wants.append(numpy.where(has_z[:, None, None], want, got))
                elif operation == TERMINATE:
                    wants = [terminated(frequencies, x, z_in, argument)]
                    ended = [k for k in range(len(argument)) if argument[k] in (SHORT, OPEN)]
                    sign = numpy.array([1.0 if argument[k] == SHORT else -1.0 for k in ended])
                    system = x[:, ended][:, :, ended] + numpy.diag(sign)
                else:
                    perm = list(argument)
                    ntwk = network(frequencies, x, z_in)
                    ntwk.renumber(perm, list(range(len(perm))))
                    wants = [ntwk.s]
                    system = numpy.broadcast_to(eye, x.shape)
                    if not numpy.array_equal(z_out, numpy.asarray(ntwk.z0[0])):
                        print(f"FAIL  {os.path.basename(dump)}: impedances {z_out} vs {ntwk.z0[0]}")
                        failures += 1
                regular = numpy.linalg.cond(system) <= 1e8 if system.shape[1] else \
                    numpy.ones(len(x), bool)
            counts[operation] += 1
            for reference, want in enumerate(wants):
                error = point_errors(got[regular], want[regular]).max(initial=0.0)
                key = (operation, reference)
                worst[key] = max(worst.get(key, 0.0), error)
                if not error <= 1e-10 or not numpy.isfinite(got[regular]).all():
                    failures += 1
                    print(f"FAIL  {os.path.basename(dump)}: relative difference {error:.3g}")
        names = ("renormalisations", "terminations", "reorderings")
        references = {(0, 0): "reflection form", (0, 1): "renormalize_s", (0, 2): "Z round trip",
                      (1, 0): "connect", (2, 0): "renumber"}
        for k in range(3):
            print(f"{counts[k]} {names[k]}")
        for key, name in references.items():
            print(f"  against {name}: largest relative difference {worst.get(key, 0.0):.3g}")
        print(f"{failures} disagree")
        return 1 if failures or counts[0] < 300 or min(counts) < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
