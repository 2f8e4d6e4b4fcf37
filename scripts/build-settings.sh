# What every build script shares; sourced by them, not run.
# Warnings fail the build in CI only, where the compiler is the one the tree is kept clean for.
werror=OFF
[[ -n "${CI:-}" ]] && werror=ON
jobs=$(nproc)
# ctest's limit per test, far above the slowest test (seconds even under the sanitizers):
# only a hang reaches it, and it then fails that test instead of using up CI's time.
test_timeout=300
