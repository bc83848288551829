import sys

from lexmill_cli.program import main

sys.exit(main())
