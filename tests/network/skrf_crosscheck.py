#!/usr/bin/python3
# The network operations against scikit-rf (Debian's python3-scikit-rf 0.15).
#
# Cases of the network test program write the input and output of each
# operation (see their comments for the layouts); each is compared here per
# point, as the largest difference relative to the largest entry of the
# reference. Points whose system has a large condition number are not
# compared (two correct solvers may differ there).
# - conversions of every real file (s2y, s2z, s2a, y2s, z2s, y2z, z2y; unequal
#   impedances): to 1e-9, every value but ABCD's finite, and Y -> S and Z -> S
#   give back the S they came from. At points with S entries of exactly 1 or
#   -1, which scikit-rf moves by 1e-12, Y and Z against numpy's direct solve;
# - the cascade of pairs of real 2-ports (Network ** Network, then Y): to 1e-9
#   at the frequencies both files hold;
# - mixed mode of the real 4-ports (se2gmm after renumbering the ports to a,
#   b, c, d, with 2 z0 differential and z0 / 2 common): to 1e-12;
# - renormalisation of the real S files (to equal and unequal impedances),
#   termination and reordering: to 1e-10, against the reflection form
#   S' = A^-1 (S - G)(I - G S)^-1 A, G = (Z' - Z)/(Z' + Z), A = sqrt(Z'/Z)(1 - G)
#   (power waves), and where I - S is well conditioned renormalize_s and the
#   round trip s2z, z2s; connect() of the same loads; renumber;
# - series and shunt element extraction: -Y12 of s2y (series) and Z12 of s2z
#   (shunt), to 1e-9.
#
# Usage: skrf_crosscheck.py <cfit_network_tests> <folder of the real files>
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

# Debian's scikit-rf 0.15 still uses the aliases numpy 1.24 removed.
if not hasattr(numpy, "complex"):
    numpy.complex = complex
if "bool" not in numpy.__dict__:
    numpy.bool = bool
import skrf  # noqa: E402

S, Y, Z, ABCD = 1, 2, 3, 4
RENORMALISE, TERMINATE, REORDER = 0, 1, 2
SHORT, OPEN, MATCHED, KEEP = 0, 1, 2, 3


class Reader:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.at = 0

    def take(self, dtype, count=None):
        size = numpy.dtype(dtype).itemsize
        count = (len(self.data) - self.at) // size if count is None else count
        values = numpy.frombuffer(self.data, dtype, count, self.at)
        self.at += size * count
        return values


def point_errors(got, want):
    scale = numpy.abs(want).max(axis=(1, 2))
    return numpy.abs(got - want).max(axis=(1, 2)) / numpy.where(scale > 0, scale, 1)


def network(frequencies, s, z0):
    n = skrf.Network()
    n.frequency = skrf.Frequency.from_f(frequencies, unit="hz")
    n.s = s.copy()
    n.z0 = numpy.broadcast_to(z0, s.shape[:2]).copy()
    return n


def conversion_reference(source, target, z0, x):
    """scikit-rf's conversion of x at the regular points, and the singular ones."""
    eye = numpy.eye(x.shape[1])
    root = numpy.outer(numpy.sqrt(z0), numpy.sqrt(z0))
    system = {(S, Y): eye + x, (S, Z): eye - x, (Y, S): eye + x * root, (Z, S): eye + x / root,
              (S, ABCD): None}.get((source, target), x)
    singular = x[:, 1, 0] == 0 if target == ABCD else ~(numpy.linalg.cond(system) <= 1e6)
    convert = {(S, Y): skrf.s2y, (S, Z): skrf.s2z, (S, ABCD): skrf.s2a, (Y, S): skrf.y2s,
               (Z, S): skrf.z2s, (Y, Z): lambda v, _: skrf.y2z(v),
               (Z, Y): lambda v, _: skrf.z2y(v)}[(source, target)]
    want = numpy.zeros_like(x)
    if (~singular).any():
        want[~singular] = convert(x[~singular], z0)
    exact = ~singular & ((x == 1) | (x == -1)).any(axis=(1, 2))
    if source == S and target in (Y, Z) and exact.any():
        # numpy's direct solve of (I + S) Y' = I - S and (I - S) Z' = I + S.
        sign = 1 if target == Y else -1
        direct = numpy.linalg.solve(eye + sign * x[exact], eye - sign * x[exact])
        want[exact] = direct / root if target == Y else direct * root
    return want, singular


