"""`python -m brevant`: the brevant-labeled converter."""

from brevant.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
