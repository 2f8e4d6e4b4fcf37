import ctypes
import importlib
import inspect
import subprocess
import sys

import numpy as np
import pytest

import vorn

DISCOVERER_SIGNATURE = (
    "(population=256, max_depth=3, max_epochs=1000, learning_rate=0.05, seed=0, top_k=5, "
    "lambda_complexity=..., lambda_sparsity=..., lambda_parsimony=...)"
)

DOCUMENTED = [
    pytest.param(
        vorn.Discoverer,
        DISCOVERER_SIGNATURE,
        "Differentiable symbolic discovery driver.\n\n"
        "Constructed with hyperparameters; call `fit` with NumPy arrays to run\n"
        "discovery. The expensive compute releases the GIL.",
        id="Discoverer",
    ),
    pytest.param(
        vorn.Discoverer.fit,
        "($self, x, y)",
        "Run discovery on `x` (2D, rows \u00d7 n_vars) and `y` (1D) NumPy float64 arrays.\n\n"
        "Returns a [`DiscoveryResult`]. Raises `ValueError` on shape/numeric errors.",
        id="Discoverer.fit",
    ),
    pytest.param(
        vorn.DiscoveryResult,
        None,
        "The Pareto front returned by `Discoverer::fit`.\n\n"
        "Wraps a [`vorn_core::ParetoFront`] and exposes convenient accessors for the\n"
        "top-`k` solutions.",
        id="DiscoveryResult",
    ),
    pytest.param(
        vorn.DiscoveryResult.top,
        "($self, k)",
        "Return the top-`k` Pareto-optimal solutions as [`PySolution`] objects.",
        id="DiscoveryResult.top",
    ),
    pytest.param(
        vorn.DiscoveryResult.top_latex,
        "($self, k)",
        "Return the LaTeX strings of the top-`k` Pareto-optimal solutions.",
        id="DiscoveryResult.top_latex",
    ),
    pytest.param(
        vorn.DiscoveryResult.top_sympy,
        "($self, k)",
        "Return the SymPy source strings of the top-`k` Pareto-optimal solutions.",
        id="DiscoveryResult.top_sympy",
    ),
    pytest.param(
        vorn.DiscoveryResult.best,
        "($self)",
        "Return the single best solution, or `None` if the front is empty.",
        id="DiscoveryResult.best",
    ),
    pytest.param(
        vorn.Solution,
        None,
        "A single discovered closed-form expression and its quality metrics.\n\n"
        "Instances are produced by [`DiscoveryResult`] accessors and are read-only.",
        id="Solution",
    ),
]


@pytest.mark.parametrize("obj, text_signature, doc", DOCUMENTED)
def test_docs_and_text_signatures(obj, text_signature, doc):
    assert obj.__doc__ == doc
    assert obj.__text_signature__ == text_signature


@pytest.mark.parametrize(
    "name, doc",
    [
        ("latex", "LaTeX rendering of the expression."),
        ("pretty", "Human-readable infix rendering of the expression."),
        ("rust_code", "Rust source code that evaluates the expression."),
        ("numpy_code", "NumPy/Python source code that evaluates the expression."),
        ("sympy_code", "SymPy source code that constructs the expression."),
        ("mse", "Mean squared error of the expression on the training data."),
        ("complexity", "Structural complexity (node count) of the expression."),
    ],
)
def test_solution_attribute_docs(name, doc):
    assert getattr(vorn.Solution, name).__doc__ == doc


def test_inspect_reads_the_signatures():
    parameters = inspect.signature(vorn.Discoverer).parameters
    assert list(parameters) == [
        "population", "max_depth", "max_epochs", "learning_rate", "seed", "top_k",
        "lambda_complexity", "lambda_sparsity", "lambda_parsimony",
    ]
    assert [p.default for p in parameters.values()][:6] == [256, 3, 1000, 0.05, 0, 5]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters.values())
    assert str(inspect.signature(vorn.Discoverer().fit)) == "(x, y)"
    assert str(inspect.signature(vorn.Discoverer.fit)) == "(self, /, x, y)"


def test_module_offers_exactly_its_three_classes_in_order():
    assert vorn.__doc__ == "The `vorn` Python extension module."
    names = [name for name in vars(vorn) if not (name.startswith("__") and name.endswith("__"))]
    assert names == ["Discoverer", "DiscoveryResult", "Solution"]
    assert [getattr(vorn, name).__module__ for name in names] == ["vorn"] * 3