def conversions(dumps, _):
    inputs, failures = {}, []  # (file, type) -> S values that type was made from
    for dump in dumps:
        name = os.path.basename(dump).rsplit(".", 2)[0]
        r = Reader(dump)
        source, target, ports, points = (int(v) for v in r.take(numpy.int32, 4))
        z0 = r.take(numpy.float64, ports)
        x, got = r.take(numpy.complex128).reshape(2, points, ports, ports)
        with numpy.errstate(all="ignore"):
            want, singular = conversion_reference(source, target, z0, x)
        if source == S:
            inputs[(name, target)] = (x, singular)
        regular = ~singular
        worst = point_errors(got[regular], want[regular]).max(initial=0.0)
        if not worst <= 1e-9:
            failures.append(f"{name} {source}->{target}: relative difference {worst:.3g}")
        if target != ABCD and not numpy.isfinite(got).all():
            failures.append(f"{name} {source}->{target}: non-finite values")
        if target == S and (name, source) in inputs:
            original, before = inputs[(name, source)]
            kept = regular & ~before
            if not point_errors(got[kept], original[kept]).max(initial=0.0) <= 1e-9:
                failures.append(f"{name} {source}->{target}: the round trip differs")
    return failures


def common(fa, fb):
    """Indices into fa and fb of the frequencies both hold."""
    ia, ib = [], []
    for k, f in enumerate(fa):
        match = numpy.nonzero(numpy.abs(fb - f) <= 1e-12 * max(f, 1.0))[0]
        if match.size:
            ia.append(k)
            ib.append(match[0])
    return numpy.array(ia, dtype=int), numpy.array(ib, dtype=int)


def cascades(dumps, folder):
    failures, compared = [], 0
    for dump in dumps:
        first, second = os.path.basename(dump)[:-4].split("+")
        a, b = (skrf.Network(os.path.join(folder, name)) for name in (first, second))
        r = Reader(dump)
        ports, points = (int(v) for v in r.take(numpy.int32, 2))
        rows = r.take(numpy.float64).reshape(points, 1 + 2 * ports * ports)
        f, got = rows[:, 0], (rows[:, 1::2] + 1j * rows[:, 2::2]).reshape(points, ports, ports)
        ia, ib = common(a.f, b.f)
        eye = numpy.eye(2)
        regular = (numpy.linalg.cond(eye + a.s[ia]) <= 1e6) & (numpy.linalg.cond(eye + b.s[ib]) <= 1e6)
        ia, ib = ia[regular], ib[regular]
        if ia.size == 0:
            continue
        at = [network(n.f[i], n.s[i], n.z0[i]) for n, i in ((a, ia), (b, ib))]
        want = (at[0] ** at[1]).y
        _, ig = common(a.f[ia], f)
        if ig.size != ia.size:
            failures.append(f"{first} + {second}: {ia.size - ig.size} common frequencies missing")
            continue
        error = point_errors(got[ig], want)
        compared += ia.size
        if not (error <= 1e-9).all():
            k = int(numpy.argmax(error))
            failures.append(f"{first} + {second}: relative difference {error[k]:.3g} at "
                            f"{a.f[ia][k]:.6g} Hz")
    return failures + ([] if compared else ["no point compared"])


def mixed_modes(dumps, _):
    failures = []
    for dump in dumps:
        r = Reader(dump)
        header = r.take(numpy.int32, 5)
        ports, points = [int(v) - 1 for v in header[:4]], int(header[4])
        z0 = float(r.take(numpy.float64, 1)[0])
        x, got = r.take(numpy.complex128).reshape(2, points, 4, 4)
        ntwk = network(numpy.arange(1, points + 1), x[:, ports][:, :, ports], z0)
        ntwk.se2gmm(p=2, z0_mm=numpy.array([[2 * z0, 2 * z0, z0 / 2, z0 / 2]] * points))
        error = point_errors(got, ntwk.s).max()
        if not error <= 1e-12:
            failures.append(f"{os.path.basename(dump)}: relative difference {error:.3g}")
    return failures


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


