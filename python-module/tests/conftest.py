import math
import os
import subprocess
import sys

import numpy as np
import pytest

import vorn

# y = x0^2 + 0.3 on twelve points: a fit of 100 epochs takes a few hundredths of a second
# and leaves a front of four members.
SQUARE_X = np.linspace(0.5, 2.0, 12).reshape(-1, 1)
SQUARE_Y = SQUARE_X[:, 0] ** 2 + 0.3


def summary(result):
    """Every member of a front, lowest error first, as comparable tuples."""
    return [(s.pretty, s.mse, s.complexity) for s in result.top(len(result))]


@pytest.fixture(scope="session")
def square_front():
    return vorn.Discoverer(max_epochs=100).fit(SQUARE_X, SQUARE_Y)


@pytest.fixture(scope="session")
def exp_data():
    # math.exp is the C library's exp, the one the engine evaluates with.
    x0 = np.linspace(-1.0, 1.0, 20)
    return x0.reshape(-1, 1), np.array([math.exp(v) for v in x0])


def run_python(source):
    """Runs `source` in a fresh interpreter of the same kind, with this vorn importable."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vorn.__file__), env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-c", source], env=env, capture_output=True, text=True, timeout=120)
