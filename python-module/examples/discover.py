"""Recovers y = exp(x0) - ln(2.5) from 40 samples and prints the Pareto front."""
import math
import time

import numpy as np

import vorn


def main():
    x0 = np.linspace(0.5, 2.0, 40)
    x = x0.reshape(-1, 1)
    y = np.array([math.exp(v) - math.log(2.5) for v in x0])

    started = time.perf_counter()
    result = vorn.Discoverer().fit(x, y)
    seconds = time.perf_counter() - started

    print(f"y = exp(x0) - ln(2.5) on {len(y)} points: {len(result)} front members in {seconds:.2f} s")
    for rank, solution in enumerate(result.top(len(result)), start=1):
        print(f"{rank}. mse={solution.mse:.6g}  complexity={solution.complexity}")
        print(f"   EML:   {solution.pretty}")
        print(f"   LaTeX: {solution.latex}")


if __name__ == "__main__":
    main()