def port_operations(dumps, _):
    counts, failures = [0, 0, 0], []
    for dump in dumps:
        r = Reader(dump)
        operation, ports, out_ports, points = (int(v) for v in r.take(numpy.int32, 4))
        argument = r.take(numpy.int32, ports)
        z_in, z_out = r.take(numpy.float64, ports), r.take(numpy.float64, out_ports)
        frequencies = r.take(numpy.float64, points)
        x = r.take(numpy.complex128, points * ports * ports).reshape(points, ports, ports)
        got = r.take(numpy.complex128).reshape(points, out_ports, out_ports)
        eye = numpy.eye(ports)
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
                ended = [k for k in range(ports) if argument[k] in (SHORT, OPEN)]
                sign = numpy.array([1.0 if argument[k] == SHORT else -1.0 for k in ended])
                system = x[:, ended][:, :, ended] + numpy.diag(sign)
            else:
                ntwk = network(frequencies, x, z_in)
                ntwk.renumber(list(argument), list(range(ports)))
                wants = [ntwk.s]
                system = numpy.broadcast_to(eye, x.shape)
                if not numpy.array_equal(z_out, numpy.asarray(ntwk.z0[0])):
                    failures.append(f"{os.path.basename(dump)}: impedances {z_out} vs {ntwk.z0[0]}")
            regular = numpy.linalg.cond(system) <= 1e8 if system.shape[1] else \
                numpy.ones(points, bool)
        counts[operation] += 1
        for want in wants:
            error = point_errors(got[regular], want[regular]).max(initial=0.0)
            if not error <= 1e-10 or not numpy.isfinite(got[regular]).all():
                failures.append(f"{os.path.basename(dump)}: relative difference {error:.3g}")
    print(f"  renormalisations, terminations, reorderings: {counts}")
    return failures + ([f"too few operations: {counts}"] if min(counts) < 20 else [])


def elements(dumps, _):
    failures = []
    for dump in dumps:
        r = Reader(dump)
        series, target, count = r.take(numpy.int32, 3)
        z0 = r.take(numpy.float64, 2)
        rows = r.take(numpy.complex128).reshape(count, 5)
        s = rows[:, :4].reshape(count, 2, 2)
        if series:
            element = -skrf.s2y(s, z0)[:, 0, 1]
            want = element if target == Y else 1 / element
        else:
            element = skrf.s2z(s, z0)[:, 0, 1]
            want = element if target == Z else 1 / element
        worst = numpy.max(numpy.abs(rows[:, 4] - want) / numpy.abs(want))
        if not worst <= 1e-9:
            failures.append(f"{os.path.basename(dump)}: relative difference {worst:.3g}")
    return failures


# The test program's case, its check, and the least number of dumps it writes.
CHECKS = [
    ("RealFileConversions.EveryFileConvertsInEveryDirection", conversions, 150),
    ("RealFileCascades.EveryTwoPortPairCascades", cascades, 16),
    ("RealFileMixedMode.EveryFourPortFile", mixed_modes, 8),
    ("RealFilePortOperations.EveryFileIsRenormalisedTerminatedAndReordered", port_operations, 100),
    ("SeriesShuntElements.CircuitsRoundTripThroughExtractionAndSeriesTwoPort", elements, 24),
]


def main(program, folder):
    failed = 0
    with tempfile.TemporaryDirectory() as root:
        for case, check, least in CHECKS:
            dump_folder = os.path.join(root, check.__name__)
            os.mkdir(dump_folder)
            if not run_dump_case(program, case, "CFIT_SKRF_DUMP", folder, dump_folder):
                failed += 1
                continue
            dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
            failures = check(dumps, folder) + ([f"{len(dumps)} dumps"] if len(dumps) < least else [])
            for failure in failures:
                print(f"FAIL  {check.__name__}: {failure}")
            print(f"{check.__name__}: {len(dumps)} compared, {len(failures)} disagree")
            failed += bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