def test_entry_point_returns_a_multi_phase_definition():
    # A single-phase entry point would return the module itself.
    entry = ctypes.PyDLL(vorn.__file__).PyInit_vorn
    entry.restype = ctypes.c_void_p  # a borrowed reference
    assert type(ctypes.cast(entry(), ctypes.py_object).value).__name__ == "moduledef"


def import_in_subinterpreter():
    """What `import vorn` in a fresh sub-interpreter raised, as text; "" if nothing."""
    try:
        interpreters = importlib.import_module("_interpreters")  # 3.13
    except ImportError:
        interpreters = importlib.import_module("_xxsubinterpreters")  # 3.12
    interpreter = interpreters.create()
    try:
        failure = interpreters.run_string(interpreter, "import vorn")  # 3.13 returns it
    except Exception as raised:  # 3.12 raises it
        failure = raised
    finally:
        interpreters.destroy(interpreter)
    return "" if failure is None else str(failure)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="3.11 has no way to decline sub-interpreters")
def test_module_declines_sub_interpreters():
    assert "module vorn does not support loading in subinterpreters" in import_in_subinterpreter()


def test_panic_exception_lives_outside_the_module():
    import vorn_runtime

    panic = vorn_runtime.PanicException
    assert (panic.__module__, panic.__name__) == ("vorn_runtime", "PanicException")
    assert sys.modules["vorn_runtime"] is vorn_runtime
    assert issubclass(panic, BaseException)
    assert not issubclass(panic, Exception)


def test_a_panic_in_native_code_raises_the_panic_exception():
    from vorn_runtime import PanicException

    # NumPy accepts this empty shape, the engine's arrays cannot address it.
    columns = 2**60 - 1
    discoverer = vorn.Discoverer(max_depth=1, max_epochs=10)
    with pytest.raises(PanicException) as caught:
        discoverer.fit(np.empty((0, columns)), np.empty(0))
    assert caught.value.args == (f"array shape [0, {columns}] holds more elements than memory can address",)
    # The object stays usable.
    assert len(discoverer.fit(np.ones((3, 1)), np.full(3, 2.0))) > 0


CBLAS = sorted(
    "cblas_" + name
    for name in (
        "sdot ddot cdotu_sub cdotc_sub zdotu_sub zdotc_sub snrm2 dnrm2 sasum dasum isamax idamax "
        "sswap dswap scopy dcopy saxpy daxpy sscal dscal sgemv dgemv sgemm dgemm cgemm zgemm "
        "ssymm dsymm ssyrk dsyrk ssyr2k dsyr2k strmm dtrmm strsm dtrsm"
    ).split()
)


def test_library_exports_only_the_entry_point_and_cblas():
    listing = subprocess.run(
        ["nm", "-D", "--defined-only", vorn.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = sorted(line.split()[-1] for line in listing.splitlines() if line.strip())
    assert len(CBLAS) == 36
    assert exported == sorted(["PyInit_vorn", *CBLAS])


def test_cblas_is_callable_from_the_module_file():
    library = ctypes.CDLL(vorn.__file__)
    doubles = ctypes.POINTER(ctypes.c_double)
    a = np.arange(1.0, 9.0)
    b = np.linspace(-2.0, 3.0, 4)

    ddot = library.cblas_ddot
    ddot.restype = ctypes.c_double
    ddot.argtypes = [ctypes.c_int, doubles, ctypes.c_int, doubles, ctypes.c_int]
    # Every second element of a against b.
    assert ddot(4, a.ctypes.data_as(doubles), 2, b.ctypes.data_as(doubles), 1) == np.dot(a[::2], b)

    m = a.reshape(2, 4)
    n = np.arange(12.0).reshape(4, 3)
    out = np.zeros((2, 3))
    dgemm = library.cblas_dgemm
    dgemm.restype = None
    row_major, no_trans = 101, 111
    dgemm(row_major, no_trans, no_trans, 2, 3, 4, ctypes.c_double(1.0), m.ctypes.data_as(doubles), 4,
          n.ctypes.data_as(doubles), 3, ctypes.c_double(0.0), out.ctypes.data_as(doubles), 3)
    np.testing.assert_array_equal(out, m @ n)
