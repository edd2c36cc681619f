#!/usr/bin/env bash
# Fails when a C++ file in the tree differs from the project's .clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-16 --dry-run -Werror
