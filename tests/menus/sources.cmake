# Tests of this folder are listed here.
