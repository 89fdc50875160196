import os
import sys

# The tests share a plain-Python model of the allow-list rules kept beside them.
sys.path.insert(0, os.path.dirname(__file__))
