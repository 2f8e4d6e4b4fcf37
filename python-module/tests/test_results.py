import sys

import numpy as np
import pytest

import vorn
from conftest import SQUARE_X, SQUARE_Y


def test_top_orders_by_error_and_the_three_selections_agree(square_front):
    assert len(square_front) == 4
    members = square_front.top(1000)
    assert len(members) == len(square_front)
    errors = [s.mse for s in members]
    assert errors == sorted(errors)
    assert square_front.top_latex(1000) == [s.latex for s in members]
    assert square_front.top_sympy(1000) == [s.sympy_code for s in members]
    assert [s.pretty for s in square_front.top(2)] == [s.pretty for s in members[:2]]


@pytest.mark.parametrize("method", ["top", "top_latex", "top_sympy"])
def test_top_zero_is_empty(square_front, method):
    assert getattr(square_front, method)(0) == []


@pytest.mark.parametrize(
    "k, error, message",
    [
        pytest.param(-1, OverflowError, "can't convert negative int to unsigned", id="negative"),
        pytest.param("2", TypeError, "'str' object cannot be interpreted as an integer", id="text"),
        pytest.param(2.0, TypeError, "'float' object cannot be interpreted as an integer", id="float"),
    ],
)
def test_k_conversion_errors(square_front, k, error, message):
    with pytest.raises(error) as caught:
        square_front.top_latex(k)
    assert str(caught.value) == message
    assert caught.value.__notes__ == ["while processing 'k'"]


def test_best_is_the_first_of_top(square_front):
    best, first = square_front.best(), square_front.top(1)[0]
    assert (best.pretty, best.mse, best.complexity) == (first.pretty, first.mse, first.complexity)
    assert best is not first


@pytest.mark.parametrize(
    "cls, message",
    [
        pytest.param(vorn.DiscoveryResult, "cannot create 'vorn.DiscoveryResult' instances", id="DiscoveryResult"),
        pytest.param(vorn.Solution, "cannot create 'vorn.Solution' instances", id="Solution"),
    ],
)
def test_result_classes_cannot_be_instantiated(cls, message):
    with pytest.raises(TypeError) as caught:
        cls()
    assert str(caught.value) == message


def test_solution_attributes_are_read_only_and_fresh(square_front):
    solution = square_front.best()
    assert solution.latex == solution.latex and solution.latex is not solution.latex
    with pytest.raises(AttributeError):
        solution.mse = 0.0
    assert type(solution.mse) is float and type(solution.complexity) is int


def test_repr_uses_positional_shortest_numbers(square_front):
    for solution in square_front.top(1000):
        number = np.format_float_positional(solution.mse, unique=True, trim="-")
        assert "e" not in number
        assert repr(solution) == f'Solution(pretty="{solution.pretty}", mse={number}, complexity={solution.complexity})'


def test_repr_of_an_exact_fit(exp_data):
    best = vorn.Discoverer(max_depth=1, max_epochs=10).fit(*exp_data).best()
    assert repr(best) == 'Solution(pretty="eml(x0, 1)", mse=0, complexity=3)'


def test_solutions_outlive_their_result():
    result = vorn.Discoverer(max_depth=1, max_epochs=10).fit(np.ones((3, 1)) * 2.0, np.full(3, 7.0))
    solution = result.best()
    expected = repr(solution)
    del result
    assert repr(solution) == expected and solution.latex


def test_reference_counts_stay_put():
    # Fresh results and solutions carry only their callers' references, every freed
    # instance gives back the reference it held on its class, and a fit keeps nothing of
    # its data.
    kept = [vorn.Discoverer, vorn.DiscoveryResult, vorn.Solution, SQUARE_X, SQUARE_Y]
    before = [sys.getrefcount(value) for value in kept]
    plain = object()
    only_a_name = sys.getrefcount(plain)
    for _ in range(10):
        result = vorn.Discoverer(max_depth=1, max_epochs=10).fit(SQUARE_X, SQUARE_Y)
        members = result.top(len(result))
        best = result.best()
        assert [sys.getrefcount(result), sys.getrefcount(best)] == [only_a_name] * 2
        # One more for the list.
        assert [sys.getrefcount(member) for member in members] == [only_a_name + 1] * len(members)
        del result, members, best
    assert [sys.getrefcount(value) for value in kept] == before
